// CreateFaxMsg: one settings record becomes a fax message in the default
// store's receive folder, stamped with the fax property set, addressed to
// one-off fax recipients, with its body and attachments, and then submitted,
// saved or opened in a form. The fax server reads what is stamped here.
#include <cstring>
#include <exception>
#include <string>

#include "faxmsg/faxmsg.h"
#include "faxmsg/propset.h"
#include "faxmsg/rtf_streams.h"
#include "mapi_holders.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/mapix.h"

namespace faxmsg {
namespace {

using detail::AdrList;
using detail::Com;
using detail::MapiBuffer;
using detail::OutBuffer;
using detail::Rows;

constexpr const char* kFaxAddressType = "ORVANE";
constexpr ULONG kFormFlags = MSGFLAG_READ | MSGFLAG_UNSENT;
constexpr ULONG kRecipientValueCount = 6;
constexpr ULONG PR_FAX_RECIPIENT_MARK = PROP_TAG(PT_LONG, 0x6662);

SPropValue Text(ULONG tag, const char* text) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char*>(text);
    return value;
}
SPropValue Long(ULONG tag, LONG number) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.l = number;
    return value;
}
SPropValue Bool(ULONG tag, bool flag) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.b = flag ? 1 : 0;
    return value;
}
SPropValue Binary(ULONG tag, ULONG size, BYTE* bytes) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin = {size, bytes};
    return value;
}

const char* OrSpace(const char* text) { return text != nullptr ? text : " "; }

// The file name of a path: what follows the last "\" or "/".
const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    return base;
}

// Copies a text into the block of values with MAPIAllocateMore.
HRESULT CopyMore(const char* text, void* block, char*& copy) {
    std::size_t size = std::strlen(text) + 1;
    void* room = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(size), block, &room))) return E_OUTOFMEMORY;
    std::memcpy(room, text, size);
    copy = static_cast<char*>(room);
    return S_OK;
}

// Appends one one-off recipient to an address list (replaced by a list one
// entry longer).
HRESULT AppendRecipient(IAddrBook* book, AdrList& list, const char* name, const char* type,
                        const char* address, ULONG recipientType) {
    if (address == nullptr) return E_INVALIDARG;
    if (name == nullptr) name = address;

    MapiBuffer<SPropValue> values;
    {
        void* block = nullptr;
        if (FAILED(MAPIAllocateBuffer(kRecipientValueCount * sizeof(SPropValue), &block)))
            return E_OUTOFMEMORY;
        values.reset(static_cast<SPropValue*>(block));
    }
    ULONG idSize = 0;
    MapiBuffer<ENTRYID> entryId;
    HRESULT created =
        book->CreateOneOff(const_cast<LPSTR>(name), const_cast<LPSTR>(type),
                           const_cast<LPSTR>(address), 0, &idSize, OutBuffer<ENTRYID>(entryId));
    if (FAILED(created) || !entryId) return E_FAIL;

    SPropValue* v = values.get();
    char* addressCopy = nullptr;
    char* nameCopy = nullptr;
    char* typeCopy = nullptr;
    void* idCopy = nullptr;
    if (FAILED(CopyMore(address, v, addressCopy)) || FAILED(CopyMore(name, v, nameCopy)) ||
        FAILED(CopyMore(type, v, typeCopy)) || FAILED(MAPIAllocateMore(idSize, v, &idCopy)))
        return E_OUTOFMEMORY;
    std::memcpy(idCopy, entryId.get(), idSize);
    v[0] = Text(PR_EMAIL_ADDRESS_A, addressCopy);
    v[1] = Long(PR_RECIPIENT_TYPE, static_cast<LONG>(recipientType));
    v[2] = Text(PR_DISPLAY_NAME_A, nameCopy);
    v[3] = Binary(PR_ENTRYID, idSize, static_cast<BYTE*>(idCopy));
    v[4] = Text(PR_ADDRTYPE_A, typeCopy);
    v[5] = Long(PR_FAX_RECIPIENT_MARK, -1);

    LPSPropValue entryValues = nullptr;
    if (FAILED(ScDupPropset(kRecipientValueCount, v, MAPIAllocateBuffer, &entryValues)))
        return E_OUTOFMEMORY;
    MapiBuffer<SPropValue> ownedEntry(entryValues);

    ULONG present = list ? list->cEntries : 0;
    void* grown = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(present + 1)), &grown)))
        return E_OUTOFMEMORY;
    auto* next = static_cast<ADRLIST*>(grown);
    next->cEntries = present + 1;
    for (ULONG n = 0; n < present; ++n) next->aEntries[n] = list->aEntries[n];
    next->aEntries[present].ulReserved1 = 0;
    next->aEntries[present].cValues = kRecipientValueCount;
    next->aEntries[present].rgPropVals = ownedEntry.release();
    // The entries moved over: only the old array goes.
    MAPIFreeBuffer(list.release());
    list.reset(next);
    return S_OK;
}

