// Outlook item files (.msg, MS-OXMSG over a compound file): a record of one
// message that does not depend on any message store, a writer that turns the
// record into a file or a byte buffer, a reader that turns a file back into
// the record, and the one-off recipient entry identifier of MS-OXCDATA.
//
// No function here throws; failures come back as a Status with a code and a
// sentence that names what was wrong.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ov::msgfile {

// ------------------------------------------------------------- tags, types
// A property tag: the property id in the high 16 bits, MAPI's property type
// in the low 16 bits.
using PropTag = std::uint32_t;

constexpr std::uint16_t kPtI2 = 0x0002;
constexpr std::uint16_t kPtLong = 0x0003;
constexpr std::uint16_t kPtDouble = 0x0005;
constexpr std::uint16_t kPtBoolean = 0x000B;
constexpr std::uint16_t kPtI8 = 0x0014;
constexpr std::uint16_t kPtString8 = 0x001E;
constexpr std::uint16_t kPtUnicode = 0x001F;
constexpr std::uint16_t kPtSysTime = 0x0040;
constexpr std::uint16_t kPtClsid = 0x0048;
constexpr std::uint16_t kPtBinary = 0x0102;
constexpr std::uint16_t kMvFlag = 0x1000;
constexpr std::uint16_t kPtMvLong = kMvFlag | kPtLong;
constexpr std::uint16_t kPtMvString8 = kMvFlag | kPtString8;
constexpr std::uint16_t kPtMvUnicode = kMvFlag | kPtUnicode;
constexpr std::uint16_t kPtMvBinary = kMvFlag | kPtBinary;

