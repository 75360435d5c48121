// Reads .msg files back into message records. The input is untrusted: every
// count and offset is checked, values the record cannot hold are skipped,
// and memory stays bounded by the limits and the file size.
#include <algorithm>
#include <bit>
#include <fstream>
#include <new>

#include "byte_io.h"
#include "cfb.h"
#include "msg_names.h"

namespace ov::msgfile {

namespace {

using detail::LoadU16;
using detail::LoadU32;
using detail::LoadU64;

std::u16string Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::u16string Utf16FromBytes(const Bytes& bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(LoadU16(bytes.data() + i)));
    // Some writers keep the terminating NUL in the stream.
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

std::string String8FromBytes(const Bytes& bytes) {
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// Parses the 8-hex-digit number after a storage name prefix.
bool NumberAfterPrefix(const std::u16string& name, std::u16string_view prefix,
                       std::uint32_t& number) {
    if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    number = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        char16_t c = name[i];
        unsigned digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else
            return false;
        number = (number << 4) | digit;
    }
    return true;
}

class MsgReader {
public:
    explicit MsgReader(const ReadLimits& limits) : limits_(limits) {}

    Status Read(std::span<const std::uint8_t> file, Message& out) {
        if (file.size() > limits_.maxFileBytes)
            return {ErrorCode::kTooLarge, "the file is larger than the reader accepts"};
        if (Status s = cfb_.Open(file, limits_.maxDirectoryEntries); !s) return s;
        out = Message{};
        if (Status s = ReadObject(0, detail::kTopHeaderSize, out.properties); !s) return s;
        if (Status s = ReadNames(out.namedProperties); !s) return s;

        std::vector<std::pair<std::uint32_t, std::uint32_t>> recipients, attachments;
        const std::u16string recipientPrefix = Widen(detail::kRecipientPrefix);
        const std::u16string attachmentPrefix = Widen(detail::kAttachmentPrefix);
        for (std::uint32_t child : cfb_.entries()[0].children) {
            const cfb::Entry& entry = cfb_.entries()[child];
            if (entry.type != cfb::EntryType::kStorage) continue;
            std::uint32_t number;
            if (NumberAfterPrefix(entry.name, recipientPrefix, number))
                recipients.emplace_back(number, child);
            else if (NumberAfterPrefix(entry.name, attachmentPrefix, number))
                attachments.emplace_back(number, child);
        }
        if (recipients.size() > limits_.maxRecipients)
            return {ErrorCode::kTooLarge, "too many recipients"};
        if (attachments.size() > limits_.maxAttachments)
            return {ErrorCode::kTooLarge, "too many attachments"};
        std::sort(recipients.begin(), recipients.end());
        std::sort(attachments.begin(), attachments.end());
        for (auto [number, index] : recipients) {
            Recipient& recipient = out.recipients.emplace_back();
            if (Status s = ReadObject(index, detail::kChildHeaderSize, recipient.properties); !s)
                return s;
        }
        for (auto [number, index] : attachments) {
            Attachment& attachment = out.attachments.emplace_back();
            if (Status s = ReadObject(index, detail::kChildHeaderSize, attachment.properties); !s)
                return s;
        }
        return Status::Ok();
    }

private:
    // The stream of a value, or false when the file lacks it.
    bool ReadNamed(std::uint32_t storage, const std::string& name, Bytes& out, Status& status) {
        std::uint32_t index = cfb_.Find(storage, Widen(name));
        if (index == cfb::kNoStream || cfb_.entries()[index].type != cfb::EntryType::kStream)
            return false;
        status = cfb_.ReadStream(index, out);
        return status.ok();
    }

