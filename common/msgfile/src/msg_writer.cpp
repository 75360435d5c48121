// Turns a message record into an MS-OXMSG file: one property stream per
// object, one stream per variable-size value, a storage per recipient and
// attachment, and the named-property mapping with its hash buckets.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <random>
#include <unordered_map>

#include "byte_io.h"
#include "cfb.h"
#include "msg_names.h"

namespace ov::msgfile {

namespace {

using detail::PutU16;
using detail::PutU32;
using detail::PutU64;
using detail::PutUtf16;

std::string Hex(std::uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, static_cast<unsigned>(value));
    return buffer;
}

Status Invalid(std::string what) { return {ErrorCode::kInvalidMessage, std::move(what)}; }

// The variant alternative each supported property type takes.
bool ValueMatchesType(std::uint16_t type, const PropertyValue& value) {
    switch (type) {
        case kPtI2:
            return std::holds_alternative<std::int16_t>(value);
        case kPtLong:
            return std::holds_alternative<std::int32_t>(value);
        case kPtBoolean:
            return std::holds_alternative<bool>(value);
        case kPtI8:
            return std::holds_alternative<std::int64_t>(value);
        case kPtDouble:
            return std::holds_alternative<double>(value);
        case kPtSysTime:
            return std::holds_alternative<FileTime>(value);
        case kPtString8:
            return std::holds_alternative<std::string>(value);
        case kPtUnicode:
            return std::holds_alternative<std::u16string>(value);
        case kPtBinary:
            return std::holds_alternative<Bytes>(value);
        case kPtClsid:
            return std::holds_alternative<Guid>(value);
        case kPtMvString8:
            return std::holds_alternative<std::vector<std::string>>(value);
        case kPtMvUnicode:
            return std::holds_alternative<std::vector<std::u16string>>(value);
        case kPtMvBinary:
            return std::holds_alternative<std::vector<Bytes>>(value);
        case kPtMvLong:
            return std::holds_alternative<std::vector<std::int32_t>>(value);
        default:
            return false;
    }
}

// A property as it goes into the file: its file tag (named ids renumbered,
// 8-bit strings turned into Unicode) and its value, converted when needed.
struct FileProperty {
    PropTag tag = 0;
    const PropertyValue* original = nullptr;
    std::optional<PropertyValue> converted;
    const PropertyValue& value() const { return converted ? *converted : *original; }
};

struct NameMapping {
    std::unordered_map<std::uint16_t, std::uint16_t> recordToFile;
};

class MsgBuilder {
public:
    MsgBuilder(const Message& message, const WriteOptions& options)
        : message_(message), options_(options) {}

