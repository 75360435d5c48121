// Writing records, reading them back with the library's reader, the errors
// the writer reports, and how the file lands on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "byte_io.h"
#include "test_support.h"

namespace msgtest {
namespace {

// What the file must say for a record: 8-bit strings as Unicode, named ids
// renumbered by their position in the name list.
PropertyList Expected(const PropertyList& properties, const std::vector<NamedProperty>& names) {
    PropertyList out;
    for (const Property& p : properties) {
        Property q = p;
        std::uint16_t id = TagId(p.tag);
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i].id == id) id = static_cast<std::uint16_t>(0x8000 + i);
        std::uint16_t type = TagType(p.tag);
        if (type == kPtString8) {
            type = kPtUnicode;
            q.value = Windows1252ToUtf16(std::get<std::string>(p.value));
        }
        q.tag = MakeTag(id, type);
        out.push_back(q);
    }
    return out;
}

void ExpectSameProperties(const PropertyList& got, const PropertyList& expected,
                          const std::string& where) {
    for (const Property& p : expected) {
        const Property* found = FindProperty(got, p.tag);
        ASSERT_NE(found, nullptr) << where << ": tag " << std::hex << p.tag << " missing";
        EXPECT_TRUE(found->value == p.value) << where << ": tag " << std::hex << p.tag;
    }
}

TEST(RoundTrip, SampleFaxComesBackAsWritten) {
    const Message m = SampleFax();
    Bytes bytes;
    ASSERT_TRUE(BuildMsgFile(m, bytes));
    Message back;
    Status status = ReadMsgFile(bytes, back);
    ASSERT_TRUE(status) << status.message;

    PropertyList top = Expected(m.properties, m.namedProperties);
    ExpectSameProperties(back.properties, top, "message");
    // Plus the Unicode bit of the store support mask, nothing else.
    EXPECT_EQ(back.properties.size(), top.size() + 1);
    const Property* mask = FindProperty(back.properties, kPrStoreSupportMask);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(std::get<std::int32_t>(mask->value), static_cast<std::int32_t>(kStoreUnicodeOk));

    ASSERT_EQ(back.recipients.size(), m.recipients.size());
    for (std::size_t i = 0; i < m.recipients.size(); ++i) {
        ExpectSameProperties(back.recipients[i].properties, m.recipients[i].properties,
                             "recipient " + std::to_string(i));
        EXPECT_EQ(back.recipients[i].properties.size(), m.recipients[i].properties.size());
    }
    ASSERT_EQ(back.attachments.size(), m.attachments.size());
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        ExpectSameProperties(back.attachments[i].properties, m.attachments[i].properties,
                             "attachment " + std::to_string(i));
        EXPECT_EQ(back.attachments[i].properties.size(), m.attachments[i].properties.size());
    }

    ASSERT_EQ(back.namedProperties.size(), m.namedProperties.size());
    for (std::size_t i = 0; i < m.namedProperties.size(); ++i) {
        NamedProperty expected = m.namedProperties[i];
        expected.id = static_cast<std::uint16_t>(0x8000 + i);
        EXPECT_EQ(back.namedProperties[i], expected) << i;
    }
}

