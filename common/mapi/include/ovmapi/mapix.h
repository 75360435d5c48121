// Starting the mail system, logging on, the session and the allocation
// functions.
#pragma once

#include "ovmapi/mapidefs.h"

struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};
using LPMAPIINIT_0 = MAPIINIT_0*;
constexpr ULONG MAPI_INIT_VERSION = 0;
constexpr ULONG MAPI_MULTITHREAD_NOTIFICATIONS = 0x00000001;

using LPALLOCATEBUFFER = SCODE (*)(ULONG cbSize, LPVOID* lppBuffer);
using LPALLOCATEMORE = SCODE (*)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
using LPFREEBUFFER = ULONG (*)(LPVOID lpBuffer);

struct IMAPISession : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // One row per store: PR_ENTRYID, PR_DISPLAY_NAME, PR_MDB_PROVIDER,
    // PR_PROVIDER_DISPLAY, PR_DEFAULT_STORE, PR_RESOURCE_FLAGS, ...
    virtual HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                 ULONG ulFlags, LPMDB* lppMDB) = 0;
    virtual HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                    ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) = 0;
    // Keeps a reference to the message and gives a token for ShowForm.
    virtual HRESULT PrepareForm(LPCIID lpInterface, LPMESSAGE lpMessage, ULONG* lpulMessageToken) = 0;
    // Plays the form of the message class through the form host; the token of
    // PrepareForm is used up. MAPI_E_USER_CANCEL when the user closes the form.
    virtual HRESULT ShowForm(ULONG_PTR ulUIParam, LPMDB lpMsgStore, LPMAPIFOLDER lpParentFolder, LPCIID lpInterface,
                             ULONG ulMessageToken, LPMESSAGE lpMessageSent, ULONG ulFlags, ULONG ulMessageStatus,
                             ULONG ulMessageFlags, ULONG ulAccess, LPSTR lpszMessageClass) = 0;

protected:
    ~IMAPISession() = default;
};
using LPMAPISESSION = IMAPISession*;

extern "C" {
// Brackets every other use in a process; calls nest and are counted.
HRESULT MAPIInitialize(LPVOID lpMapiInit);
void MAPIUninitialize();
// Logs on to the default profile (created on first use in the prefix's
// mapi/ folder). A named profile other than the default one is not found.
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, ULONG ulFlags,
                    LPMAPISESSION* lppSession);

// A block, and blocks linked to it with MAPIAllocateMore that are freed with it.
SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG MAPIFreeBuffer(LPVOID lpBuffer);
}
