// Compressed RTF through streams: the writing and reading wrapper, the
// text-to-RTF stream, the synchronisation and the buffered property stream.
#include "faxmsg/rtf_streams.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "faxmsg/rtf_codec.h"
#include "ovmapi/faults.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovtest/temp_prefix.h"

namespace {

struct Releaser {
    void operator()(IUnknown* object) const {
        if (object != nullptr) object->Release();
    }
};
template <class T>
using Ptr = std::unique_ptr<T, Releaser>;

Ptr<IStream> MemoryStream(std::string_view bytes = {}) {
    IStream* raw = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
    Ptr<IStream> stream(raw);
    if (!bytes.empty()) {
        ULONG written = 0;
        EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
        LARGE_INTEGER start{};
        EXPECT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    }
    return stream;
}

// Everything a stream delivers, read in pieces of the given size.
std::string ReadAll(IStream* stream, ULONG piece) {
    std::string out;
    std::vector<char> buffer(piece);
    for (;;) {
        ULONG got = 0;
        EXPECT_EQ(stream->Read(buffer.data(), piece, &got), S_OK);
        if (got == 0) return out;
        out.append(buffer.data(), got);
    }
}

std::string Contents(IStream* stream) {
    LARGE_INTEGER start{};
    EXPECT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    return ReadAll(stream, 4096);
}

std::string SampleRtf(std::size_t size) {
    std::string rtf = faxmsg::RtfHeadForCodePage(1252);
    while (rtf.size() < size)
        rtf += "\\par Line of the letter with some words that repeat, \\'e9t\\'e9. ";
    return rtf + "}";
}

TEST(CompressedRtfStream, WrapperChecksItsArguments) {
    IStream* out = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(faxmsg::WrapCompressedRTFStream(nullptr, MAPI_MODIFY, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    Ptr<IStream> memory = MemoryStream();
    EXPECT_EQ(faxmsg::WrapCompressedRTFStream(memory.get(), MAPI_MODIFY, nullptr), E_INVALIDARG);
    EXPECT_EQ(faxmsg::HrTextToRtfStream(nullptr, 0, 0, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(faxmsg::HrTextToRtfStream(memory.get(), 0, 0, nullptr, nullptr), E_INVALIDARG);
}

TEST(CompressedRtfStream, WritesWhatTheByteCoderWritesAndReadsItBack) {
    for (std::size_t size : {std::size_t{0}, std::size_t{40}, std::size_t{300000}}) {
        SCOPED_TRACE(size);
        const std::string rtf = size == 0 ? std::string() : SampleRtf(size);
        Ptr<IStream> property = MemoryStream();
        IStream* raw = nullptr;
        ASSERT_EQ(faxmsg::WrapCompressedRTFStream(property.get(), MAPI_MODIFY | MAPI_CREATE, &raw),
                  S_OK);
        Ptr<IStream> wrapper(raw);
        // Written in uneven pieces, as CopyTo and callers do.
        for (std::size_t at = 0; at < rtf.size();) {
            ULONG piece = static_cast<ULONG>(std::min<std::size_t>(rtf.size() - at, 1 + at % 7001));
            ULONG written = 0;
            ASSERT_EQ(wrapper->Write(rtf.data() + at, piece, &written), S_OK);
            ASSERT_EQ(written, piece);
            at += piece;
        }
        ASSERT_EQ(wrapper->Commit(0), S_OK);
        std::string stored = Contents(property.get());
        std::vector<std::uint8_t> oneShot =
            faxmsg::CompressRtf({reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()});
        EXPECT_EQ(stored, std::string(oneShot.begin(), oneShot.end()));
        EXPECT_EQ(stored.substr(8, 4), "LZFu");

        LARGE_INTEGER start{};
        ASSERT_EQ(property->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
        ASSERT_EQ(faxmsg::WrapCompressedRTFStream(property.get(), 0, &raw), S_OK);
        Ptr<IStream> reader(raw);
        EXPECT_EQ(ReadAll(reader.get(), 1000), rtf);
    }
}

TEST(CompressedRtfStream, UncompressedFormAndDamagedData) {
    const std::string rtf = SampleRtf(5000);
    Ptr<IStream> property = MemoryStream();
    IStream* raw = nullptr;
    ASSERT_EQ(
        faxmsg::WrapCompressedRTFStream(property.get(), MAPI_MODIFY | STORE_UNCOMPRESSED_RTF, &raw),
        S_OK);
    Ptr<IStream> wrapper(raw);
    ASSERT_EQ(wrapper->Write(rtf.data(), static_cast<ULONG>(rtf.size()), nullptr), S_OK);
    ASSERT_EQ(wrapper->Commit(0), S_OK);
    std::string stored = Contents(property.get());
    ASSERT_EQ(stored.size(), rtf.size() + 16);
    EXPECT_EQ(stored.substr(8, 4), "MELA");
    EXPECT_EQ(stored.substr(16), rtf);
    std::vector<std::uint8_t> decoded;
    ASSERT_EQ(faxmsg::DecompressRtf(
                  {reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()}, decoded),
              faxmsg::RtfDecodeStatus::kOk);
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), rtf);

    // A flipped byte in coded content fails the CRC; a short header is no body.
    std::vector<std::uint8_t> coded =
        faxmsg::CompressRtf({reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()});
    coded[40] ^= 0x55;
    for (const std::string& bad : {std::string(coded.begin(), coded.end()), std::string("LZFu")}) {
        Ptr<IStream> damaged = MemoryStream(bad);
        EXPECT_EQ(faxmsg::WrapCompressedRTFStream(damaged.get(), 0, &raw), MAPI_E_CORRUPT_DATA);
        EXPECT_EQ(raw, nullptr);
    }
}

TEST(TextToRtfStream, DeliversTheConvertedTextInAnyPieces) {
    std::string text = "Hi\r\nTab\there {braces} and \\ back\n\rslash \xE9\x82\xA0 end\r";
    for (int n = 0; n < 3000; ++n) text += "line " + std::to_string(n) + "\r\n";
    for (unsigned codePage : {1252u, 1251u, 932u, 0u}) {
        for (ULONG piece : {1u, 7u, 65536u}) {
            SCOPED_TRACE(std::to_string(codePage) + "/" + std::to_string(piece));
            Ptr<IStream> source = MemoryStream(text);
            IStream* raw = nullptr;
            ASSERT_EQ(faxmsg::HrTextToRtfStream(source.get(), codePage, 0, nullptr, &raw), S_OK);
            Ptr<IStream> rtf(raw);
            EXPECT_EQ(ReadAll(rtf.get(), piece), faxmsg::ConvertTextToRtf(text, codePage));
        }
    }
    // An empty text: the head and the closing brace.
    Ptr<IStream> empty = MemoryStream();
    IStream* raw = nullptr;
    ASSERT_EQ(faxmsg::HrTextToRtfStream(empty.get(), 1252, 0, nullptr, &raw), S_OK);
    Ptr<IStream> rtf(raw);
    EXPECT_EQ(ReadAll(rtf.get(), 100), faxmsg::RtfHeadForCodePage(1252) + "}");
}

class MessageStreamTest : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        ovmapi::faults::ClearAll();
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        IMAPISession* session = nullptr;
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), S_OK);
        session_.reset(session);
        IMAPITable* table = nullptr;
        ASSERT_EQ(session->GetMsgStoresTable(0, &table), S_OK);
        Ptr<IMAPITable> heldTable(table);
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                 nullptr, 0, &rows),
                  S_OK);
        const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
        IMsgStore* store = nullptr;
        HRESULT hr = session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                           MDB_WRITE, &store);
        FreeProws(rows);
        ASSERT_EQ(hr, S_OK);
        store_.reset(store);
        ULONG size = 0;
        LPENTRYID inboxId = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &size, &inboxId, nullptr), S_OK);
        ULONG type = 0;
        IUnknown* inbox = nullptr;
        hr = store->OpenEntry(size, inboxId, &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, &inbox);
        MAPIFreeBuffer(inboxId);
        ASSERT_EQ(hr, S_OK);
        folder_.reset(reinterpret_cast<IMAPIFolder*>(inbox));
        IMessage* message = nullptr;
        ASSERT_EQ(folder_->CreateMessage(nullptr, 0, &message), S_OK);
        message_.reset(message);
    }
    void TearDown() override {
        message_.reset();
        folder_.reset();
        store_.reset();
        session_.reset();
        ovmapi::faults::ClearAll();
        MAPIUninitialize();
    }
    bool Has(IMAPIProp* object, ULONG tag) {
        LPSPropValue value = nullptr;
        HRESULT hr = HrGetOneProp(object, tag, &value);
        MAPIFreeBuffer(value);
        return hr == S_OK;
    }

    Ptr<IMAPISession> session_;
    Ptr<IMsgStore> store_;
    Ptr<IMAPIFolder> folder_;
    Ptr<IMessage> message_;
};

