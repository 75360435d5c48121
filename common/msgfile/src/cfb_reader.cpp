// Reads compound files from elsewhere. Every number taken from the file is
// checked before use; chains are bounded by the file's sector count, and the
// bytes handed out are bounded by the file size.
#include <algorithm>
#include <cstring>

#include "byte_io.h"
#include "cfb.h"

namespace ov::msgfile::cfb {

using detail::LoadU16;
using detail::LoadU32;
using detail::LoadU64;

namespace {
Status Corrupt(std::string what) { return {ErrorCode::kCorrupt, std::move(what)}; }
}  // namespace

std::span<const std::uint8_t> Reader::Sector(std::uint32_t sector) const {
    if (sector >= sectorCount_) return {};
    std::size_t offset = (static_cast<std::size_t>(sector) + 1) * sectorSize_;
    std::size_t length = std::min(sectorSize_, file_.size() - offset);
    return file_.subspan(offset, length);
}

Status Reader::CollectChain(std::uint32_t start, std::vector<std::uint32_t>& sectors) const {
    sectors.clear();
    std::uint32_t current = start;
    while (current != kEndOfChain) {
        if (current >= fat_.size() || current >= sectorCount_)
            return Corrupt("sector chain leaves the file");
        if (sectors.size() >= sectorCount_) return Corrupt("sector chain loops");
        sectors.push_back(current);
        current = fat_[current];
    }
    return Status::Ok();
}

Status Reader::ReadRegular(std::uint32_t start, std::uint64_t size, Bytes& out) const {
    out.clear();
    if (size > static_cast<std::uint64_t>(sectorCount_) * sectorSize_)
        return Corrupt("stream larger than the file");
    out.reserve(static_cast<std::size_t>(size));
    std::uint32_t current = start;
    std::uint64_t remaining = size;
    while (remaining > 0) {
        if (current >= fat_.size()) return Corrupt("stream chain leaves the file");
        std::span<const std::uint8_t> sector = Sector(current);
        std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, sectorSize_));
        if (sector.size() < take) return Corrupt("stream chain leaves the file");
        out.insert(out.end(), sector.begin(), sector.begin() + static_cast<std::ptrdiff_t>(take));
        remaining -= take;
        current = fat_[current];
    }
    return Status::Ok();
}

Status Reader::ReadMini(std::uint32_t start, std::uint64_t size, Bytes& out) const {
    out.clear();
    if (size > miniStream_.size()) return Corrupt("stream larger than the mini stream");
    out.reserve(static_cast<std::size_t>(size));
    std::uint32_t current = start;
    std::uint64_t remaining = size;
    while (remaining > 0) {
        if (current >= miniFat_.size()) return Corrupt("mini stream chain out of range");
        std::size_t offset = static_cast<std::size_t>(current) * kMiniSectorSize;
        std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kMiniSectorSize));
        if (offset + take > miniStream_.size()) return Corrupt("mini stream chain out of range");
        out.insert(out.end(), miniStream_.begin() + static_cast<std::ptrdiff_t>(offset),
                   miniStream_.begin() + static_cast<std::ptrdiff_t>(offset + take));
        remaining -= take;
        current = miniFat_[current];
    }
    return Status::Ok();
}