// Attaches one file by value. Any failed step gives E_FAIL.
HRESULT AttachFile(IMessage* message, const char* path) {
    ULONG number = 0;
    Com<IAttach> attach;
    if (FAILED(message->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &number, attach.out())))
        return E_FAIL;
    Com<IStream> data;
    if (FAILED(HrOpenPropertyStream(attach.get(), PR_ATTACH_DATA_BIN,
                                    MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS, data.out())))
        return E_FAIL;
    Com<IStream> file;
    if (FAILED(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer,
                                STGM_READ | STGM_SHARE_EXCLUSIVE, path, "", file.out())))
        return E_FAIL;
    ULARGE_INTEGER all;
    all.QuadPart = ~0ULL;
    ULARGE_INTEGER read{}, written{};
    if (FAILED(file->CopyTo(data.get(), all, &read, &written)) ||
        read.QuadPart != written.QuadPart || FAILED(data->Commit(0)))
        return E_FAIL;
    const char* name = BaseName(path);
    SPropValue values[5] = {
        Text(PR_ATTACH_FILENAME_A, name), Text(PR_ATTACH_LONG_FILENAME_A, name),
        Text(PR_DISPLAY_NAME_A, name),    Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
        Long(PR_RENDERING_POSITION, -1),
    };
    MapiBuffer<SPropProblemArray> problems;
    HRESULT set = attach->SetProps(5, values, OutBuffer<SPropProblemArray>(problems));
    if (FAILED(set) || problems) return E_FAIL;
    if (FAILED(attach->SaveChanges(MAPI_DEFERRED_ERRORS))) return E_FAIL;
    return S_OK;
}

class FaxBuild {
public:
    FaxBuild(HWND window, const tagMsgSettings& settings) : window_(window), settings_(settings) {}
    FaxBuild(const FaxBuild&) = delete;
    FaxBuild& operator=(const FaxBuild&) = delete;

    // Clean-up in the order the mail system expects: lists and values, the
    // objects from the inside out, then the session and MAPI itself.
    ~FaxBuild() {
        recipients_.reset();
        sentMail_.reset();
        message_.reset();
        folder_.reset();
        store_.reset();
        book_.reset();
        if (session_) session_->Logoff(0, 0, 0);
        session_.reset();
        if (initialized_) MAPIUninitialize();
    }

    int Run() {
        // Step: start the mail system. Nothing to clean up when it fails.
        if (Failed(MAPIInitialize(nullptr))) return FAXMSG_E_INIT;
        initialized_ = true;
        if (Failed(MAPILogonEx(0, nullptr, nullptr,
                               MAPI_LOGON_UI | MAPI_ALLOW_OTHERS | MAPI_USE_DEFAULT,
                               session_.out())))
            return FAXMSG_E_LOGON;
        if (Failed(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, book_.out())))
            return FAXMSG_E_ADDRBOOK;
        if (Failed(OpenDefaultStore())) return FAXMSG_E_STORE;
        if (Failed(OpenReceiveFolder())) return FAXMSG_E_INBOX;
        if (Failed(folder_->CreateMessage(nullptr, 0, message_.out()))) return FAXMSG_E_CREATE;
        if (!ReadSentMailId()) return FAXMSG_E_INITMSG;
        if (Failed(MapFaxPropertySet(message_.get(), tags_))) return FAXMSG_E_INITMSG;
        if (Failed(Stamp())) return FAXMSG_E_INITMSG;
        BOOL updated = FALSE;
        if (Failed(RTFSync(message_.get(), RTF_SYNC_BODY_CHANGED, &updated)))
            return FAXMSG_E_INITMSG;
        for (LONG n = 0; n < settings_.GetRecipCnt(); ++n) {
            const char* recipient = settings_.GetRecip(n);
            if (Failed(AppendRecipient(book_.get(), recipients_, recipient, kFaxAddressType,
                                       recipient, MAPI_TO)))
                return FAXMSG_E_RECIPS;
        }
        if (settings_.GetBody() != nullptr && settings_.DoBodyFile() != 0) {
            if (Failed(HrBodyFromTextFile(message_.get(), settings_.GetBody())))
                return FAXMSG_E_BODYFILE;
        }
        if (recipients_ && recipients_->cEntries > 0) {
            if (Failed(message_->ModifyRecipients(0, recipients_.get()))) return FAXMSG_E_RECIPS;
        }
        for (LONG n = 0; n < settings_.GetAttachCnt(); ++n) {
            const char* path = settings_.GetAttach(n);
            if (path == nullptr || Failed(AttachFile(message_.get(), path))) {
                last_ = E_FAIL;
                failedFile_ = path;
                return FAXMSG_E_ATTACH;
            }
        }
        ULONG formFlags = kFormFlags;
        if (settings_.GetAttachCnt() > 0) formFlags |= MSGFLAG_HASATTACH;
        return Dispose(formFlags);
    }

    LONG extendedError() const { return last_; }
    const char* failedFile() const { return failedFile_; }