TEST_F(MessageStreamTest, SyncDropsRtfThatNoLongerMatchesTheBody) {
    std::vector<BYTE> stale = {1, 2, 3};
    SPropValue values[5] = {};
    values[0].ulPropTag = PR_BODY_A;
    values[0].Value.lpszA = const_cast<char*>("new body");
    values[1].ulPropTag = PR_RTF_IN_SYNC;
    values[1].Value.b = TRUE;
    values[2].ulPropTag = PR_RTF_COMPRESSED;
    values[2].Value.bin = {3, stale.data()};
    values[3].ulPropTag = PR_RTF_SYNC_BODY_CRC;
    values[3].Value.l = 77;
    values[4].ulPropTag = PR_RTF_SYNC_BODY_TAG_A;
    values[4].Value.lpszA = const_cast<char*>("OLDBODY");
    for (ULONG count : {3u, 5u}) {  // a new message, and one with synchronisation data
        SCOPED_TRACE(count);
        ASSERT_EQ(message_->SetProps(count, values, nullptr), S_OK);
        BOOL updated = FALSE;
        ASSERT_EQ(faxmsg::RTFSync(message_.get(), RTF_SYNC_BODY_CHANGED, &updated), S_OK);
        EXPECT_TRUE(updated);
        EXPECT_FALSE(Has(message_.get(), PR_RTF_COMPRESSED));
        EXPECT_FALSE(Has(message_.get(), PR_RTF_SYNC_BODY_CRC));
        EXPECT_FALSE(Has(message_.get(), PR_RTF_SYNC_BODY_TAG_A));
        LPSPropValue inSync = nullptr;
        ASSERT_EQ(HrGetOneProp(message_.get(), PR_RTF_IN_SYNC, &inSync), S_OK);
        EXPECT_EQ(inSync->Value.b, 0);
        MAPIFreeBuffer(inSync);
        EXPECT_TRUE(Has(message_.get(), PR_BODY_A));
    }
    BOOL updated = TRUE;
    EXPECT_EQ(faxmsg::RTFSync(message_.get(), RTF_SYNC_RTF_CHANGED, &updated), MAPI_E_NO_SUPPORT);
    EXPECT_FALSE(updated);
    ovmapi::faults::Inject("IMessage::GetProps", MAPI_E_CALL_FAILED);
    EXPECT_EQ(faxmsg::RTFSync(message_.get(), RTF_SYNC_BODY_CHANGED, &updated), MAPI_E_CALL_FAILED);
}

