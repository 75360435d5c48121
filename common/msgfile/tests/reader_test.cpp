// The reader on damaged and hostile input: clear errors, no crash, bounded
// memory.
#include <gtest/gtest.h>

#include <functional>

#include "byte_io.h"
#include "cfb.h"
#include "test_support.h"

namespace msgtest {
namespace {

using ov::msgfile::detail::LoadU32;
using ov::msgfile::detail::StoreU32;

Bytes SmallFax() {
    Message m = SampleFax();
    m.attachments.resize(1);  // keep it small: the loops below read it many times
    Bytes bytes;
    EXPECT_TRUE(BuildMsgFile(m, bytes));
    return bytes;
}

std::size_t DirectoryOffset(const Bytes& bytes) {
    return (static_cast<std::size_t>(LoadU32(bytes.data() + 0x30)) + 1) * 512;
}

TEST(ReaderErrors, CraftedDamageIsReportedAsCorrupt) {
    const Bytes good = SmallFax();
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const std::size_t dir = DirectoryOffset(good);
    Case cases[] = {
        {"not a compound file", [](Bytes& b) { b[0] = 'X'; }},
        {"wrong byte order mark", [](Bytes& b) { b[0x1C] = 0; }},
        {"unknown sector size", [](Bytes& b) { b[0x1E] = 10; }},
        {"FAT count beyond the file", [](Bytes& b) { StoreU32(b.data() + 0x2C, 0x00FFFFFF); }},
        {"FAT sector outside the file", [](Bytes& b) { StoreU32(b.data() + 0x4C, 0x00FFFFFF); }},
        {"directory chain loops",
         [](Bytes& b) {
             // FAT sector 0 is the first sector; point the directory's entry at itself.
             std::uint32_t d = LoadU32(b.data() + 0x30);
             StoreU32(b.data() + 512 + 4 * d, d);
         }},
        {"root entry is not a root", [dir](Bytes& b) { b[dir + 0x42] = 1; }},
        {"sibling tree cycle",
         [dir](Bytes& b) {
             // Entry 1 names itself as its right sibling.
             StoreU32(b.data() + dir + 128 + 0x48, 1);
         }},
        {"child points past the directory",
         [dir](Bytes& b) { StoreU32(b.data() + dir + 0x4C, 0x00FFFFF0); }},
        {"mini stream larger than the file",
         [dir](Bytes& b) { StoreU32(b.data() + dir + 0x78, 0x7FFFFFFF); }},
        {"truncated to the header", [](Bytes& b) { b.resize(512); }},
    };
    for (const Case& c : cases) {
        Bytes bytes = good;
        c.damage(bytes);
        Message out;
        out.properties.push_back({kPrImportance, std::int32_t{1}});
        Status status = ReadMsgFile(bytes, out);
        EXPECT_FALSE(status) << c.what;
        EXPECT_FALSE(status.message.empty()) << c.what;
        EXPECT_TRUE(out.properties.empty()) << c.what << ": a failed read leaves an empty record";
    }
}

TEST(ReaderErrors, LimitsAreHonoured) {
    const Bytes good = SmallFax();
    Message out;
    ReadLimits small;
    small.maxFileBytes = good.size() - 1;
    EXPECT_EQ(ReadMsgFile(good, out, small).code, ErrorCode::kTooLarge);
    ReadLimits fewRecipients;
    fewRecipients.maxRecipients = 1;
    EXPECT_EQ(ReadMsgFile(good, out, fewRecipients).code, ErrorCode::kTooLarge);
    ReadLimits fewEntries;
    fewEntries.maxDirectoryEntries = 4;
    EXPECT_EQ(ReadMsgFile(good, out, fewEntries).code, ErrorCode::kTooLarge);
    EXPECT_TRUE(ReadMsgFile(good, out));
}

TEST(ReaderErrors, SharedSectorsCannotMultiplyMemory) {
    // Many directory entries naming the same large chain: each read is legal
    // on its own, together they would return far more than the file holds.
    cfb::Builder builder;
    for (int i = 0; i < 40; ++i)
        builder.AddStream(cfb::Builder::kRoot, "s" + std::to_string(i),
                          PatternBytes(i == 0 ? 65536 : 8, 1));
    Bytes bytes;
    ASSERT_TRUE(builder.Build(kClsidMailMessage, bytes));
    const std::size_t dir = DirectoryOffset(bytes);
    cfb::Reader probe;
    ASSERT_TRUE(probe.Open(bytes, 1000));
    std::uint32_t big = probe.Find(0, u"s0");
    const std::uint32_t start = probe.entries()[big].startSector;
    for (std::size_t i = 1; i < probe.entries().size(); ++i) {
        if (probe.entries()[i].type != cfb::EntryType::kStream) continue;
        StoreU32(bytes.data() + dir + 128 * i + 0x74, start);
        StoreU32(bytes.data() + dir + 128 * i + 0x78, 65536);
    }
    cfb::Reader reader;
    ASSERT_TRUE(reader.Open(bytes, 1000));
    std::size_t total = 0;
    bool refused = false;
    for (std::size_t i = 1; i < reader.entries().size(); ++i) {
        if (reader.entries()[i].type != cfb::EntryType::kStream) continue;
        Bytes data;
        if (reader.ReadStream(static_cast<std::uint32_t>(i), data))
            total += data.size();
        else
            refused = true;
    }
    EXPECT_TRUE(refused);
    EXPECT_LE(total, 2 * bytes.size());
}

TEST(ReaderErrors, EveryTruncationAndByteFlipIsSurvived) {
    // Not every damaged file is detectable (a flipped byte inside a body is
    // still a file); what matters is a clean result for each.
    const Bytes good = SmallFax();
    Message whole;
    ASSERT_TRUE(ReadMsgFile(good, whole));
    for (std::size_t size = 0; size < good.size(); size += 97) {
        Message out;
        Status status = ReadMsgFile(std::span(good.data(), size), out);
        // Only the padding after the last stream may go unnoticed.
        if (status) {
            EXPECT_EQ(out, whole) << "truncated to " << size;
        } else {
            EXPECT_FALSE(status.message.empty());
        }
    }
    for (std::size_t at = 0; at < good.size(); at += 13) {
        Bytes bytes = good;
        bytes[at] ^= 0xA5;
        Message out;
        Status status = ReadMsgFile(bytes, out);
        EXPECT_TRUE(status || !status.message.empty()) << "flipped byte " << at;
    }
}

}  // namespace
}  // namespace msgtest