    Status Build(Bytes& out) {
        if (Status s = MapNames(); !s) return s;
        if (message_.attachments.size() > detail::kMaxAttachments)
            return {ErrorCode::kTooLarge, "more than 2048 attachments"};

        const auto recipientCount = static_cast<std::uint32_t>(message_.recipients.size());
        const auto attachmentCount = static_cast<std::uint32_t>(message_.attachments.size());
        Bytes header(8, 0);
        PutU32(header, recipientCount);   // next recipient id
        PutU32(header, attachmentCount);  // next attachment id
        PutU32(header, recipientCount);
        PutU32(header, attachmentCount);
        header.resize(detail::kTopHeaderSize, 0);

        std::vector<FileProperty> top;
        if (Status s = Prepare(message_.properties, top); !s) return s;
        AddUnicodeSupportBit(top);
        if (Status s = WriteObject(cfb::Builder::kRoot, std::move(header), top); !s) return s;

        if (Status s = WriteNameId(); !s) return s;

        for (std::uint32_t i = 0; i < recipientCount; ++i) {
            auto storage = builder_.AddStorage(
                cfb::Builder::kRoot, detail::NumberedStorageName(detail::kRecipientPrefix, i));
            std::vector<FileProperty> props;
            if (Status s = Prepare(message_.recipients[i].properties, props); !s)
                return {s.code, "recipient " + std::to_string(i) + ": " + s.message};
            if (Status s = WriteObject(storage, Bytes(detail::kChildHeaderSize, 0), props); !s)
                return s;
        }
        for (std::uint32_t i = 0; i < attachmentCount; ++i) {
            auto storage = builder_.AddStorage(
                cfb::Builder::kRoot, detail::NumberedStorageName(detail::kAttachmentPrefix, i));
            std::vector<FileProperty> props;
            if (Status s = Prepare(message_.attachments[i].properties, props); !s)
                return {s.code, "attachment " + std::to_string(i) + ": " + s.message};
            if (Status s = WriteObject(storage, Bytes(detail::kChildHeaderSize, 0), props); !s)
                return s;
        }
        return builder_.Build(kClsidMailMessage, out);
    }

private:
    Status MapNames() {
        const auto& names = message_.namedProperties;
        if (names.size() > detail::kMaxNamedProperties)
            return {ErrorCode::kTooLarge, "more named properties than ids 0x8000-0xFFFE"};
        for (std::size_t i = 0; i < names.size(); ++i) {
            const NamedProperty& name = names[i];
            if (name.id < kFirstNamedId || name.id == 0xFFFF)
                return Invalid("named property id " + Hex(name.id, 4) + " is not in 0x8000-0xFFFE");
            if (name.kind == NameKind::kString && name.name.empty())
                return Invalid("named property " + Hex(name.id, 4) + " has an empty name");
            auto [it, inserted] =
                names_.recordToFile.emplace(name.id, static_cast<std::uint16_t>(kFirstNamedId + i));
            if (!inserted) return Invalid("named property id " + Hex(name.id, 4) + " mapped twice");
            for (std::size_t k = 0; k < i; ++k) {
                const NamedProperty& other = names[k];
                if (other.propertySet == name.propertySet && other.kind == name.kind &&
                    (name.kind == NameKind::kId ? other.lid == name.lid : other.name == name.name))
                    return Invalid("ids " + Hex(other.id, 4) + " and " + Hex(name.id, 4) +
                                   " name the same property");
            }
        }
        return Status::Ok();
    }

    std::u16string ToUnicode(std::string_view bytes) const {
        return options_.ansiToUtf16 ? options_.ansiToUtf16(bytes) : Windows1252ToUtf16(bytes);
    }

    Status Prepare(const PropertyList& properties, std::vector<FileProperty>& out) const {
        out.clear();
        out.reserve(properties.size());
        for (const Property& property : properties) {
            std::uint16_t type = TagType(property.tag);
            std::uint16_t id = TagId(property.tag);
            if (!ValueMatchesType(type, property.value))
                return Invalid("property " + Hex(property.tag, 8) +
                               " has a value that does not match its type");
            if (id >= kFirstNamedId) {
                auto it = names_.recordToFile.find(id);
                if (it == names_.recordToFile.end())
                    return Invalid("property " + Hex(property.tag, 8) +
                                   " uses a named id without a name");
                id = it->second;
            }
            FileProperty fp;
            fp.original = &property.value;
            if (type == kPtString8) {
                type = kPtUnicode;
                fp.converted = ToUnicode(std::get<std::string>(property.value));
            } else if (type == kPtMvString8) {
                type = kPtMvUnicode;
                std::vector<std::u16string> values;
                for (const std::string& v : std::get<std::vector<std::string>>(property.value))
                    values.push_back(ToUnicode(v));
                fp.converted = std::move(values);
            }
            fp.tag = MakeTag(id, type);
            // The format has no empty strings and no empty value lists.
            const PropertyValue& v = fp.value();
            if (type == kPtUnicode && std::get<std::u16string>(v).empty()) continue;
            if ((type & kMvFlag) && std::visit(
                                        [](const auto& x) {
                                            if constexpr (requires { x.empty(); })
                                                return x.empty();
                                            else
                                                return false;
                                        },
                                        v))
                continue;
            out.push_back(std::move(fp));
        }
        std::sort(out.begin(), out.end(),
                  [](const FileProperty& a, const FileProperty& b) { return a.tag < b.tag; });
        for (std::size_t i = 1; i < out.size(); ++i) {
            if (TagId(out[i - 1].tag) == TagId(out[i].tag))
                return Invalid("property id " + Hex(TagId(out[i].tag), 4) + " appears twice");
        }
        return Status::Ok();
    }

