#include "test_support.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

namespace msgtest {

Bytes PatternBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

std::vector<SampleAttachment> SampleAttachments() {
    std::string text = "Cover note for the fax.\r\nSecond line.\r\n";
    return {
        {u"cover note.txt", u"COVERN~1.TXT", u".txt", Bytes(text.begin(), text.end())},
        // Large enough for many regular sectors and a FAT of several sectors.
        {u"scan of page 1.tif", u"SCANOF~1.TIF", u".tif", PatternBytes((1u << 20) + 123, 7)},
        // Exactly the mini-stream cutoff: the smallest stream in regular sectors.
        {u"edge.bin", u"EDGE.BIN", u".bin", PatternBytes(4096, 11)},
    };
}

Message SampleFax() {
    Message m;
    m.properties = {
        {kPrMessageClassA, std::string("IPM.Note.OrvaneNote")},
        {kPrSubjectA, kSubject1252},
        {kPrBodyW, kBody},
        {kPrImportance, std::int32_t{2}},
        {kPrMessageFlags, std::int32_t{0x8 | 0x10}},
        {kPrHasAttach, true},
        {kPrClientSubmitTime, FileTime{0x01DB4B0C12345678ull}},
        {kPrDisplayToW, std::u16string(u"Ann Smith")},
        {kPrDisplayCcW, std::u16string(u"Bob Jones")},
        {MakeTag(kIdOrvaneSign, kPtString8), std::string("Orvane Extended Properties")},
        {MakeTag(kIdCoverPage, kPtLong), std::int32_t{1}},
        {MakeTag(kIdHighRes, kPtBoolean), true},
        {MakeTag(kIdScheduleTime, kPtSysTime), FileTime{0x01DB4B0D00000000ull}},
        {MakeTag(kIdFax1Email, kPtUnicode), std::u16string(u"Ann Smith@+1 555 1234")},
        {MakeTag(kIdCommonFlag, kPtBoolean), false},
        {MakeTag(kIdCategories, kPtMvUnicode),
         std::vector<std::u16string>{u"Fax", u"Outbound", u"Été"}},
    };
    m.namedProperties = {
        {kIdOrvaneSign, kPsPublicStrings, NameKind::kString, 0, u"OrvaneSign"},
        {kIdCoverPage, kPsPublicStrings, NameKind::kString, 0, u"CVRPage"},
        {kIdHighRes, kPsPublicStrings, NameKind::kString, 0, u"HighRes"},
        {kIdScheduleTime, kPsPublicStrings, NameKind::kString, 0, u"ScheduleFT"},
        {kIdFax1Email, kPsetidAddress, NameKind::kId, 0x80B3, u""},
        {kIdCommonFlag, kPsetidCommon, NameKind::kId, 0x8514, u""},
        {kIdCategories, kPsPublicStrings, NameKind::kString, 0, u"Keywords"},
    };
    struct Who {
        std::u16string name, address;
        std::int32_t type;
    };
    const Who people[] = {{u"Ann Smith", u"Ann Smith@+1 555 1234", 1},
                          {u"Bob Jones", u"Bob Jones@+44 20 7946 0000", 2}};
    std::int32_t row = 0;
    for (const Who& who : people) {
        Recipient r;
        auto entryId = BuildOneOffEntryId(who.name, u"ORVANE", who.address);
        std::string searchKey = "ORVANE:";
        for (char16_t c : who.address) searchKey.push_back(static_cast<char>(std::toupper(c)));
        searchKey.push_back('\0');
        r.properties = {
            {kPrRecipientType, who.type},
            {kPrDisplayNameW, who.name},
            {kPrAddrTypeW, std::u16string(u"ORVANE")},
            {kPrEmailAddressW, who.address},
            {kPrEntryId, entryId.value_or(Bytes{})},
            {kPrSearchKey, Bytes(searchKey.begin(), searchKey.end())},
            {kPrObjectType, std::int32_t{6}},
            {kPrDisplayType, std::int32_t{0}},
            {kPrRowId, row++},
        };
        m.recipients.push_back(std::move(r));
    }
    std::int32_t number = 0;
    for (SampleAttachment& a : SampleAttachments()) {
        Attachment att;
        const auto size = static_cast<std::int32_t>(a.data.size());
        att.properties = {
            {kPrAttachNum, number++},
            {kPrAttachMethod, std::int32_t{1}},
            {kPrAttachLongFilenameW, a.longName},
            {kPrAttachFilenameW, a.shortName},
            {kPrAttachExtensionW, a.extension},
            {kPrAttachSize, size},
            {kPrRenderingPosition, std::int32_t{-1}},
            {kPrObjectType, std::int32_t{7}},
            {kPrAttachDataBin, std::move(a.data)},
        };
        m.attachments.push_back(std::move(att));
    }
    return m;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "msgfile-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    struct PipeCloser {
        void operator()(FILE* f) const {
            if (f) ::pclose(f);
        }
    };
    FILE* raw = ::popen(command.c_str(), "r");
    if (raw == nullptr) return result;
    std::array<char, 65536> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), raw)) > 0)
        result.output.append(buffer.data(), n);
    result.status = ::pclose(raw);
    return result;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace msgtest
