// Names and numbers of the MS-OXMSG layout shared by the writer and the reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ovmsgfile/msgfile.h"

namespace ov::msgfile::detail {

inline constexpr char kPropertiesStream[] = "__properties_version1.0";
inline constexpr char kNameIdStorage[] = "__nameid_version1.0";
inline constexpr char kRecipientPrefix[] = "__recip_version1.0_#";
inline constexpr char kAttachmentPrefix[] = "__attach_version1.0_#";
inline constexpr char kSubStreamPrefix[] = "__substg1.0_";

inline constexpr std::size_t kTopHeaderSize = 32;
inline constexpr std::size_t kEmbeddedHeaderSize = 24;
inline constexpr std::size_t kChildHeaderSize = 8;
inline constexpr std::size_t kPropertyEntrySize = 16;

inline constexpr std::uint32_t kPropAttrReadable = 0x2;
inline constexpr std::uint32_t kPropAttrWritable = 0x4;

inline constexpr PropTag kPrStoreSupportMask = 0x340D0003;
inline constexpr std::uint32_t kStoreUnicodeOk = 0x00040000;

// Named-property mapping: GUID indexes 1 and 2 are implied, 3 and up index
// the GUID stream.
inline constexpr std::uint16_t kGuidIndexPsMapi = 1;
inline constexpr std::uint16_t kGuidIndexPublicStrings = 2;
inline constexpr std::uint16_t kFirstStreamGuidIndex = 3;
inline constexpr std::uint32_t kGuidStreamId = 0x0002;
inline constexpr std::uint32_t kEntryStreamId = 0x0003;
inline constexpr std::uint32_t kStringStreamId = 0x0004;
inline constexpr std::uint32_t kFirstBucketStreamId = 0x1000;
inline constexpr std::uint32_t kBucketCount = 0x1F;
inline constexpr std::size_t kMaxNamedProperties = 0x7FFF;  // ids 0x8000..0xFFFE
inline constexpr std::size_t kMaxAttachments = 2048;

// "__substg1.0_0037001F"
inline std::string SubStreamName(PropTag tag) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%08X", kSubStreamPrefix, static_cast<unsigned>(tag));
    return buffer;
}
// "__substg1.0_8000101F-00000002": one value of a variable-size multi-valued property.
inline std::string SubStreamValueName(PropTag tag, std::uint32_t index) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%s%08X-%08X", kSubStreamPrefix,
                  static_cast<unsigned>(tag), static_cast<unsigned>(index));
    return buffer;
}
// "__recip_version1.0_#0000000A"
inline std::string NumberedStorageName(const char* prefix, std::uint32_t number) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%s%08X", prefix, static_cast<unsigned>(number));
    return buffer;
}

// Bucket stream id for a name: MS-OXMSG 2.2.3.2.
inline std::uint32_t BucketStreamId(std::uint32_t nameOrCrc, std::uint16_t guidIndex,
                                    NameKind kind) {
    std::uint32_t key =
        (static_cast<std::uint32_t>(guidIndex) << 1) | (kind == NameKind::kString ? 1u : 0u);
    return kFirstBucketStreamId + ((nameOrCrc ^ key) % kBucketCount);
}

// CRC of a string name as the bucket hash takes it: UTF-16LE bytes, and
// PS_INTERNET_HEADERS names lower-cased first.
std::uint32_t NameCrc(std::u16string_view name, const Guid& propertySet);

}  // namespace ov::msgfile::detail