    // Every string in the file is Unicode; the store support mask says so.
    static void AddUnicodeSupportBit(std::vector<FileProperty>& top) {
        for (FileProperty& fp : top) {
            if (fp.tag == detail::kPrStoreSupportMask) {
                auto mask = static_cast<std::uint32_t>(std::get<std::int32_t>(fp.value()));
                fp.converted = static_cast<std::int32_t>(mask | detail::kStoreUnicodeOk);
                return;
            }
        }
        FileProperty fp;
        fp.tag = detail::kPrStoreSupportMask;
        fp.converted = static_cast<std::int32_t>(detail::kStoreUnicodeOk);
        top.insert(std::upper_bound(
                       top.begin(), top.end(), fp,
                       [](const FileProperty& a, const FileProperty& b) { return a.tag < b.tag; }),
                   std::move(fp));
    }

    Status WriteObject(cfb::Builder::NodeId storage, Bytes stream,
                       const std::vector<FileProperty>& properties) {
        const std::uint32_t flags = detail::kPropAttrReadable | detail::kPropAttrWritable;
        for (const FileProperty& fp : properties) {
            const std::uint16_t type = TagType(fp.tag);
            const PropertyValue& value = fp.value();
            PutU32(stream, fp.tag);
            PutU32(stream, flags);
            std::uint64_t fixed = 0;
            std::uint32_t size = 0;
            bool isFixed = true;
            switch (type) {
                case kPtI2:
                    fixed = static_cast<std::uint16_t>(std::get<std::int16_t>(value));
                    break;
                case kPtLong:
                    fixed = static_cast<std::uint32_t>(std::get<std::int32_t>(value));
                    break;
                case kPtBoolean:
                    fixed = std::get<bool>(value) ? 1 : 0;
                    break;
                case kPtI8:
                    fixed = static_cast<std::uint64_t>(std::get<std::int64_t>(value));
                    break;
                case kPtDouble:
                    fixed = std::bit_cast<std::uint64_t>(std::get<double>(value));
                    break;
                case kPtSysTime:
                    fixed = std::get<FileTime>(value).ticks;
                    break;
                default:
                    isFixed = false;
                    break;
            }
            if (isFixed) {
                PutU64(stream, fixed);
                continue;
            }
            const std::string name = detail::SubStreamName(fp.tag);
            switch (type) {
                case kPtUnicode: {
                    const auto& text = std::get<std::u16string>(value);
                    Bytes data;
                    data.reserve(text.size() * 2);
                    PutUtf16(data, text);
                    if (data.size() > 0x7FFFFFFD) return {ErrorCode::kTooLarge, "string too long"};
                    size = static_cast<std::uint32_t>(data.size() + 2);
                    builder_.AddStream(storage, name, std::move(data));
                    break;
                }
                case kPtBinary: {
                    const auto& data = std::get<Bytes>(value);
                    if (data.size() > 0x7FFFFFFF) return {ErrorCode::kTooLarge, "binary too long"};
                    size = static_cast<std::uint32_t>(data.size());
                    builder_.AddStreamView(storage, name, data);
                    break;
                }
                case kPtClsid: {
                    auto bytes = std::get<Guid>(value).ToBytes();
                    size = 16;
                    builder_.AddStream(storage, name, Bytes(bytes.begin(), bytes.end()));
                    break;
                }
                case kPtMvLong: {
                    Bytes data;
                    for (std::int32_t v : std::get<std::vector<std::int32_t>>(value))
                        PutU32(data, static_cast<std::uint32_t>(v));
                    size = static_cast<std::uint32_t>(data.size());
                    builder_.AddStream(storage, name, std::move(data));
                    break;
                }
                case kPtMvUnicode: {
                    // A length stream (byte count with the terminating NUL per
                    // value) and one NUL-terminated stream per value.
                    const auto& values = std::get<std::vector<std::u16string>>(value);
                    Bytes lengths;
                    for (std::uint32_t i = 0; i < values.size(); ++i) {
                        Bytes data;
                        PutUtf16(data, values[i]);
                        PutU16(data, 0);
                        PutU32(lengths, static_cast<std::uint32_t>(data.size()));
                        builder_.AddStream(storage, detail::SubStreamValueName(fp.tag, i),
                                           std::move(data));
                    }
                    size = static_cast<std::uint32_t>(lengths.size());
                    builder_.AddStream(storage, name, std::move(lengths));
                    break;
                }
                case kPtMvBinary: {
                    // Length entries are 8 bytes: the count, then 4 reserved.
                    const auto& values = std::get<std::vector<Bytes>>(value);
                    Bytes lengths;
                    for (std::uint32_t i = 0; i < values.size(); ++i) {
                        PutU32(lengths, static_cast<std::uint32_t>(values[i].size()));
                        PutU32(lengths, 0);
                        builder_.AddStreamView(storage, detail::SubStreamValueName(fp.tag, i),
                                               values[i]);
                    }
                    size = static_cast<std::uint32_t>(lengths.size());
                    builder_.AddStream(storage, name, std::move(lengths));
                    break;
                }
                default:
                    return Invalid("property type " + Hex(type, 4) + " is not supported");
            }
            PutU32(stream, size);
            PutU32(stream, 0);
        }
        builder_.AddStream(storage, detail::kPropertiesStream, std::move(stream));
        return Status::Ok();
    }