TEST_F(MessageStreamTest, PropertyStreamBuffersAndOpensOnFirstUse) {
    ULONG number = 0;
    IAttach* rawAttach = nullptr;
    ASSERT_EQ(message_->CreateAttach(nullptr, 0, &number, &rawAttach), S_OK);
    Ptr<IAttach> attach(rawAttach);
    IStream* raw = nullptr;
    ASSERT_EQ(faxmsg::HrOpenPropertyStream(attach.get(), PR_ATTACH_DATA_BIN,
                                           MAPI_MODIFY | MAPI_CREATE, &raw),
              S_OK);
    Ptr<IStream> data(raw);
    EXPECT_EQ(ovmapi::faults::CallCount("IAttach::OpenProperty"), 0u);
    std::string bytes;
    for (int n = 0; n < 100000; ++n) bytes += static_cast<char>(n * 13);
    Ptr<IStream> file = MemoryStream(bytes);
    ULARGE_INTEGER all;
    all.QuadPart = ~0ULL;
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(file->CopyTo(data.get(), all, &read, &written), S_OK);
    EXPECT_EQ(written.QuadPart, bytes.size());
    ASSERT_EQ(data->Commit(0), S_OK);
    EXPECT_EQ(ovmapi::faults::CallCount("IAttach::OpenProperty"), 1u);
    LPSPropValue value = nullptr;
    ASSERT_EQ(HrGetOneProp(attach.get(), PR_ATTACH_DATA_BIN, &value), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(value->Value.bin.lpb), value->Value.bin.cb),
              bytes);
    MAPIFreeBuffer(value);

    // A property that cannot be opened fails the write that needs it, and
    // every use after.
    ovmapi::faults::Inject("IAttach::OpenProperty", MAPI_E_NO_ACCESS, 1, 0);
    ASSERT_EQ(faxmsg::HrOpenPropertyStream(attach.get(), PR_ATTACH_DATA_BIN, MAPI_MODIFY, &raw),
              S_OK);
    Ptr<IStream> refused(raw);
    EXPECT_EQ(refused->Write("x", 1, nullptr), S_OK);  // still buffered
    EXPECT_EQ(refused->Commit(0), MAPI_E_NO_ACCESS);
    LARGE_INTEGER start{};
    ASSERT_EQ(file->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(file->CopyTo(refused.get(), all, &read, &written), MAPI_E_NO_ACCESS);
}

