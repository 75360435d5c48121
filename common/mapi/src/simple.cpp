// Simple MAPI's MAPISendDocuments: the client's compose window on a new
// message with the files attached.
#include <cstring>

#include "internal.h"
#include "ovmapi/mapi.h"
#include "ovplatform/platform.h"

namespace ovmapi::detail {
ProfilePtr ProfileOfSession(LPMAPISESSION session);
}  // namespace ovmapi::detail

using namespace ovmapi::detail;

namespace {

std::vector<std::string> Split(std::string_view text, char delimiter) {
    std::vector<std::string> parts;
    while (!text.empty()) {
        std::size_t at = text.find(delimiter);
        std::string_view part = text.substr(0, at);
        if (!part.empty()) parts.emplace_back(part);
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return parts;
}

// Attaches one file; a Simple MAPI code.
ULONG AttachFile(LPMESSAGE message, const std::string& path, const std::string& name) {
    Ref<IStream> file;
    if (FAILED(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ | STGM_SHARE_DENY_WRITE, path.c_str(),
                                nullptr, file.out())))
        return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    Ref<IAttach> attach;
    ULONG number = 0;
    if (FAILED(message->CreateAttach(nullptr, 0, &number, attach.out()))) return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    Ref<IUnknown> opened;
    if (FAILED(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_WRITE, MAPI_CREATE | MAPI_MODIFY,
                                    opened.out())))
        return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    auto* data = static_cast<IStream*>(opened.get());
    ULARGE_INTEGER all;
    all.QuadPart = ~0ull;
    ULARGE_INTEGER read{}, written{};
    if (FAILED(file->CopyTo(data, all, &read, &written)) || read.QuadPart != written.QuadPart || FAILED(data->Commit(0)))
        return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    SPropValue values[4] = {};
    values[0].ulPropTag = PR_ATTACH_METHOD;
    values[0].Value.l = ATTACH_BY_VALUE;
    values[1].ulPropTag = PR_ATTACH_FILENAME_A;
    values[1].Value.lpszA = const_cast<LPSTR>(name.c_str());
    values[2].ulPropTag = PR_ATTACH_LONG_FILENAME_A;
    values[2].Value.lpszA = const_cast<LPSTR>(name.c_str());
    values[3].ulPropTag = PR_DISPLAY_NAME_A;
    values[3].Value.lpszA = const_cast<LPSTR>(name.c_str());
    if (FAILED(attach->SetProps(4, values, nullptr)) || FAILED(attach->SaveChanges(0)))
        return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    return SUCCESS_SUCCESS;
}

ULONG SendDocuments(LPSTR delimiter, LPSTR paths, LPSTR names) {
    char separator = (delimiter != nullptr && *delimiter != '\0') ? *delimiter : ';';
    std::vector<std::string> files = Split(paths ? paths : "", separator);
    std::vector<std::string> titles = Split(names ? names : "", separator);
    Ref<IMAPISession> session;
    if (FAILED(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT | MAPI_EXTENDED, session.out()))) return MAPI_E_LOGIN_FAILURE;
    ProfilePtr profile = ProfileOfSession(session.get());
    std::uint32_t storeId = 0;
    std::int64_t drafts = 0;
    if (!profile || FAILED(profile->DefaultStore(storeId)) || FAILED(profile->FolderByRole(storeId, "drafts", drafts)))
        return MAPI_E_FAILURE;
    std::vector<BYTE> folderEntry = MakeEntryId(profile->StoreUid(), MAPI_FOLDER, storeId, drafts);
    Ref<IUnknown> opened;
    ULONG type = 0;
    if (FAILED(session->OpenEntry(static_cast<ULONG>(folderEntry.size()), reinterpret_cast<LPENTRYID>(folderEntry.data()),
                                  &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, opened.out())))
        return MAPI_E_FAILURE;
    auto* folder = static_cast<IMAPIFolder*>(static_cast<IMAPIProp*>(opened.get()));
    Ref<IMessage> message;
    if (FAILED(folder->CreateMessage(nullptr, 0, message.out()))) return MAPI_E_FAILURE;
    SPropValue messageClass{};
    messageClass.ulPropTag = PR_MESSAGE_CLASS_A;
    messageClass.Value.lpszA = const_cast<LPSTR>("IPM.Note");
    if (FAILED(HrSetOneProp(message.get(), &messageClass))) return MAPI_E_FAILURE;
    for (std::size_t n = 0; n < files.size(); ++n) {
        std::string name = n < titles.size() ? titles[n] : std::string(ov::BaseName(files[n]));
        if (ULONG result = AttachFile(message.get(), files[n], name); result != SUCCESS_SUCCESS) return result;
    }
    HRESULT hr = PlayForm(session.get(), message.get(), "IPM.Note", true);
    session->Logoff(0, 0, 0);
    if (hr == MAPI_E_USER_CANCEL) return MAPI_USER_ABORT;
    if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return MAPI_E_INSUFFICIENT_MEMORY;
    return FAILED(hr) ? MAPI_E_FAILURE : SUCCESS_SUCCESS;
}

}  // namespace

extern "C" ULONG MAPISendDocuments(ULONG_PTR ulUIParam, LPSTR lpszDelimChar, LPSTR lpszFilePaths, LPSTR lpszFileNames,
                                   ULONG ulReserved) {
    (void)ulUIParam;
    (void)ulReserved;
    HRESULT fault = ovmapi::faults::Check("MAPISendDocuments");
    if (FAILED(fault)) return MAPI_E_FAILURE;
    if (FAILED(MAPIInitialize(nullptr))) return MAPI_E_FAILURE;
    ULONG result = MAPI_E_FAILURE;
    HRESULT hr = Guarded([&] {
        result = SendDocuments(lpszDelimChar, lpszFilePaths, lpszFileNames);
        return S_OK;
    });
    MAPIUninitialize();
    return FAILED(hr) ? MAPI_E_INSUFFICIENT_MEMORY : result;
}