TEST(RoundTrip, EveryValueTypeSurvives) {
    Message m;
    m.properties = {
        {MakeTag(0x6000, kPtI2), std::int16_t{-2}},
        {MakeTag(0x6001, kPtLong), std::int32_t{-123456}},
        {MakeTag(0x6002, kPtBoolean), false},
        {MakeTag(0x6003, kPtI8), std::int64_t{-0x123456789ABCLL}},
        {MakeTag(0x6004, kPtDouble), 3.25},
        {MakeTag(0x6005, kPtSysTime), FileTime{0x01D0000000000001ull}},
        {MakeTag(0x6006, kPtUnicode), std::u16string(u"\u65E5\u672C \U0001F4E0")},
        {MakeTag(0x6007, kPtBinary), Bytes{0, 1, 2, 0xFF}},
        {MakeTag(0x6008, kPtClsid), kPsetidAddress},
        {MakeTag(0x6009, kPtMvLong), std::vector<std::int32_t>{1, -1, 0x7FFFFFFF}},
        {MakeTag(0x600A, kPtMvUnicode), std::vector<std::u16string>{u"a", u"", u"long value"}},
        {MakeTag(0x600B, kPtMvBinary), std::vector<Bytes>{{}, {1}, PatternBytes(5000, 3)}},
        {MakeTag(0x600C, kPtMvString8), std::vector<std::string>{"caf\xE9"}},
        // A string just under and one just over the mini-stream cutoff.
        {MakeTag(0x600D, kPtUnicode), std::u16string(2047, u'x')},
        {MakeTag(0x600E, kPtUnicode), std::u16string(2048, u'y')},
        {MakeTag(0x600F, kPtBinary), PatternBytes(4095, 9)},
    };
    Bytes bytes;
    ASSERT_TRUE(BuildMsgFile(m, bytes));
    Message back;
    ASSERT_TRUE(ReadMsgFile(bytes, back));
    PropertyList expected = Expected(m.properties, {});
    for (Property& p : expected)
        if (p.tag == MakeTag(0x600C, kPtMvString8)) {
            p.tag = MakeTag(0x600C, kPtMvUnicode);
            p.value = std::vector<std::u16string>{u"café"};
        }
    ExpectSameProperties(back.properties, expected, "message");
}

TEST(RoundTrip, AttachmentsBeyondOneHundredNineFatSectors) {
    // More than 109 FAT sectors need DIFAT sectors: about 7 MB of sectors.
    Message m;
    Attachment a;
    Bytes data = PatternBytes(8u << 20, 5);
    a.properties = {{kPrAttachMethod, std::int32_t{1}}, {kPrAttachDataBin, data}};
    m.attachments.push_back(a);
    Bytes bytes;
    ASSERT_TRUE(BuildMsgFile(m, bytes));
    EXPECT_GT(ov::msgfile::detail::LoadU32(bytes.data() + 0x48), 0u);  // DIFAT sectors used
    Message back;
    Status status = ReadMsgFile(bytes, back);
    ASSERT_TRUE(status) << status.message;
    ASSERT_EQ(back.attachments.size(), 1u);
    const Property* got = FindProperty(back.attachments[0].properties, kPrAttachDataBin);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(std::get<Bytes>(got->value) == data);
}

TEST(WriterErrors, RecordsThatCannotBeWritten) {
    struct Case {
        const char* what;
        Message message;
        ErrorCode code;
    };
    auto withProperty = [](Property p) {
        Message m;
        m.properties.push_back(std::move(p));
        return m;
    };
    Message unmapped = withProperty({MakeTag(0x8005, kPtLong), std::int32_t{1}});
    Message mappedTwice;
    mappedTwice.namedProperties = {{0x8000, kPsPublicStrings, NameKind::kString, 0, u"A"},
                                   {0x8000, kPsPublicStrings, NameKind::kString, 0, u"B"}};
    Message sameName;
    sameName.namedProperties = {{0x8000, kPsPublicStrings, NameKind::kString, 0, u"A"},
                                {0x8001, kPsPublicStrings, NameKind::kString, 0, u"A"}};
    Message lowId;
    lowId.namedProperties = {{0x7FFF, kPsPublicStrings, NameKind::kString, 0, u"A"}};
    Message emptyName;
    emptyName.namedProperties = {{0x8000, kPsPublicStrings, NameKind::kString, 0, u""}};
    Message twice;
    twice.properties = {{kPrSubjectA, std::string("a")}, {kPrSubjectW, std::u16string(u"b")}};
    Message badRecipient;
    badRecipient.recipients.push_back({{{kPrDisplayNameW, std::string("8-bit in a W tag")}}});
    Message tooManyAttachments;
    tooManyAttachments.attachments.resize(2049);

    Case cases[] = {
        {"value type differs from the tag", withProperty({kPrSubjectW, std::int32_t{1}}),
         ErrorCode::kInvalidMessage},
        {"unsupported type", withProperty({MakeTag(0x6000, 0x000D), Bytes{}}),
         ErrorCode::kInvalidMessage},
        {"named id without a name", unmapped, ErrorCode::kInvalidMessage},
        {"named id mapped twice", mappedTwice, ErrorCode::kInvalidMessage},
        {"two ids for one name", sameName, ErrorCode::kInvalidMessage},
        {"named id below 0x8000", lowId, ErrorCode::kInvalidMessage},
        {"empty string name", emptyName, ErrorCode::kInvalidMessage},
        {"one property id twice", twice, ErrorCode::kInvalidMessage},
        {"bad recipient property", badRecipient, ErrorCode::kInvalidMessage},
        {"too many attachments", tooManyAttachments, ErrorCode::kTooLarge},
    };
    for (const Case& c : cases) {
        Bytes out;
        Status status = BuildMsgFile(c.message, out);
        EXPECT_EQ(status.code, c.code) << c.what;
        EXPECT_FALSE(status.message.empty()) << c.what;
    }
    // The limit itself is fine.
    tooManyAttachments.attachments.resize(2048);
    Bytes out;
    EXPECT_TRUE(BuildMsgFile(tooManyAttachments, out));
    // A converter that throws is reported, not propagated.
    WriteOptions throwing;
    throwing.ansiToUtf16 = [](std::string_view) -> std::u16string {
        throw std::runtime_error("no such code page");
    };
    Status status = BuildMsgFile(withProperty({kPrSubjectA, std::string("x")}), out, throwing);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find("no such code page"), std::string::npos);
}