Status Reader::Open(std::span<const std::uint8_t> file, std::size_t maxEntries) {
    static constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    file_ = file;
    if (file.size() < 512 || std::memcmp(file.data(), kSignature, 8) != 0)
        return Corrupt("not a compound file");
    const std::uint8_t* h = file.data();
    const std::uint16_t major = LoadU16(h + 0x1A);
    const std::uint16_t shift = LoadU16(h + 0x1E);
    if (LoadU16(h + 0x1C) != 0xFFFE) return Corrupt("compound file byte order mark missing");
    if (!((major == 3 && shift == 9) || (major == 4 && shift == 12)))
        return Corrupt("unsupported compound file version");
    if (LoadU16(h + 0x20) != 6 || LoadU32(h + 0x38) != kMiniStreamCutoff)
        return Corrupt("unsupported mini stream parameters");
    sectorSize_ = std::size_t{1} << shift;
    if (file.size() <= sectorSize_) return Corrupt("compound file without sectors");
    sectorCount_ = (file.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    budget_ = 2 * static_cast<std::uint64_t>(file.size());

    // FAT sector numbers: 109 in the header, the rest in the DIFAT chain.
    const std::uint32_t fatCount = LoadU32(h + 0x2C);
    if (fatCount == 0 || fatCount > sectorCount_) return Corrupt("bad FAT sector count");
    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(fatCount);
    for (std::size_t i = 0; i < kHeaderDifatSlots && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(LoadU32(h + 0x4C + 4 * i));
    std::uint32_t difat = LoadU32(h + 0x44);
    const std::size_t perDifat = sectorSize_ / 4 - 1;
    for (std::size_t steps = 0; fatSectors.size() < fatCount; ++steps) {
        std::span<const std::uint8_t> sector = Sector(difat);
        if (sector.size() < sectorSize_ || steps >= sectorCount_)
            return Corrupt("DIFAT chain broken");
        for (std::size_t k = 0; k < perDifat && fatSectors.size() < fatCount; ++k)
            fatSectors.push_back(LoadU32(sector.data() + 4 * k));
        difat = LoadU32(sector.data() + 4 * perDifat);
    }
    fat_.clear();
    fat_.reserve(fatCount * (sectorSize_ / 4));
    for (std::uint32_t s : fatSectors) {
        std::span<const std::uint8_t> sector = Sector(s);
        if (sector.size() < sectorSize_) return Corrupt("FAT sector outside the file");
        for (std::size_t k = 0; k < sectorSize_ / 4; ++k)
            fat_.push_back(LoadU32(sector.data() + 4 * k));
    }

    // Directory.
    std::vector<std::uint32_t> chain;
    if (Status s = CollectChain(LoadU32(h + 0x30), chain); !s) return s;
    if (chain.empty()) return Corrupt("empty directory");
    const std::size_t perSector = sectorSize_ / kDirEntrySize;
    if (chain.size() > maxEntries / perSector + 1)
        return {ErrorCode::kTooLarge, "directory has too many entries"};
    entries_.clear();
    entries_.reserve(chain.size() * perSector);
    for (std::uint32_t s : chain) {
        std::span<const std::uint8_t> sector = Sector(s);
        if (sector.size() < sectorSize_) return Corrupt("directory sector outside the file");
        for (std::size_t k = 0; k < perSector; ++k) {
            const std::uint8_t* e = sector.data() + k * kDirEntrySize;
            Entry entry;
            std::uint16_t nameBytes = LoadU16(e + 0x40);
            std::size_t chars = nameBytes >= 2 ? std::min<std::size_t>(nameBytes / 2 - 1, 31) : 0;
            for (std::size_t c = 0; c < chars; ++c) {
                char16_t ch = static_cast<char16_t>(LoadU16(e + 2 * c));
                if (ch == 0) break;
                entry.name.push_back(ch);
            }
            std::uint8_t type = e[0x42];
            entry.type = (type == 1 || type == 2 || type == 5) ? static_cast<EntryType>(type)
                                                               : EntryType::kUnused;
            entry.color = e[0x43];
            entry.left = LoadU32(e + 0x44);
            entry.right = LoadU32(e + 0x48);
            entry.child = LoadU32(e + 0x4C);
            std::memcpy(entry.clsid.data(), e + 0x50, 16);
            entry.startSector = LoadU32(e + 0x74);
            // Version 3 readers must ignore the high half of the size.
            entry.size = major == 3 ? LoadU32(e + 0x78) : LoadU64(e + 0x78);
            entries_.push_back(std::move(entry));
        }
    }
    if (entries_[0].type != EntryType::kRoot)
        return Corrupt("first directory entry is not the root");

    // Mini FAT and mini stream.
    if (Status s = CollectChain(LoadU32(h + 0x3C), chain); !s) return s;
    miniFat_.clear();
    for (std::uint32_t s : chain) {
        std::span<const std::uint8_t> sector = Sector(s);
        if (sector.size() < sectorSize_) return Corrupt("mini FAT sector outside the file");
        for (std::size_t k = 0; k < sectorSize_ / 4; ++k)
            miniFat_.push_back(LoadU32(sector.data() + 4 * k));
    }
    if (entries_[0].size > 0) {
        if (Status s = ReadRegular(entries_[0].startSector, entries_[0].size, miniStream_); !s)
            return s;
        budget_ -= miniStream_.size();
    } else {
        miniStream_.clear();
    }
    return LinkChildren();
}

Status Reader::LinkChildren() {
    // Each entry may sit in one sibling tree once; a second visit means a
    // cycle or a shared subtree, both of which are refused.
    std::vector<bool> seen(entries_.size(), false);
    seen[0] = true;
    for (std::size_t parent = 0; parent < entries_.size(); ++parent) {
        Entry& storage = entries_[parent];
        if (storage.type != EntryType::kRoot && storage.type != EntryType::kStorage) continue;
        if (storage.child == kNoStream) continue;
        // In-order walk without recursion.
        std::vector<std::uint32_t> stack;
        std::uint32_t current = storage.child;
        while (current != kNoStream || !stack.empty()) {
            while (current != kNoStream) {
                if (current >= entries_.size() || seen[current] ||
                    entries_[current].type == EntryType::kUnused || current == 0)
                    return Corrupt("directory tree is malformed");
                seen[current] = true;
                stack.push_back(current);
                current = entries_[current].left;
            }
            std::uint32_t node = stack.back();
            stack.pop_back();
            storage.children.push_back(node);
            current = entries_[node].right;
        }
    }
    return Status::Ok();
}

std::uint32_t Reader::Find(std::uint32_t parent, std::u16string_view name) const {
    if (parent >= entries_.size()) return kNoStream;
    for (std::uint32_t child : entries_[parent].children)
        if (entries_[child].name == name) return child;
    return kNoStream;
}

Status Reader::ReadStream(std::uint32_t index, Bytes& out) {
    out.clear();
    if (index >= entries_.size() || entries_[index].type != EntryType::kStream)
        return Corrupt("not a stream");
    const Entry& entry = entries_[index];
    if (entry.size > budget_) return Corrupt("streams add up to more than the file holds");
    Status status = entry.size < kMiniStreamCutoff
                        ? ReadMini(entry.startSector, entry.size, out)
                        : ReadRegular(entry.startSector, entry.size, out);
    if (status) budget_ -= out.size();
    return status;
}

}  // namespace ov::msgfile::cfb