constexpr PropTag MakeTag(std::uint16_t id, std::uint16_t type) {
    return (static_cast<PropTag>(id) << 16) | type;
}
constexpr std::uint16_t TagId(PropTag tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint16_t TagType(PropTag tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

// Named properties use ids from here up to 0xFFFE.
constexpr std::uint16_t kFirstNamedId = 0x8000;

// ------------------------------------------------------------------- GUIDs
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
    // The 16 bytes as files store them: data1..data3 little-endian, data4 as is.
    std::array<std::uint8_t, 16> ToBytes() const;
    static Guid FromBytes(std::span<const std::uint8_t, 16> bytes);
};

// {l-0000-0000-C000-000000000046}, the form of all of MAPI's own GUIDs.
constexpr Guid OleGuid(std::uint32_t data1) {
    return Guid{data1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}
constexpr Guid kPsMapi = OleGuid(0x00020328);
constexpr Guid kPsPublicStrings = OleGuid(0x00020329);
constexpr Guid kPsInternetHeaders = OleGuid(0x00020386);
constexpr Guid kPsetidAddress = OleGuid(0x00062004);
constexpr Guid kPsetidCommon = OleGuid(0x00062008);
// Class of the root storage of every .msg file.
constexpr Guid kClsidMailMessage = OleGuid(0x00020D0B);

// ------------------------------------------------------------------ values
using Bytes = std::vector<std::uint8_t>;

// PT_SYSTIME: 100-nanosecond intervals since 1601-01-01 UTC.
struct FileTime {
    std::uint64_t ticks = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// One alternative per supported property type. The alternative must match the
// type in the tag:
//   PT_I2 int16_t, PT_LONG int32_t, PT_BOOLEAN bool, PT_I8 int64_t,
//   PT_DOUBLE double, PT_SYSTIME FileTime, PT_STRING8 std::string (bytes in
//   the system code page), PT_UNICODE std::u16string, PT_BINARY Bytes,
//   PT_CLSID Guid, PT_MV_STRING8 std::vector<std::string>, PT_MV_UNICODE
//   std::vector<std::u16string>, PT_MV_BINARY std::vector<Bytes>,
//   PT_MV_LONG std::vector<int32_t>.
using PropertyValue =
    std::variant<std::int16_t, std::int32_t, bool, std::int64_t, double, FileTime, std::string,
                 std::u16string, Bytes, Guid, std::vector<std::string>, std::vector<std::u16string>,
                 std::vector<Bytes>, std::vector<std::int32_t>>;

struct Property {
    PropTag tag = 0;
    PropertyValue value;
    friend bool operator==(const Property&, const Property&) = default;
};
using PropertyList = std::vector<Property>;

// The property with this tag, or null.
const Property* FindProperty(const PropertyList& properties, PropTag tag);

// -------------------------------------------------------- named properties
enum class NameKind : std::uint8_t {
    kId = 0,      // MNID_ID: a numeric name (long id)
    kString = 1,  // MNID_STRING: a UTF-16 name
};

// Says which name a property id of 0x8000 or above stands for in this
// record. The ids are the record's own (a store's mapping, say); the writer
// renumbers them from 0x8000 in the order of Message::namedProperties.
struct NamedProperty {
    std::uint16_t id = 0;
    Guid propertySet;
    NameKind kind = NameKind::kString;
    std::uint32_t lid = 0;  // kind kId
    std::u16string name;    // kind kString
    friend bool operator==(const NamedProperty&, const NamedProperty&) = default;
};

// ------------------------------------------------------------------ records
struct Recipient {
    PropertyList properties;
    friend bool operator==(const Recipient&, const Recipient&) = default;
};

// By-value attachments keep their bytes in PR_ATTACH_DATA_BIN (0x37010102).
struct Attachment {
    PropertyList properties;
    friend bool operator==(const Attachment&, const Attachment&) = default;
};

struct Message {
    PropertyList properties;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
    std::vector<NamedProperty> namedProperties;
    friend bool operator==(const Message&, const Message&) = default;
};

// ------------------------------------------------------------------ results
enum class ErrorCode {
    kOk = 0,
    kInvalidMessage,  // the record cannot be written (type mismatch, unmapped name, ...)
    kTooLarge,        // beyond what the file format or the reader's limits allow
    kFileExists,      // the target file already exists
    kIoError,         // creating or writing the file failed
    kCorrupt,         // the input is not a well-formed .msg file
    kOutOfMemory,
};

struct Status {
    ErrorCode code = ErrorCode::kOk;
    std::string message;  // empty when code is kOk

    bool ok() const { return code == ErrorCode::kOk; }
    explicit operator bool() const { return ok(); }
    static Status Ok() { return {}; }
};

// ------------------------------------------------------------------- writer
struct WriteOptions {
    // Converts PT_STRING8 bytes to UTF-16. The writer stores every string as
    // PT_UNICODE (and PT_MV_STRING8 as PT_MV_UNICODE), so the file says
    // STORE_UNICODE_OK and readers need not guess the code page. Empty: the
    // bytes are taken as Windows-1252. Programs pass the platform layer's
    // ov::AnsiToUtf16 so the configured system code page applies.
    std::function<std::u16string(std::string_view)> ansiToUtf16;

    // WriteMsgFile only: replace a file already at the path (one whose name
    // was reserved beforehand, say by creating it empty) instead of failing
    // with kFileExists. The replacement is still atomic, and a link at the
    // path is replaced, never written through.
    bool replaceExisting = false;
};

// Builds the file in memory. Empty strings are left out (the format does
// not allow them); PR_STORE_SUPPORT_MASK gets STORE_UNICODE_OK added.
Status BuildMsgFile(const Message& message, Bytes& out, const WriteOptions& options = {}) noexcept;

// Writes the file at path. The file appears complete or not at all: the bytes
// go to an exclusively created hidden file in the same directory (mode 0600,
// links not followed) that is then linked to its name. An existing file of
// that name is not replaced (kFileExists) unless options.replaceExisting.
Status WriteMsgFile(const Message& message, const std::filesystem::path& path,
                    const WriteOptions& options = {}) noexcept;

// ------------------------------------------------------------------- reader
struct ReadLimits {
    std::size_t maxFileBytes = 256u << 20;
    std::size_t maxRecipients = 2048;
    std::size_t maxAttachments = 2048;
    std::size_t maxDirectoryEntries = 65536;
};

// Reads a file written by this writer or by other programs. Strings come back
// as they are stored (PT_UNICODE as std::u16string, PT_STRING8 as bytes);
// named properties come back with the file's ids (0x8000 + index) and the
// mapping in namedProperties. Embedded-message attachments are not opened.
Status ReadMsgFile(std::span<const std::uint8_t> file, Message& out,
                   const ReadLimits& limits = {}) noexcept;
Status ReadMsgFile(const std::filesystem::path& path, Message& out,
                   const ReadLimits& limits = {}) noexcept;

// ---------------------------------------------------- one-off entry IDs
// Flags word of a one-off entry identifier (MS-OXCDATA 2.2.5.1).
constexpr std::uint16_t kOneOffUnicode = 0x8000;     // MAPI_ONE_OFF_UNICODE
constexpr std::uint16_t kOneOffDontLookup = 0x1000;  // do not resolve in the address book
constexpr std::uint16_t kOneOffNoRichInfo = 0x0001;  // MAPI_ONE_OFF_NO_RICH_INFO
constexpr std::uint16_t kOneOffFormatTextOnly = 0x0006;

// MAPI_ONE_OFF_UID, the provider of every one-off entry identifier.
constexpr std::array<std::uint8_t, 16> kOneOffProviderUid = {
    0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};

// Unicode form: the strings in UTF-16LE, kOneOffUnicode is added to flags.
// Nothing when a string holds a NUL (it would end the field early).
std::optional<Bytes> BuildOneOffEntryId(std::u16string_view displayName,
                                        std::u16string_view addressType,
                                        std::u16string_view emailAddress,
                                        std::uint16_t flags = kOneOffNoRichInfo) noexcept;
// ANSI form: the strings as 8-bit bytes, kOneOffUnicode is removed from flags.
std::optional<Bytes> BuildOneOffEntryIdAnsi(std::string_view displayName,
                                            std::string_view addressType,
                                            std::string_view emailAddress,
                                            std::uint16_t flags = kOneOffNoRichInfo) noexcept;

struct OneOffEntryId {
    std::uint16_t flags = 0;
    // Unicode form: UTF-16 as stored; ANSI form: converted as Windows-1252.
    std::u16string displayName;
    std::u16string addressType;
    std::u16string emailAddress;
};
// Parses either form; nothing when the bytes are not a one-off entry identifier.
std::optional<OneOffEntryId> ParseOneOffEntryId(std::span<const std::uint8_t> entryId) noexcept;

// ----------------------------------------------------------------- helpers
// UTF-16 of Windows-1252 bytes (the writer's default conversion).
std::u16string Windows1252ToUtf16(std::string_view bytes);
// The MS-OXRTFCP CRC-32 (initial value 0, no final inversion), used for the
// string-name hash of named properties.
std::uint32_t RtfCrc32(std::span<const std::uint8_t> bytes);

}  // namespace ov::msgfile