    Status WriteNameId() {
        auto storage = builder_.AddStorage(cfb::Builder::kRoot, detail::kNameIdStorage);
        Bytes guids, entries, strings;
        std::vector<Guid> guidList;
        std::map<std::uint32_t, Bytes> buckets;
        const auto& names = message_.namedProperties;
        for (std::size_t index = 0; index < names.size(); ++index) {
            const NamedProperty& name = names[index];
            std::uint16_t guidIndex;
            if (name.propertySet == kPsMapi) {
                guidIndex = detail::kGuidIndexPsMapi;
            } else if (name.propertySet == kPsPublicStrings) {
                guidIndex = detail::kGuidIndexPublicStrings;
            } else {
                auto it = std::find(guidList.begin(), guidList.end(), name.propertySet);
                if (it == guidList.end()) {
                    guidList.push_back(name.propertySet);
                    auto bytes = name.propertySet.ToBytes();
                    guids.insert(guids.end(), bytes.begin(), bytes.end());
                    it = guidList.end() - 1;
                }
                guidIndex = static_cast<std::uint16_t>(detail::kFirstStreamGuidIndex +
                                                       (it - guidList.begin()));
            }
            const bool isString = name.kind == NameKind::kString;
            const std::uint32_t indexAndKind = (static_cast<std::uint32_t>(index) << 16) |
                                               (static_cast<std::uint32_t>(guidIndex) << 1) |
                                               (isString ? 1u : 0u);
            std::uint32_t key = name.lid;
            std::uint32_t hash = name.lid;
            if (isString) {
                key = static_cast<std::uint32_t>(strings.size());
                PutU32(strings, static_cast<std::uint32_t>(name.name.size() * 2));
                PutUtf16(strings, name.name);
                strings.resize((strings.size() + 3) & ~std::size_t{3}, 0);
                hash = detail::NameCrc(name.name, name.propertySet);
            }
            PutU32(entries, key);
            PutU32(entries, indexAndKind);
            Bytes& bucket = buckets[detail::BucketStreamId(hash, guidIndex, name.kind)];
            PutU32(bucket, hash);
            PutU32(bucket, indexAndKind);
        }
        builder_.AddStream(storage,
                           detail::SubStreamName(MakeTag(detail::kGuidStreamId, kPtBinary)),
                           std::move(guids));
        builder_.AddStream(storage,
                           detail::SubStreamName(MakeTag(detail::kEntryStreamId, kPtBinary)),
                           std::move(entries));
        builder_.AddStream(storage,
                           detail::SubStreamName(MakeTag(detail::kStringStreamId, kPtBinary)),
                           std::move(strings));
        for (auto& [id, bucket] : buckets)
            builder_.AddStream(
                storage, detail::SubStreamName(MakeTag(static_cast<std::uint16_t>(id), kPtBinary)),
                std::move(bucket));
        return Status::Ok();
    }

