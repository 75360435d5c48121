// The bytes the writer lays down, checked against the published examples of
// MS-OXMSG, MS-OXCDATA and MS-CFB.
#include <gtest/gtest.h>

#include <cstring>

#include "byte_io.h"
#include "cfb.h"
#include "msg_names.h"
#include "test_support.h"

namespace msgtest {
namespace {

using ov::msgfile::detail::LoadU16;
using ov::msgfile::detail::LoadU32;
using ov::msgfile::detail::LoadU64;
namespace cfb = ov::msgfile::cfb;

Bytes Hex(std::string_view text) {
    Bytes bytes;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

Bytes Utf16Bytes(std::u16string_view text) {
    Bytes bytes;
    ov::msgfile::detail::PutUtf16(bytes, text);
    return bytes;
}

// A built file opened with the compound-file reader, with path lookups.
class OpenedFile {
public:
    explicit OpenedFile(Bytes bytes) : bytes_(std::move(bytes)) {
        Status status = reader_.Open(bytes_, 100000);
        EXPECT_TRUE(status) << status.message;
    }
    // "a/b/c" -> directory index, or kNoStream.
    std::uint32_t Find(std::string_view path) const {
        std::uint32_t at = 0;
        while (!path.empty() && at != cfb::kNoStream) {
            auto slash = path.find('/');
            std::string_view part = path.substr(0, slash);
            at = reader_.Find(at, std::u16string(part.begin(), part.end()));
            path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        }
        return at;
    }
    bool Has(std::string_view path) const { return Find(path) != cfb::kNoStream; }
    Bytes Stream(std::string_view path) {
        Bytes out;
        std::uint32_t index = Find(path);
        EXPECT_NE(index, cfb::kNoStream) << path;
        if (index != cfb::kNoStream) {
            Status status = reader_.ReadStream(index, out);
            EXPECT_TRUE(status) << path << ": " << status.message;
        }
        return out;
    }
    const Bytes& bytes() const { return bytes_; }
    const cfb::Reader& reader() const { return reader_; }

private:
    Bytes bytes_;
    cfb::Reader reader_;
};

Bytes Build(const Message& message, const WriteOptions& options = {}) {
    Bytes out;
    Status status = BuildMsgFile(message, out, options);
    EXPECT_TRUE(status) << status.message;
    return out;
}

// One 16-byte entry of a property stream, by tag.
struct PropertyEntry {
    std::uint32_t flags = 0;
    std::uint64_t value = 0;
};
std::optional<PropertyEntry> EntryFor(const Bytes& stream, std::size_t header, PropTag tag) {
    for (std::size_t at = header; at + 16 <= stream.size(); at += 16)
        if (LoadU32(stream.data() + at) == tag)
            return PropertyEntry{LoadU32(stream.data() + at + 4), LoadU64(stream.data() + at + 8)};
    return std::nullopt;
}

TEST(RtfCrc, MatchesPublishedCheckValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(RtfCrc32(Bytes(digits.begin(), digits.end())), 0x2DFD2D88u);
    EXPECT_EQ(RtfCrc32(Utf16Bytes(u"x-mailer")), 0xFF504E89u);
    EXPECT_EQ(RtfCrc32(Bytes{}), 0u);
    // The published bucket of "x-mailer" in the GUID stream's first GUID.
    EXPECT_EQ(ov::msgfile::detail::BucketStreamId(0xFF504E89u, 3, NameKind::kString), 0x100Fu);
    // Internet header names hash lower-cased.
    EXPECT_EQ(ov::msgfile::detail::NameCrc(u"X-Mailer", kPsInternetHeaders), 0xFF504E89u);
}

TEST(NamedPropertyLayout, PublicStringNamesMatchWorkedExample) {
    Message m;
    m.namedProperties = {{0x9000, kPsPublicStrings, NameKind::kString, 0, u"Keywords"},
                         {0x9001, kPsPublicStrings, NameKind::kString, 0, u"MyFlag"}};
    m.properties = {{MakeTag(0x9000, kPtUnicode), std::u16string(u"fax")},
                    {MakeTag(0x9001, kPtBoolean), true}};
    OpenedFile file(Build(m));
    EXPECT_TRUE(file.Stream("__nameid_version1.0/__substg1.0_00020102").empty());
    EXPECT_EQ(file.Stream("__nameid_version1.0/__substg1.0_00030102"),
              Hex("00 00 00 00 05 00 00 00   14 00 00 00 05 00 01 00"));
    EXPECT_EQ(file.Stream("__nameid_version1.0/__substg1.0_00040102"),
              Hex("10 00 00 00 4b 00 65 00 79 00 77 00 6f 00 72 00 64 00 73 00"
                  "0c 00 00 00 4d 00 79 00 46 00 6c 00 61 00 67 00"));
    EXPECT_EQ(file.Stream("__nameid_version1.0/__substg1.0_10150102"),
              Hex("3b 4d da 2e 05 00 00 00   01 71 72 9d 05 00 01 00"));
    // Only the bucket that has records is written.
    for (unsigned id = 0x1000; id < 0x101F; ++id) {
        if (id == 0x1015) continue;
        EXPECT_FALSE(file.Has("__nameid_version1.0/" +
                              ov::msgfile::detail::SubStreamName((id << 16) | 0x0102)));
    }
    // The record ids became 0x8000 and 0x8001 in the file.
    Bytes props = file.Stream("__properties_version1.0");
    EXPECT_TRUE(EntryFor(props, 32, 0x8000001F).has_value());
    ASSERT_TRUE(EntryFor(props, 32, 0x8001000B).has_value());
    EXPECT_EQ(EntryFor(props, 32, 0x8001000B)->value, 1u);
    EXPECT_EQ(file.Stream("__substg1.0_8000001F"), Utf16Bytes(u"fax"));
}

TEST(NamedPropertyLayout, NumericNameMatchesWorkedExample) {
    Message m;
    m.namedProperties = {{0x8100, kPsPublicStrings, NameKind::kString, 0, u"Keywords"},
                         {0x8101, kPsPublicStrings, NameKind::kString, 0, u"MyFlag"},
                         {0x8102, kPsetidAddress, NameKind::kId, 0x8083, u""},
                         {0x8103, kPsetidCommon, NameKind::kId, 0x8514, u""},
                         {0x8104, kPsetidAddress, NameKind::kId, 0x80B3, u""}};
    OpenedFile file(Build(m));
    // Each GUID once, in order of first use.
    EXPECT_EQ(file.Stream("__nameid_version1.0/__substg1.0_00020102"),
              Hex("04 20 06 00 00 00 00 00 C0 00 00 00 00 00 00 46"
                  "08 20 06 00 00 00 00 00 C0 00 00 00 00 00 00 46"));
    Bytes entries = file.Stream("__nameid_version1.0/__substg1.0_00030102");
    ASSERT_EQ(entries.size(), 5u * 8);
    EXPECT_EQ(Bytes(entries.begin() + 16, entries.begin() + 24), Hex("83 80 00 00 06 00 02 00"));
    // PSETID_Common is GUID index 4: 4 << 1 = 8.
    EXPECT_EQ(Bytes(entries.begin() + 24, entries.begin() + 32), Hex("14 85 00 00 08 00 03 00"));
    // The worked example's bucket 0x100A holds the numeric record.
    Bytes bucket = file.Stream("__nameid_version1.0/__substg1.0_100A0102");
    bool found = false;
    for (std::size_t at = 0; at + 8 <= bucket.size(); at += 8)
        found |=
            Bytes(bucket.begin() + at, bucket.begin() + at + 8) == Hex("83 80 00 00 06 00 02 00");
    EXPECT_TRUE(found);
}

TEST(OneOffEntryId, UnicodeFormMatchesByteExample) {
    auto id = BuildOneOffEntryId(u"Ann", u"FAX", u"Ann@+15551234");
    ASSERT_TRUE(id.has_value());
    Bytes expected = Hex("00 00 00 00 81 2B 1F A4 BE A3 10 19 9D 6E 00 DD 01 0F 54 02 00 00 01 80");
    for (auto text : {u"Ann", u"FAX", u"Ann@+15551234"}) {
        Bytes part = Utf16Bytes(text);
        expected.insert(expected.end(), part.begin(), part.end());
        expected.push_back(0);
        expected.push_back(0);
    }
    EXPECT_EQ(*id, expected);

    auto parsed = ParseOneOffEntryId(*id);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->flags, 0x8001);
    EXPECT_EQ(parsed->displayName, u"Ann");
    EXPECT_EQ(parsed->addressType, u"FAX");
    EXPECT_EQ(parsed->emailAddress, u"Ann@+15551234");
}

TEST(OneOffEntryId, AnsiFormAndRejections) {
    auto id = BuildOneOffEntryIdAnsi("J\xFCrgen", "ORVANE", "J\xFCrgen@+49 30 1234",
                                     kOneOffUnicode | kOneOffNoRichInfo | kOneOffFormatTextOnly);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(Bytes(id->begin() + 20, id->begin() + 24), Hex("00 00 07 00"));  // U bit removed
    EXPECT_EQ(Bytes(id->begin() + 24, id->end()),
              Hex("4A FC 72 67 65 6E 00 4F 52 56 41 4E 45 00"
                  "4A FC 72 67 65 6E 40 2B 34 39 20 33 30 20 31 32 33 34 00"));
    auto parsed = ParseOneOffEntryId(*id);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->displayName, u"Jürgen");
    EXPECT_EQ(parsed->emailAddress, u"Jürgen@+49 30 1234");

