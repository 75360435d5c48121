// Shared pieces of the .msg tests: property tags, a fax-like sample message,
// a private scratch directory and a command runner.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "ovmsgfile/msgfile.h"

namespace msgtest {

using namespace ov::msgfile;

constexpr PropTag kPrMessageClassA = 0x001A001E;
constexpr PropTag kPrMessageClassW = 0x001A001F;
constexpr PropTag kPrSubjectA = 0x0037001E;
constexpr PropTag kPrSubjectW = 0x0037001F;
constexpr PropTag kPrBodyW = 0x1000001F;
constexpr PropTag kPrImportance = 0x00170003;
constexpr PropTag kPrMessageFlags = 0x0E070003;
constexpr PropTag kPrHasAttach = 0x0E1B000B;
constexpr PropTag kPrClientSubmitTime = 0x00390040;
constexpr PropTag kPrDisplayToW = 0x0E04001F;
constexpr PropTag kPrDisplayCcW = 0x0E03001F;
constexpr PropTag kPrStoreSupportMask = 0x340D0003;
constexpr PropTag kPrRecipientType = 0x0C150003;
constexpr PropTag kPrDisplayNameW = 0x3001001F;
constexpr PropTag kPrAddrTypeW = 0x3002001F;
constexpr PropTag kPrEmailAddressW = 0x3003001F;
constexpr PropTag kPrEntryId = 0x0FFF0102;
constexpr PropTag kPrSearchKey = 0x300B0102;
constexpr PropTag kPrObjectType = 0x0FFE0003;
constexpr PropTag kPrDisplayType = 0x39000003;
constexpr PropTag kPrRowId = 0x30000003;
constexpr PropTag kPrAttachNum = 0x0E210003;
constexpr PropTag kPrAttachMethod = 0x37050003;
constexpr PropTag kPrAttachDataBin = 0x37010102;
constexpr PropTag kPrAttachFilenameW = 0x3704001F;
constexpr PropTag kPrAttachLongFilenameW = 0x3707001F;
constexpr PropTag kPrAttachExtensionW = 0x3703001F;
constexpr PropTag kPrAttachSize = 0x0E200003;
constexpr PropTag kPrRenderingPosition = 0x370B0003;

constexpr std::uint32_t kStoreUnicodeOk = 0x00040000;

// Record ids the sample uses for its named properties: deliberately not
// 0x8000 upwards, as a store's own mapping would not be either.
constexpr std::uint16_t kIdOrvaneSign = 0x8123;
constexpr std::uint16_t kIdCoverPage = 0x8124;
constexpr std::uint16_t kIdHighRes = 0x8200;
constexpr std::uint16_t kIdScheduleTime = 0x8201;
constexpr std::uint16_t kIdFax1Email = 0x8300;
constexpr std::uint16_t kIdCommonFlag = 0x8301;
constexpr std::uint16_t kIdCategories = 0x8302;

// "Fax für Zürich – Angebot" in Windows-1252.
inline const std::string kSubject1252 = "Fax f\xFCr Z\xFCrich \x96 Angebot";
inline const std::u16string kSubjectUtf16 = u"Fax für Zürich – Angebot";
inline const std::u16string kBody = u"Hello,\r\nplease find the fax attached.\r\nRegards\r\n";

// Deterministic bytes that look like nothing in particular.
Bytes PatternBytes(std::size_t size, std::uint32_t seed);

struct SampleAttachment {
    std::u16string longName;
    std::u16string shortName;
    std::u16string extension;
    Bytes data;
};
std::vector<SampleAttachment> SampleAttachments();

// A fax as the transport hands it over: two ORVANE recipients, three
// attachments (one of about 1 MB) and named properties of both kinds.
Message SampleFax();

// A fresh directory removed at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs a shell command; its standard output, and the exit status.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult RunCommand(const std::string& command);
std::string ShellQuote(const std::string& text);

Bytes ReadFileBytes(const std::filesystem::path& path);
std::string Utf8(std::u16string_view text);

}  // namespace msgtest