TEST_F(MessageStreamTest, BodyFromFileAndItsFailures) {
    std::string text = "Dear Bob,\r\n\tsee {below}.\r\n";
    std::string path = (prefix_.path() / "body.txt").string();
    Ptr<IStream> writer;
    {
        IStream* raw = nullptr;
        ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_WRITE,
                                   path.c_str(), nullptr, &raw),
                  S_OK);
        writer.reset(raw);
        ASSERT_EQ(writer->Write(text.data(), static_cast<ULONG>(text.size()), nullptr), S_OK);
    }
    // While another stream writes it the file cannot be read exclusively.
    EXPECT_EQ(faxmsg::HrBodyFromTextFile(message_.get(), path.c_str()), STG_E_ACCESSDENIED);
    writer.reset();
    ASSERT_EQ(faxmsg::HrBodyFromTextFile(message_.get(), path.c_str()), S_OK);
    std::string rtf;
    ASSERT_EQ(faxmsg::HrReadRtfBody(message_.get(), rtf), S_OK);
    EXPECT_EQ(rtf, faxmsg::ConvertTextToRtf(text, 0));

    EXPECT_EQ(faxmsg::HrBodyFromTextFile(message_.get(), (path + ".missing").c_str()),
              MAPI_E_NOT_FOUND);
    ovmapi::faults::Inject("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, 1, 0);
    EXPECT_EQ(faxmsg::HrBodyFromTextFile(message_.get(), path.c_str()), MAPI_E_NOT_ENOUGH_MEMORY);
    ovmapi::faults::ClearAll();
    ovmapi::faults::Inject("IStream::Commit", MAPI_E_DISK_ERROR, 2,
                           1);  // the property, after the memory copy
    EXPECT_EQ(faxmsg::HrBodyFromTextFile(message_.get(), path.c_str()), MAPI_E_DISK_ERROR);
}

}  // namespace