std::vector<std::string> DirectoryNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFile, LandsCompleteWithOwnerOnlyAccess) {
    ScratchDir dir;
    const auto path = dir.path() / "00ABCDEF.msg";
    Message m = SampleFax();
    ASSERT_TRUE(WriteMsgFile(m, path));
    EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"00ABCDEF.msg"});
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    Bytes expected;
    ASSERT_TRUE(BuildMsgFile(m, expected));
    EXPECT_TRUE(ReadFileBytes(path) == expected);
    Message back;
    EXPECT_TRUE(ReadMsgFile(path, back));
}

TEST(WriteFile, NeverReplacesOrFollowsWhatIsThere) {
    ScratchDir dir;
    const auto existing = dir.path() / "taken.msg";
    { std::ofstream(existing) << "keep me"; }
    Status status = WriteMsgFile(SampleFax(), existing);
    EXPECT_EQ(status.code, ErrorCode::kFileExists) << status.message;
    EXPECT_EQ(ReadFileBytes(existing), (Bytes{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));

    // A link planted at the name, even a dangling one, is not written through.
    const auto target = dir.path() / "elsewhere";
    const auto link = dir.path() / "link.msg";
    std::filesystem::create_symlink(target, link);
    status = WriteMsgFile(SampleFax(), link);
    EXPECT_EQ(status.code, ErrorCode::kFileExists) << status.message;
    EXPECT_FALSE(std::filesystem::exists(target));
    // No temporary file is left behind in either case.
    EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"link.msg", "taken.msg"}));

    // A name reserved beforehand may be taken over when the caller says so;
    // a link there is replaced, not followed.
    WriteOptions replace;
    replace.replaceExisting = true;
    ASSERT_TRUE(WriteMsgFile(SampleFax(), existing, replace));
    ASSERT_TRUE(WriteMsgFile(SampleFax(), link, replace));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    Bytes expected;
    ASSERT_TRUE(BuildMsgFile(SampleFax(), expected));
    EXPECT_TRUE(ReadFileBytes(existing) == expected);
    EXPECT_TRUE(ReadFileBytes(link) == expected);
    EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"link.msg", "taken.msg"}));

    status = WriteMsgFile(SampleFax(), dir.path() / "missing" / "x.msg");
    EXPECT_EQ(status.code, ErrorCode::kIoError);
    EXPECT_FALSE(status.message.empty());
    // An invalid record fails before anything is created.
    Message bad;
    bad.properties = {{kPrSubjectW, true}};
    EXPECT_EQ(WriteMsgFile(bad, dir.path() / "bad.msg").code, ErrorCode::kInvalidMessage);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "bad.msg"));
}

}  // namespace
}  // namespace msgtest
