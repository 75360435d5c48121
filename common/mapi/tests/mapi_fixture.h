// A logged-on session in a private prefix, and small helpers the tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ovmapi/faults.h"
#include "ovmapi/mapiform.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovtest/temp_prefix.h"

namespace mapitest {

struct Releaser {
    void operator()(IUnknown* object) const {
        if (object != nullptr) object->Release();
    }
};
template <class T>
using Ptr = std::unique_ptr<T, Releaser>;

struct BufferFree {
    void operator()(void* block) const { MAPIFreeBuffer(block); }
};
template <class T>
using Buffer = std::unique_ptr<T, BufferFree>;

struct RowsFree {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, RowsFree>;

// An interface of an object opened as IUnknown (the layer's objects derive
// each interface from one chain, so the pointer is the same).
template <class T>
T* As(IUnknown* object) {
    return reinterpret_cast<T*>(object);
}

SPropValue String8(ULONG tag, const char* text);
SPropValue Long(ULONG tag, LONG value);
SPropValue Bool(ULONG tag, bool value);
SPropValue Binary(ULONG tag, std::vector<BYTE>& bytes);
std::vector<BYTE> BinaryOf(const SPropValue& value);

class MapiTest : public ovtest::PrefixTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh session on the profile (another "process" view of the store).
    Ptr<IMAPISession> Logon();
    // The default store as the submit control finds it: the stores table
    // restricted to PR_RESOURCE_FLAGS with STATUS_DEFAULT_STORE.
    Ptr<IMsgStore> OpenDefaultStore(IMAPISession* session);
    Ptr<IMAPIFolder> OpenFolder(IMsgStore* store, ULONG entryIdTag);  // e.g. PR_IPM_OUTBOX_ENTRYID
    Ptr<IMAPIFolder> OpenInbox(IMsgStore* store);
    std::vector<BYTE> StoreProp(IMsgStore* store, ULONG tag);
    // Creates, fills and saves a message; returns its entry id.
    std::vector<BYTE> SaveSimpleMessage(IMAPIFolder* folder, const char* subject);
    ULONG ContentCount(IMAPIFolder* folder);
    std::string GetString(IMAPIProp* object, ULONG tag);
    void AddRecipient(IMessage* message, IAddrBook* book, const char* name, const char* type, const char* address);
    void AddAttachment(IMessage* message, const char* name, const std::string& bytes);

    Ptr<IMAPISession> session_;
    Ptr<IMsgStore> store_;
};

}  // namespace mapitest
