// A damaged profile database: logging on and reading everything in it must
// fail cleanly or succeed, never crash or run away with memory.
#include <sqlite3.h>

#include <cstdint>
#include <fstream>

#include "fuzz_prefix.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"

namespace {

constexpr int kMaxRows = 200;

template <class T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p) p->Release();
    }
};

void ReadAll(IMAPIProp* object) {
    ULONG count = 0;
    LPSPropValue values = nullptr;
    if (SUCCEEDED(object->GetProps(nullptr, 0, &count, &values))) MAPIFreeBuffer(values);
}

void ReadTable(IMAPITable* table, void (*each)(const SRow&, void*), void* context) {
    LPSRowSet rows = nullptr;
    if (FAILED(table->QueryRows(kMaxRows, 0, &rows))) return;
    for (ULONG n = 0; n < rows->cRows; ++n)
        if (each) each(rows->aRow[n], context);
    FreeProws(rows);
}

const SPropValue* Find(const SRow& row, ULONG tag) {
    for (ULONG n = 0; n < row.cValues; ++n)
        if (row.lpProps[n].ulPropTag == tag) return &row.lpProps[n];
    return nullptr;
}

void VisitMessage(const SRow& row, void* context) {
    auto* store = static_cast<IMsgStore*>(context);
    const SPropValue* id = Find(row, PR_ENTRYID);
    if (id == nullptr) return;
    Held<IUnknown> opened;
    ULONG type = 0;
    if (FAILED(store->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr, 0, &type,
                                &opened.p)) ||
        type != MAPI_MESSAGE)
        return;
    auto* message = reinterpret_cast<IMessage*>(opened.p);
    ReadAll(message);
    Held<IMAPITable> table;
    if (SUCCEEDED(message->GetRecipientTable(0, &table.p))) ReadTable(table.p, nullptr, nullptr);
    Held<IMAPITable> attachments;
    if (SUCCEEDED(message->GetAttachmentTable(0, &attachments.p))) ReadTable(attachments.p, nullptr, nullptr);
}

void VisitFolder(const SRow& row, void* context) {
    auto* store = static_cast<IMsgStore*>(context);
    const SPropValue* id = Find(row, PR_ENTRYID);
    if (id == nullptr) return;
    Held<IUnknown> opened;
    ULONG type = 0;
    if (FAILED(store->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr, 0, &type,
                                &opened.p)) ||
        type != MAPI_FOLDER)
        return;
    auto* folder = reinterpret_cast<IMAPIFolder*>(opened.p);
    ReadAll(folder);
    Held<IMAPITable> contents;
    if (SUCCEEDED(folder->GetContentsTable(0, &contents.p))) ReadTable(contents.p, VisitMessage, store);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Damage beyond a few megabytes shows nothing new and only costs time.
    if (size > (4u << 20)) return 0;
    sqlite3_hard_heap_limit64(256ll << 20);
    const std::filesystem::path& prefix = mapifuzz::FuzzPrefix();
    std::filesystem::path directory = prefix / "mapi";
    std::error_code ec;
    std::filesystem::remove_all(directory, ec);
    std::filesystem::create_directories(directory, ec);
    {
        std::ofstream out(ovmapi::ProfileDatabasePath(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (FAILED(MAPIInitialize(nullptr))) return 0;
    {
        Held<IMAPISession> session;
        if (SUCCEEDED(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session.p))) {
            Held<IMAPITable> stores;
            LPSRowSet rows = nullptr;
            if (SUCCEEDED(session.p->GetMsgStoresTable(0, &stores.p)) &&
                SUCCEEDED(HrQueryAllRows(stores.p, nullptr, nullptr, nullptr, 0, &rows))) {
                for (ULONG n = 0; n < rows->cRows && n < 8; ++n) {
                    const SPropValue* id = Find(rows->aRow[n], PR_ENTRYID);
                    Held<IMsgStore> store;
                    if (id == nullptr || FAILED(session.p->OpenMsgStore(0, id->Value.bin.cb,
                                                                        reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                                                                        nullptr, MDB_WRITE, &store.p)))
                        continue;
                    ReadAll(store.p);
                    Held<IUnknown> root;
                    ULONG type = 0;
                    if (FAILED(store.p->OpenEntry(0, nullptr, nullptr, 0, &type, &root.p))) continue;
                    Held<IMAPITable> hierarchy;
                    if (SUCCEEDED(reinterpret_cast<IMAPIFolder*>(root.p)->GetHierarchyTable(CONVENIENT_DEPTH, &hierarchy.p)))
                        ReadTable(hierarchy.p, VisitFolder, store.p);
                }
                FreeProws(rows);
            }
            Held<IAddrBook> book;
            Held<IUnknown> root;
            ULONG type = 0;
            if (SUCCEEDED(session.p->OpenAddressBook(0, nullptr, 0, &book.p)) &&
                SUCCEEDED(book.p->OpenEntry(0, nullptr, nullptr, 0, &type, &root.p))) {
                Held<IMAPITable> hierarchy;
                if (SUCCEEDED(reinterpret_cast<IABContainer*>(root.p)->GetHierarchyTable(CONVENIENT_DEPTH, &hierarchy.p)))
                    ReadTable(hierarchy.p, nullptr, nullptr);
            }
        }
    }
    MAPIUninitialize();
    return 0;
}
