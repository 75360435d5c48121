// One-off entry identifiers (MS-OXCDATA 2.2.5.1): a recipient described by
// its own strings instead of an address-book entry.
#include <algorithm>
#include <new>

#include "byte_io.h"
#include "ovmsgfile/msgfile.h"

namespace ov::msgfile {

namespace {

constexpr std::size_t kFixedPart = 4 + 16 + 2 + 2;  // flags, provider, version, flags word

void PutHead(Bytes& out, std::uint16_t flags) {
    detail::PutU32(out, 0);
    out.insert(out.end(), kOneOffProviderUid.begin(), kOneOffProviderUid.end());
    detail::PutU16(out, 0);
    detail::PutU16(out, flags);
}

}  // namespace

std::optional<Bytes> BuildOneOffEntryId(std::u16string_view displayName,
                                        std::u16string_view addressType,
                                        std::u16string_view emailAddress,
                                        std::uint16_t flags) noexcept {
    for (auto text : {displayName, addressType, emailAddress})
        if (text.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    try {
        Bytes out;
        out.reserve(kFixedPart +
                    2 * (displayName.size() + addressType.size() + emailAddress.size() + 3));
        PutHead(out, static_cast<std::uint16_t>(flags | kOneOffUnicode));
        for (auto text : {displayName, addressType, emailAddress}) {
            detail::PutUtf16(out, text);
            detail::PutU16(out, 0);
        }
        return out;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<Bytes> BuildOneOffEntryIdAnsi(std::string_view displayName,
                                            std::string_view addressType,
                                            std::string_view emailAddress,
                                            std::uint16_t flags) noexcept {
    for (auto text : {displayName, addressType, emailAddress})
        if (text.find('\0') != std::string_view::npos) return std::nullopt;
    try {
        Bytes out;
        out.reserve(kFixedPart + displayName.size() + addressType.size() + emailAddress.size() + 3);
        PutHead(out, static_cast<std::uint16_t>(flags & ~kOneOffUnicode));
        for (auto text : {displayName, addressType, emailAddress}) {
            out.insert(out.end(), text.begin(), text.end());
            out.push_back(0);
        }
        return out;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<OneOffEntryId> ParseOneOffEntryId(std::span<const std::uint8_t> entryId) noexcept {
    try {
        if (entryId.size() < kFixedPart) return std::nullopt;
        if (!std::equal(kOneOffProviderUid.begin(), kOneOffProviderUid.end(), entryId.begin() + 4))
            return std::nullopt;
        OneOffEntryId result;
        result.flags = detail::LoadU16(entryId.data() + 22);
        const bool unicode = (result.flags & kOneOffUnicode) != 0;
        std::size_t at = kFixedPart;
        // Each string must end with its NUL inside the identifier.
        auto next = [&](std::u16string& text) -> bool {
            if (unicode) {
                for (;;) {
                    if (at + 2 > entryId.size()) return false;
                    char16_t c = static_cast<char16_t>(detail::LoadU16(entryId.data() + at));
                    at += 2;
                    if (c == 0) return true;
                    text.push_back(c);
                }
            }
            auto end =
                std::find(entryId.begin() + static_cast<std::ptrdiff_t>(at), entryId.end(), 0);
            if (end == entryId.end()) return false;
            std::string_view bytes(reinterpret_cast<const char*>(entryId.data()) + at,
                                   static_cast<std::size_t>(end - entryId.begin()) - at);
            text = Windows1252ToUtf16(bytes);
            at += bytes.size() + 1;
            return true;
        };
        if (!next(result.displayName) || !next(result.addressType) || !next(result.emailAddress))
            return std::nullopt;
        return result;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace ov::msgfile
