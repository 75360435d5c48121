// Hexadecimal entry identifiers as the forms hand them over: decoded and
// opened through the session and the address book, compared with a known
// one-off, on a profile with one message.
#include <cstdint>
#include <string_view>

#include "fuzz_prefix.h"
#include "ovmapi/mapiutil.h"

namespace {

struct Profile {
    IMAPISession* session = nullptr;
    IAddrBook* book = nullptr;
    Profile() {
        mapifuzz::FuzzPrefix();
        if (FAILED(MAPIInitialize(nullptr)) || FAILED(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session)) ||
            FAILED(session->OpenAddressBook(0, nullptr, 0, &book)))
            std::abort();
    }
    ~Profile() {
        if (book) book->Release();
        if (session) session->Release();
        MAPIUninitialize();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Profile profile;
    std::vector<BYTE> id;
    if (!ovmapi::BinFromHex(std::string_view(reinterpret_cast<const char*>(data), size), id)) return 0;
    LPENTRYID entry = id.empty() ? nullptr : reinterpret_cast<LPENTRYID>(id.data());
    ULONG cb = static_cast<ULONG>(id.size());
    IUnknown* opened = nullptr;
    ULONG type = 0;
    if (SUCCEEDED(profile.session->OpenEntry(cb, entry, nullptr, 0, &type, &opened))) {
        auto* object = reinterpret_cast<IMAPIProp*>(opened);
        ULONG count = 0;
        LPSPropValue values = nullptr;
        if (SUCCEEDED(object->GetProps(nullptr, 0, &count, &values))) MAPIFreeBuffer(values);
        opened->Release();
    }
    if (SUCCEEDED(profile.book->OpenEntry(cb, entry, nullptr, 0, &type, &opened))) opened->Release();
    ULONG oneOffSize = 0;
    LPENTRYID oneOff = nullptr;
    if (SUCCEEDED(profile.book->CreateOneOff(const_cast<LPSTR>("Ann"), const_cast<LPSTR>("FAX"),
                                             const_cast<LPSTR>("+1555"), 0, &oneOffSize, &oneOff))) {
        ULONG same = 0;
        profile.book->CompareEntryIDs(cb, entry, oneOffSize, oneOff, 0, &same);
        MAPIFreeBuffer(oneOff);
    }
    return 0;
}