    Status ReadObject(std::uint32_t storage, std::size_t headerSize, PropertyList& out) {
        Bytes stream;
        Status status;
        if (!ReadNamed(storage, detail::kPropertiesStream, stream, status)) {
            if (!status) return status;
            return {ErrorCode::kCorrupt, "an object has no property stream"};
        }
        if (stream.size() < headerSize) return {ErrorCode::kCorrupt, "property stream too short"};
        for (std::size_t at = headerSize; at + detail::kPropertyEntrySize <= stream.size();
             at += detail::kPropertyEntrySize) {
            const std::uint8_t* entry = stream.data() + at;
            const PropTag tag = LoadU32(entry);
            const std::uint8_t* value = entry + 8;
            const std::uint16_t type = TagType(tag);
            switch (type) {
                case kPtI2:
                    out.push_back({tag, static_cast<std::int16_t>(LoadU16(value))});
                    continue;
                case kPtLong:
                    out.push_back({tag, static_cast<std::int32_t>(LoadU32(value))});
                    continue;
                case kPtBoolean:
                    out.push_back({tag, LoadU16(value) != 0});
                    continue;
                case kPtI8:
                    out.push_back({tag, static_cast<std::int64_t>(LoadU64(value))});
                    continue;
                case kPtDouble:
                    out.push_back({tag, std::bit_cast<double>(LoadU64(value))});
                    continue;
                case kPtSysTime:
                    out.push_back({tag, FileTime{LoadU64(value)}});
                    continue;
                case kPtUnicode:
                case kPtString8:
                case kPtBinary:
                case kPtClsid:
                case kPtMvLong:
                case kPtMvUnicode:
                case kPtMvString8:
                case kPtMvBinary:
                    break;
                default:
                    continue;  // a type the record has no place for
            }
            Bytes data;
            if (!ReadNamed(storage, detail::SubStreamName(tag), data, status)) {
                if (!status) return status;
                continue;
            }
            switch (type) {
                case kPtUnicode:
                    out.push_back({tag, Utf16FromBytes(data)});
                    break;
                case kPtString8:
                    out.push_back({tag, String8FromBytes(data)});
                    break;
                case kPtBinary:
                    out.push_back({tag, std::move(data)});
                    break;
                case kPtClsid:
                    if (data.size() == 16)
                        out.push_back({tag, Guid::FromBytes(std::span<const std::uint8_t, 16>(
                                                data.data(), 16))});
                    break;
                case kPtMvLong: {
                    std::vector<std::int32_t> values;
                    for (std::size_t i = 0; i + 4 <= data.size(); i += 4)
                        values.push_back(static_cast<std::int32_t>(LoadU32(data.data() + i)));
                    out.push_back({tag, std::move(values)});
                    break;
                }
                case kPtMvUnicode:
                case kPtMvString8:
                case kPtMvBinary: {
                    if (Status s = ReadMultiValue(storage, tag, data, out); !s) return s;
                    break;
                }
            }
        }
        return Status::Ok();
    }

    Status ReadMultiValue(std::uint32_t storage, PropTag tag, const Bytes& lengths,
                          PropertyList& out) {
        const std::uint16_t type = TagType(tag);
        const std::size_t stride = type == kPtMvBinary ? 8 : 4;
        const std::size_t count = lengths.size() / stride;
        std::vector<std::u16string> unicode;
        std::vector<std::string> ansi;
        std::vector<Bytes> binary;
        Status status;
        for (std::size_t i = 0; i < count; ++i) {
            Bytes value;
            if (!ReadNamed(storage, detail::SubStreamValueName(tag, static_cast<std::uint32_t>(i)),
                           value, status)) {
                if (!status) return status;
                return Status::Ok();  // incomplete: leave the property out
            }
            if (type == kPtMvUnicode)
                unicode.push_back(Utf16FromBytes(value));
            else if (type == kPtMvString8)
                ansi.push_back(String8FromBytes(value));
            else
                binary.push_back(std::move(value));
        }
        if (type == kPtMvUnicode)
            out.push_back({tag, std::move(unicode)});
        else if (type == kPtMvString8)
            out.push_back({tag, std::move(ansi)});
        else
            out.push_back({tag, std::move(binary)});
        return Status::Ok();
    }