    const Message& message_;
    const WriteOptions& options_;
    NameMapping names_;
    cfb::Builder builder_;
};

// A descriptor that closes itself.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int Close() {
        int result = 0;
        if (fd_ >= 0) result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Removes the temporary name when the write is over, whatever the outcome.
class UnlinkOnExit {
public:
    explicit UnlinkOnExit(std::filesystem::path path) : path_(std::move(path)) {}
    ~UnlinkOnExit() { ::unlink(path_.c_str()); }
    UnlinkOnExit(const UnlinkOnExit&) = delete;
    UnlinkOnExit& operator=(const UnlinkOnExit&) = delete;

private:
    std::filesystem::path path_;
};

Status IoError(const std::string& what, int error) {
    return {ErrorCode::kIoError, what + ": " + std::strerror(error)};
}

Status WriteAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoError("cannot write the file", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return Status::Ok();
}

Status WriteFile(const Message& message, const std::filesystem::path& path,
                 const WriteOptions& options) {
    Bytes bytes;
    if (Status s = BuildMsgFile(message, bytes, options); !s) return s;

    if (!path.has_filename()) return {ErrorCode::kIoError, "no file name in " + path.string()};
    const std::filesystem::path directory =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // A hidden name the fax server's pickup scan does not match.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.%08x.partial", static_cast<long>(::getpid()),
                      counter.fetch_add(1), static_cast<unsigned>(random()));
        temporary = directory / ("." + path.filename().string() + suffix);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return IoError("cannot create " + temporary.string(), errno);
    }
    if (fd < 0) return {ErrorCode::kIoError, "no free temporary name in " + directory.string()};
    FileDescriptor file(fd);
    UnlinkOnExit cleanup(temporary);
    if (Status s = WriteAll(file.get(), bytes); !s) return s;
    if (::fsync(file.get()) != 0) return IoError("cannot flush " + temporary.string(), errno);
    if (file.Close() != 0) return IoError("cannot close " + temporary.string(), errno);
    if (options.replaceExisting) {
        // rename() swaps the name over atomically and replaces a link itself.
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            return IoError("cannot create " + path.string(), errno);
    } else if (::link(temporary.c_str(), path.c_str()) != 0) {
        // link() never replaces an existing name: exclusive as well as atomic.
        if (errno == EEXIST) return {ErrorCode::kFileExists, path.string() + " already exists"};
        return IoError("cannot create " + path.string(), errno);
    }
    // Make the new name itself durable; not every file system can sync a
    // directory, and the file is complete either way.
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return Status::Ok();
}

}  // namespace

namespace detail {
std::uint32_t NameCrc(std::u16string_view name, const Guid& propertySet) {
    Bytes bytes;
    bytes.reserve(name.size() * 2);
    const bool lower = propertySet == kPsInternetHeaders;
    for (char16_t c : name) {
        if (lower && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        PutU16(bytes, static_cast<std::uint16_t>(c));
    }
    return RtfCrc32(bytes);
}
}  // namespace detail

Status BuildMsgFile(const Message& message, Bytes& out, const WriteOptions& options) noexcept {
    try {
        MsgBuilder builder(message, options);
        return builder.Build(out);
    } catch (const std::bad_alloc&) {
        return {ErrorCode::kOutOfMemory, "out of memory while building the .msg file"};
    } catch (const std::exception& e) {
        return {ErrorCode::kInvalidMessage, std::string("cannot build the .msg file: ") + e.what()};
    } catch (...) {
        return {ErrorCode::kInvalidMessage, "cannot build the .msg file"};
    }
}

Status WriteMsgFile(const Message& message, const std::filesystem::path& path,
                    const WriteOptions& options) noexcept {
    try {
        return WriteFile(message, path, options);
    } catch (const std::bad_alloc&) {
        return {ErrorCode::kOutOfMemory, "out of memory while writing the .msg file"};
    } catch (const std::exception& e) {
        return {ErrorCode::kIoError, std::string("cannot write the .msg file: ") + e.what()};
    } catch (...) {
        return {ErrorCode::kIoError, "cannot write the .msg file"};
    }
}

}  // namespace ov::msgfile