private:
    // Records the result of a mail-system step; true when it failed.
    bool Failed(HRESULT hr) {
        last_ = hr;
        return FAILED(hr);
    }

    HRESULT OpenDefaultStore() {
        Com<IMAPITable> table;
        HRESULT hr = session_->GetMsgStoresTable(0, table.out());
        if (FAILED(hr)) return hr;
        SizedSPropTagArray(5, columns) = {5,
                                          {PR_ENTRYID, PR_MDB_PROVIDER, PR_DISPLAY_NAME_A,
                                           PR_PROVIDER_DISPLAY_A, PR_DEFAULT_STORE}};
        if (hr = table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH);
            FAILED(hr))
            return hr;
        Rows taken;
        for (;;) {
            LPSRowSet raw = nullptr;
            if (hr = table->QueryRows(1, 0, &raw); FAILED(hr)) return hr;
            Rows rows(raw);
            if (!rows || rows->cRows == 0) break;
            const SRow& row = rows->aRow[0];
            if (row.cValues >= 5 && row.lpProps[4].ulPropTag == PR_DEFAULT_STORE &&
                row.lpProps[4].Value.b != 0) {
                taken = std::move(rows);
                break;
            }
        }
        if (!taken) return MAPI_E_NOT_FOUND;
        const SPropValue* values = taken->aRow[0].lpProps;
        if (values[0].ulPropTag != PR_ENTRYID || values[1].ulPropTag != PR_MDB_PROVIDER ||
            values[3].ulPropTag != PR_PROVIDER_DISPLAY_A)
            return MAPI_E_NOT_FOUND;
        return session_->OpenMsgStore(
            0, values[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb),
            nullptr, MDB_NO_DIALOG | MDB_WRITE | MAPI_DEFERRED_ERRORS, store_.out());
    }

    HRESULT OpenReceiveFolder() {
        ULONG size = 0;
        MapiBuffer<ENTRYID> entryId;
        HRESULT hr =
            store_->GetReceiveFolder(nullptr, 0, &size, OutBuffer<ENTRYID>(entryId), nullptr);
        if (FAILED(hr)) return hr;
        ULONG type = 0;
        Com<IUnknown> opened;
        hr = store_->OpenEntry(size, entryId.get(), nullptr,
                               MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS, &type, opened.out());
        if (FAILED(hr)) return hr;
        if (type != MAPI_FOLDER) return MAPI_E_INVALID_OBJECT;
        HRESULT asked =
            opened->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder_.out()));
        return FAILED(asked) ? asked : hr;
    }

    bool ReadSentMailId() {
        SizedSPropTagArray(1, tags) = {1, {PR_IPM_SENTMAIL_ENTRYID}};
        ULONG count = 0;
        HRESULT hr = store_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count,
                                      OutBuffer<SPropValue>(sentMail_));
        last_ = hr;
        return SUCCEEDED(hr) && sentMail_ && count == 1 &&
               PROP_TYPE(sentMail_->ulPropTag) != PT_ERROR;
    }

    HRESULT Stamp() {
        const char* subject = settings_.GetSubject() != nullptr ? settings_.GetSubject() : "";
        const char* body = settings_.GetBody();
        if (settings_.DoBodyFile() != 0 || body == nullptr || body[0] == '\0') body = " ";
        const char* messageClass =
            settings_.GetMsgClass() != nullptr ? settings_.GetMsgClass() : kClassNote;
        SPropValue values[17] = {
            Text(PR_MESSAGE_CLASS_A, messageClass),
            Bool(tags_[kMsExchange01], false),
            Binary(PR_SENTMAIL_ENTRYID, sentMail_->Value.bin.cb, sentMail_->Value.bin.lpb),
            Long(PR_SENSITIVITY, SENSITIVITY_NONE),
            Long(PR_IMPORTANCE, IMPORTANCE_NORMAL),
            Text(PR_SUBJECT_A, subject),
            Text(PR_NORMALIZED_SUBJECT_A, subject),
            Text(PR_BODY_A, body),
            Bool(PR_RTF_IN_SYNC, true),
            Binary(PR_RTF_COMPRESSED, 0, nullptr),
        };
        ULONG count = 10;
        if (settings_.DoExSettings() != 0) {
            values[count++] = Text(tags_[kOrvaneSign], kOrvaneSignValue);
            values[count++] = Bool(tags_[kCvrPage], settings_.GetFCvrName() != nullptr);
            values[count++] = Bool(tags_[kHighRes], settings_.GetRes() > 0);
            values[count++] = Text(tags_[kCvrPageName], OrSpace(settings_.GetFCvrName()));
            values[count++] = Text(tags_[kTmplName], OrSpace(settings_.GetCvrName()));
            values[count++] = Text(tags_[kBillCode], OrSpace(settings_.GetBillCode()));
            if (settings_.GetSchedTime() == nullptr && settings_.GetSchedFT() != nullptr) {
                SPropValue when{};
                when.ulPropTag = tags_[kScheduleFT];
                when.Value.ft = *settings_.GetSchedFT();
                values[count++] = when;
            } else {
                values[count++] = Text(tags_[kScheduleTime], OrSpace(settings_.GetSchedTime()));
            }
        }
        return message_->SetProps(count, values, nullptr);
    }

    int Dispose(ULONG formFlags) {
        if (settings_.DoMsgSend() != 0) {
            if (!Failed(message_->SubmitMessage(FORCE_SUBMIT))) return FAXMSG_OK;
            if (settings_.DoMsgSave() != 0)
                return Failed(message_->SaveChanges(FORCE_SAVE)) ? FAXMSG_E_SAVE : FAXMSG_OK;
            if (settings_.DoMsgEdit() != 0) return OpenForm(formFlags);
            return FAXMSG_E_SUBMIT;
        }
        if (settings_.DoMsgEdit() != 0 && settings_.DoMsgSave() == 0) return OpenForm(formFlags);
        return Failed(message_->SaveChanges(FORCE_SAVE)) ? FAXMSG_E_SAVE : FAXMSG_OK;
    }

    int OpenForm(ULONG formFlags) {
        ULONG token = 0;
        if (Failed(session_->PrepareForm(&IID_IMessage, message_.get(), &token)))
            return FAXMSG_E_FORM;
        message_.reset();
        const char* messageClass =
            settings_.GetMsgClass() != nullptr ? settings_.GetMsgClass() : kClassNote;
        HRESULT hr = session_->ShowForm(
            reinterpret_cast<ULONG_PTR>(window_), store_.get(), folder_.get(), &IID_IMessage, token,
            nullptr, MAPI_NEW_MESSAGE, 0, formFlags, MAPI_ACCESS_MODIFY | MAPI_ACCESS_READ,
            const_cast<LPSTR>(messageClass));
        if (hr == MAPI_E_USER_CANCEL) {
            last_ = 0;
            return FAXMSG_OK;
        }
        return Failed(hr) ? FAXMSG_E_FORM : FAXMSG_OK;
    }

    HWND window_;
    const tagMsgSettings& settings_;
    bool initialized_ = false;
    Com<IMAPISession> session_;
    Com<IAddrBook> book_;
    Com<IMsgStore> store_;
    Com<IMAPIFolder> folder_;
    Com<IMessage> message_;
    MapiBuffer<SPropValue> sentMail_;
    FaxPropTags tags_;
    AdrList recipients_;
    LONG last_ = 0;
    const char* failedFile_ = nullptr;
};

}  // namespace
}  // namespace faxmsg

extern "C" FAXMSG_API int CreateFaxMsg(HWND window, const tagMsgSettings* settings,
                                       LONG* extendedError, const char** failedFile) {
    LONG ignoredError = 0;
    const char* ignoredFile = nullptr;
    if (extendedError == nullptr) extendedError = &ignoredError;
    if (failedFile == nullptr) failedFile = &ignoredFile;
    *extendedError = 0;
    *failedFile = nullptr;
    // Without a record there is no message to initialise; nothing of the mail
    // system is touched.
    if (settings == nullptr) {
        *extendedError = E_INVALIDARG;
        return FAXMSG_E_INITMSG;
    }
    int code = FAXMSG_E_INITMSG;
    LONG last = E_UNEXPECTED;
    const char* failed = nullptr;
    try {
        faxmsg::FaxBuild build(window, *settings);
        code = build.Run();
        last = build.extendedError();
        failed = build.failedFile();
    } catch (...) {
        // Only allocation inside this library can throw; what was built is
        // released by the build's destructor.
        last = E_OUTOFMEMORY;
    }
    *extendedError = last;
    if (code == FAXMSG_E_ATTACH) *failedFile = failed;
    return code;
}