    Status ReadNames(std::vector<NamedProperty>& out) {
        std::uint32_t storage = cfb_.Find(0, Widen(detail::kNameIdStorage));
        if (storage == cfb::kNoStream || cfb_.entries()[storage].type != cfb::EntryType::kStorage)
            return Status::Ok();
        Bytes guids, entries, strings;
        Status status;
        auto read = [&](std::uint32_t id, Bytes& into) {
            return ReadNamed(
                storage, detail::SubStreamName(MakeTag(static_cast<std::uint16_t>(id), kPtBinary)),
                into, status);
        };
        if (!read(detail::kEntryStreamId, entries)) return status;
        read(detail::kGuidStreamId, guids);
        if (!status) return status;
        read(detail::kStringStreamId, strings);
        if (!status) return status;
        for (std::size_t at = 0; at + 8 <= entries.size(); at += 8) {
            const std::uint32_t key = LoadU32(entries.data() + at);
            const std::uint32_t indexAndKind = LoadU32(entries.data() + at + 4);
            const std::uint32_t propertyIndex = indexAndKind >> 16;
            const std::uint16_t guidIndex = (indexAndKind >> 1) & 0x7FFF;
            if (propertyIndex >= detail::kMaxNamedProperties) continue;
            NamedProperty name;
            name.id = static_cast<std::uint16_t>(kFirstNamedId + propertyIndex);
            if (guidIndex == detail::kGuidIndexPsMapi) {
                name.propertySet = kPsMapi;
            } else if (guidIndex == detail::kGuidIndexPublicStrings) {
                name.propertySet = kPsPublicStrings;
            } else {
                std::size_t offset =
                    static_cast<std::size_t>(guidIndex - detail::kFirstStreamGuidIndex) * 16;
                if (guidIndex < detail::kFirstStreamGuidIndex || offset + 16 > guids.size())
                    continue;
                name.propertySet =
                    Guid::FromBytes(std::span<const std::uint8_t, 16>(guids.data() + offset, 16));
            }
            if (indexAndKind & 1) {
                name.kind = NameKind::kString;
                if (key > strings.size() || strings.size() - key < 4) continue;
                const std::uint32_t length = LoadU32(strings.data() + key);
                if (length > strings.size() - key - 4) continue;
                for (std::uint32_t i = 0; i + 1 < length; i += 2)
                    name.name.push_back(
                        static_cast<char16_t>(LoadU16(strings.data() + key + 4 + i)));
            } else {
                name.kind = NameKind::kId;
                name.lid = key;
            }
            out.push_back(std::move(name));
        }
        return Status::Ok();
    }

    ReadLimits limits_;
    cfb::Reader cfb_;
};

}  // namespace

Status ReadMsgFile(std::span<const std::uint8_t> file, Message& out,
                   const ReadLimits& limits) noexcept {
    try {
        MsgReader reader(limits);
        Status status = reader.Read(file, out);
        if (!status) out = Message{};
        return status;
    } catch (const std::bad_alloc&) {
        out = Message{};
        return {ErrorCode::kOutOfMemory, "out of memory while reading the .msg file"};
    } catch (...) {
        out = Message{};
        return {ErrorCode::kCorrupt, "cannot read the .msg file"};
    }
}

Status ReadMsgFile(const std::filesystem::path& path, Message& out,
                   const ReadLimits& limits) noexcept {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return {ErrorCode::kIoError, "cannot open " + path.string()};
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size < 0) return {ErrorCode::kIoError, "cannot read " + path.string()};
        if (static_cast<std::uintmax_t>(size) > limits.maxFileBytes)
            return {ErrorCode::kTooLarge, path.string() + " is larger than the reader accepts"};
        in.seekg(0, std::ios::beg);
        Bytes bytes(static_cast<std::size_t>(size));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
            return {ErrorCode::kIoError, "cannot read " + path.string()};
        return ReadMsgFile(bytes, out, limits);
    } catch (const std::bad_alloc&) {
        return {ErrorCode::kOutOfMemory, "out of memory while reading " + path.string()};
    } catch (...) {
        return {ErrorCode::kIoError, "cannot read " + path.string()};
    }
}

}  // namespace ov::msgfile