    // A NUL inside a field would cut it short: refused.
    EXPECT_FALSE(BuildOneOffEntryId(std::u16string(u"A\0B", 3), u"FAX", u"x").has_value());
    EXPECT_FALSE(BuildOneOffEntryIdAnsi("A", std::string("F\0X", 3), "x").has_value());

    // Truncated anywhere, or from another provider: not a one-off.
    auto full = BuildOneOffEntryId(u"Ann", u"FAX", u"Ann@+15551234");
    ASSERT_TRUE(full.has_value());
    for (std::size_t cut = 0; cut < full->size(); ++cut)
        EXPECT_FALSE(ParseOneOffEntryId(std::span(full->data(), cut)).has_value()) << cut;
    Bytes other = *full;
    other[4] ^= 0xFF;
    EXPECT_FALSE(ParseOneOffEntryId(other).has_value());
}

TEST(MessageLayout, HeadersCountsAndPropertyEntries) {
    Message m = SampleFax();
    OpenedFile file(Build(m));
    const Bytes& bytes = file.bytes();

    // Version 3 header with 512-byte sectors and the mail message class.
    ASSERT_GE(bytes.size(), 1024u);
    EXPECT_EQ(LoadU16(bytes.data() + 0x1A), 3);
    EXPECT_EQ(LoadU16(bytes.data() + 0x1E), 9);
    EXPECT_EQ(LoadU32(bytes.data() + 0x38), 4096u);
    EXPECT_EQ(bytes.size() % 512, 0u);
    const auto clsid = kClsidMailMessage.ToBytes();
    EXPECT_EQ(Bytes(clsid.begin(), clsid.end()),
              Hex("0B 0D 02 00 00 00 00 00 C0 00 00 00 00 00 00 46"));
    EXPECT_EQ(file.reader().entries()[0].clsid, clsid);

    Bytes top = file.Stream("__properties_version1.0");
    ASSERT_GE(top.size(), 32u);
    EXPECT_EQ((top.size() - 32) % 16, 0u);
    EXPECT_EQ(LoadU64(top.data()), 0u);
    EXPECT_EQ(LoadU32(top.data() + 8), 2u);   // next recipient id
    EXPECT_EQ(LoadU32(top.data() + 12), 3u);  // next attachment id
    EXPECT_EQ(LoadU32(top.data() + 16), 2u);
    EXPECT_EQ(LoadU32(top.data() + 20), 3u);
    EXPECT_EQ(LoadU64(top.data() + 24), 0u);

    // 8-bit strings went in as Unicode: size = bytes + 2, no 0x001E anywhere.
    auto subject = EntryFor(top, 32, kPrSubjectW);
    ASSERT_TRUE(subject.has_value());
    EXPECT_EQ(subject->flags, 6u);
    EXPECT_EQ(subject->value & 0xFFFFFFFF, kSubjectUtf16.size() * 2 + 2);
    EXPECT_EQ(subject->value >> 32, 0u);
    EXPECT_FALSE(EntryFor(top, 32, kPrSubjectA).has_value());
    EXPECT_EQ(file.Stream("__substg1.0_0037001F"), Utf16Bytes(kSubjectUtf16));
    EXPECT_FALSE(file.Has("__substg1.0_0037001E"));

    auto hasAttach = EntryFor(top, 32, kPrHasAttach);
    ASSERT_TRUE(hasAttach.has_value());
    EXPECT_EQ(hasAttach->value, 1u);
    auto importance = EntryFor(top, 32, kPrImportance);
    ASSERT_TRUE(importance.has_value());
    EXPECT_EQ(importance->value, 2u);
    auto submit = EntryFor(top, 32, kPrClientSubmitTime);
    ASSERT_TRUE(submit.has_value());
    EXPECT_EQ(submit->value, 0x01DB4B0C12345678ull);
    auto mask = EntryFor(top, 32, kPrStoreSupportMask);
    ASSERT_TRUE(mask.has_value());
    EXPECT_EQ(mask->value, kStoreUnicodeOk);

    // Entries sorted by tag.
    for (std::size_t at = 48; at + 16 <= top.size(); at += 16)
        EXPECT_LT(LoadU32(top.data() + at - 16), LoadU32(top.data() + at));

    // Recipient and attachment storages: 8-byte headers, upper-case numbering.
    for (std::string storage : {"__recip_version1.0_#00000000", "__recip_version1.0_#00000001",
                                "__attach_version1.0_#00000000", "__attach_version1.0_#00000002"}) {
        Bytes props = file.Stream(storage + "/__properties_version1.0");
        ASSERT_GE(props.size(), 8u) << storage;
        EXPECT_EQ(LoadU64(props.data()), 0u);
        EXPECT_EQ((props.size() - 8) % 16, 0u);
    }
    EXPECT_FALSE(file.Has("__recip_version1.0_#00000002"));
    Bytes recipient = file.Stream("__recip_version1.0_#00000000/__properties_version1.0");
    auto entryId = EntryFor(recipient, 8, kPrEntryId);
    ASSERT_TRUE(entryId.has_value());
    EXPECT_EQ(entryId->value,
              std::get<Bytes>(FindProperty(m.recipients[0].properties, kPrEntryId)->value).size());
    EXPECT_EQ(file.Stream("__recip_version1.0_#00000000/__substg1.0_3002001F"),
              Utf16Bytes(u"ORVANE"));

    // The large attachment: regular sectors, byte for byte.
    const Bytes& big =
        std::get<Bytes>(FindProperty(m.attachments[1].properties, kPrAttachDataBin)->value);
    EXPECT_EQ(file.Stream("__attach_version1.0_#00000001/__substg1.0_37010102"), big);
    Bytes attachment = file.Stream("__attach_version1.0_#00000001/__properties_version1.0");
    auto dataEntry = EntryFor(attachment, 8, kPrAttachDataBin);
    ASSERT_TRUE(dataEntry.has_value());
    EXPECT_EQ(dataEntry->value, big.size());

    // Multi-valued Unicode: length stream plus one NUL-terminated stream per value.
    const PropTag keywords = 0x8006101F;  // "Keywords" is the seventh name
    EXPECT_EQ(EntryFor(top, 32, keywords)->value, 12u);
    EXPECT_EQ(file.Stream("__substg1.0_8006101F"), Hex("08000000 12000000 08000000"));
    EXPECT_EQ(file.Stream("__substg1.0_8006101F-00000002"), Hex("c9 00 74 00 e9 00 00 00"));
}

TEST(MessageLayout, StorageNumbersAndNamedIdsInSubObjects) {
    Message m;
    m.namedProperties = {{0x9100, kPsPublicStrings, NameKind::kString, 0, u"PageCount"}};
    for (int i = 0; i < 11; ++i) {
        Attachment a;
        a.properties = {{kPrAttachNum, std::int32_t{i}},
                        {MakeTag(0x9100, kPtLong), std::int32_t{i}}};
        m.attachments.push_back(a);
    }
    m.recipients.resize(17);
    OpenedFile file(Build(m));
    // Eight upper-case hex digits, counted from 0.
    EXPECT_TRUE(file.Has("__attach_version1.0_#0000000A"));
    EXPECT_FALSE(file.Has("__attach_version1.0_#0000000a"));
    EXPECT_FALSE(file.Has("__attach_version1.0_#0000000B"));
    EXPECT_TRUE(file.Has("__recip_version1.0_#00000010"));
    Bytes top = file.Stream("__properties_version1.0");
    EXPECT_EQ(LoadU32(top.data() + 8), 17u);
    EXPECT_EQ(LoadU32(top.data() + 12), 11u);
    // A recipient without properties still has its (header-only) stream.
    EXPECT_EQ(file.Stream("__recip_version1.0_#00000003/__properties_version1.0"), Bytes(8, 0));
    // The mapping of the top level serves attachments too.
    Bytes attachment = file.Stream("__attach_version1.0_#0000000A/__properties_version1.0");
    auto named = EntryFor(attachment, 8, 0x80000003);
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(named->value, 10u);
    EXPECT_FALSE(file.Has("__attach_version1.0_#0000000A/__nameid_version1.0"));
}

TEST(MessageLayout, StringConversionUsesTheGivenCodePage) {
    Message m;
    m.properties = {{kPrSubjectA, std::string("\x80\x9F\xE9\x81")}};
    OpenedFile defaultFile(Build(m));
    EXPECT_EQ(defaultFile.Stream("__substg1.0_0037001F"), Utf16Bytes(u"\u20AC\u0178\u00E9\u0081"));

    WriteOptions options;
    options.ansiToUtf16 = [](std::string_view bytes) { return std::u16string(bytes.size(), u'#'); };
    OpenedFile custom(Build(m, options));
    EXPECT_EQ(custom.Stream("__substg1.0_0037001F"), Utf16Bytes(u"####"));
}

TEST(MessageLayout, EmptyStringsAreLeftOut) {
    Message m;
    m.properties = {{kPrSubjectW, std::u16string()},
                    {kPrBodyW, std::u16string(u"x")},
                    {kPrMessageClassA, std::string()},
                    {MakeTag(0x6000, kPtMvUnicode), std::vector<std::u16string>{}},
                    {MakeTag(0x6001, kPtBinary), Bytes{}}};
    OpenedFile file(Build(m));
    Bytes top = file.Stream("__properties_version1.0");
    EXPECT_FALSE(EntryFor(top, 32, kPrSubjectW).has_value());
    EXPECT_FALSE(EntryFor(top, 32, kPrMessageClassW).has_value());
    EXPECT_FALSE(EntryFor(top, 32, MakeTag(0x6000, kPtMvUnicode)).has_value());
    EXPECT_FALSE(file.Has("__substg1.0_0037001F"));
    EXPECT_TRUE(EntryFor(top, 32, kPrBodyW).has_value());
    // Empty binaries are allowed.
    ASSERT_TRUE(EntryFor(top, 32, MakeTag(0x6001, kPtBinary)).has_value());
    EXPECT_TRUE(file.Stream("__substg1.0_60010102").empty());
}

// Every sibling tree must be a red-black tree in MS-CFB's name order: black
// root, no red node with a red child, the same number of black nodes on each
// path down.
int BlackHeight(const std::vector<cfb::Entry>& entries, std::uint32_t node, bool parentRed,
                std::string& problem) {
    if (node == cfb::kNoStream) return 1;
    const cfb::Entry& e = entries[node];
    const bool red = e.color == 0;
    if (red && parentRed) problem = "red node under a red parent";
    int left = BlackHeight(entries, e.left, red, problem);
    int right = BlackHeight(entries, e.right, red, problem);
    if (left != right) problem = "unequal black heights";
    return left + (red ? 0 : 1);
}

TEST(CompoundFile, SiblingTreesAreValidRedBlackTrees) {
    for (std::size_t count : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 31, 33, 100, 255}) {
        cfb::Builder builder;
        auto storage = builder.AddStorage(cfb::Builder::kRoot, "store");
        std::vector<std::string> names;
        for (std::size_t i = 0; i < count; ++i) {
            // Mixed lengths and cases, so both ordering rules matter.
            std::string name = (i % 3 == 0   ? "s"
                                : i % 3 == 1 ? "Stream"
                                             : "longer_") +
                               std::to_string(count - i);
            builder.AddStream(storage, name, Bytes(i % 5, static_cast<std::uint8_t>(i)));
            names.push_back(name);
        }
        Bytes bytes;
        ASSERT_TRUE(builder.Build(kClsidMailMessage, bytes));
        cfb::Reader reader;
        ASSERT_TRUE(reader.Open(bytes, 100000));
        const auto& entries = reader.entries();
        std::uint32_t store = reader.Find(0, u"store");
        ASSERT_NE(store, cfb::kNoStream);
        const auto& children = entries[store].children;
        ASSERT_EQ(children.size(), count);
        for (std::size_t i = 1; i < children.size(); ++i)
            EXPECT_LT(cfb::CompareNames(entries[children[i - 1]].name, entries[children[i]].name),
                      0);
        std::uint32_t root = entries[store].child;
        EXPECT_EQ(entries[root].color, 1) << count;
        std::string problem;
        BlackHeight(entries, root, false, problem);
        EXPECT_EQ(problem, "") << count << " siblings";
        // And the data comes back.
        for (std::size_t i = 0; i < count; ++i) {
            std::uint32_t index =
                reader.Find(store, std::u16string(names[i].begin(), names[i].end()));
            ASSERT_NE(index, cfb::kNoStream);
            Bytes data;
            ASSERT_TRUE(reader.ReadStream(index, data));
            EXPECT_EQ(data, Bytes(i % 5, static_cast<std::uint8_t>(i)));
        }
    }
}

TEST(CompoundFile, NameOrderIsLengthThenUpperCase) {
    EXPECT_LT(cfb::CompareNames(u"Zz", u"aaa"), 0);
    EXPECT_EQ(cfb::CompareNames(u"abc", u"ABC"), 0);
    EXPECT_LT(cfb::CompareNames(u"abc", u"ABD"), 0);
    EXPECT_GT(cfb::CompareNames(u"b_", u"BA"), 0);  // '_' (0x5F) after 'A' (0x41)
}

}  // namespace
}  // namespace msgtest
