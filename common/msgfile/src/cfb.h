// Compound File Binary (MS-CFB) version 3: a writer that lays out a tree of
// storages and streams in one pass, and a reader with bounded memory for
// files from elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ovmsgfile/msgfile.h"

namespace ov::msgfile::cfb {

constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::size_t kMiniStreamCutoff = 4096;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kHeaderDifatSlots = 109;
constexpr std::size_t kMaxNameChars = 31;

enum class EntryType : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

// Directory order of MS-CFB 2.6.4: shorter names first, equal lengths by
// upper-cased UTF-16 code units.
int CompareNames(const std::u16string& a, const std::u16string& b);

class Builder {
public:
    using NodeId = std::size_t;
    static constexpr NodeId kRoot = 0;

    Builder();
    // Names are ASCII here; they must be unique within their storage.
    NodeId AddStorage(NodeId parent, std::string_view name);
    void AddStream(NodeId parent, std::string_view name, Bytes data);
    // The bytes are not copied; they must outlive Build.
    void AddStreamView(NodeId parent, std::string_view name, std::span<const std::uint8_t> data);

    Status Build(const Guid& rootClass, Bytes& out) const;

private:
    struct Node {
        std::u16string name;
        EntryType type = EntryType::kStream;
        std::vector<NodeId> children;
        Bytes owned;
        std::span<const std::uint8_t> view;
        bool usesView = false;
        std::span<const std::uint8_t> data() const { return usesView ? view : std::span(owned); }
    };
    NodeId AddNode(NodeId parent, std::string_view name, EntryType type);
    std::vector<Node> nodes_;
};

struct Entry {
    std::u16string name;
    EntryType type = EntryType::kUnused;
    std::uint32_t startSector = 0;
    std::uint64_t size = 0;
    std::vector<std::uint32_t> children;  // directory indexes, in tree order
    std::array<std::uint8_t, 16> clsid{};
    std::uint8_t color = 1;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
};

class Reader {
public:
    // Parses the header, allocation tables and directory. The file bytes
    // must outlive the reader.
    Status Open(std::span<const std::uint8_t> file, std::size_t maxEntries);
    const std::vector<Entry>& entries() const { return entries_; }
    // Index of the child of storage `parent` with this name, or kNoStream.
    std::uint32_t Find(std::uint32_t parent, std::u16string_view name) const;
    // Reads a stream. The bytes all reads together may return are capped at
    // twice the file size, so shared sectors cannot multiply memory.
    Status ReadStream(std::uint32_t index, Bytes& out);
    std::size_t sectorSize() const { return sectorSize_; }

private:
    std::span<const std::uint8_t> Sector(std::uint32_t sector) const;
    Status ReadRegular(std::uint32_t start, std::uint64_t size, Bytes& out) const;
    Status ReadMini(std::uint32_t start, std::uint64_t size, Bytes& out) const;
    // Sectors of a chain whose length is not recorded (directory, mini FAT).
    Status CollectChain(std::uint32_t start, std::vector<std::uint32_t>& sectors) const;
    Status LinkChildren();

    std::span<const std::uint8_t> file_;
    std::size_t sectorSize_ = kSectorSize;
    std::size_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    Bytes miniStream_;
    std::vector<Entry> entries_;
    std::uint64_t budget_ = 0;
};

}  // namespace ov::msgfile::cfb
