// Lays out a compound file in one pass: FAT sectors, DIFAT sectors, the
// directory, the mini FAT, the mini stream, then every large stream, each
// contiguous. The sibling trees are balanced binary trees coloured so that
// they are valid red-black trees (MS-CFB 2.6.4).
#include <algorithm>
#include <cstring>

#include "byte_io.h"
#include "cfb.h"

namespace ov::msgfile::cfb {

using detail::StoreU16;
using detail::StoreU32;
using detail::StoreU64;

int CompareNames(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        // Names here are ASCII; upper-casing a-z is MS-CFB's rule for them.
        auto upper = [](char16_t c) -> char16_t { return (c >= u'a' && c <= u'z') ? c - 32 : c; };
        char16_t x = upper(a[i]), y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

Builder::Builder() {
    Node root;
    root.name = u"Root Entry";
    root.type = EntryType::kRoot;
    nodes_.push_back(std::move(root));
}

Builder::NodeId Builder::AddNode(NodeId parent, std::string_view name, EntryType type) {
    Node node;
    node.name.assign(name.begin(), name.end());
    node.type = type;
    nodes_.push_back(std::move(node));
    NodeId id = nodes_.size() - 1;
    nodes_[parent].children.push_back(id);
    return id;
}

Builder::NodeId Builder::AddStorage(NodeId parent, std::string_view name) {
    return AddNode(parent, name, EntryType::kStorage);
}

void Builder::AddStream(NodeId parent, std::string_view name, Bytes data) {
    NodeId id = AddNode(parent, name, EntryType::kStream);
    nodes_[id].owned = std::move(data);
}

void Builder::AddStreamView(NodeId parent, std::string_view name,
                            std::span<const std::uint8_t> data) {
    NodeId id = AddNode(parent, name, EntryType::kStream);
    nodes_[id].view = data;
    nodes_[id].usesView = true;
}

namespace {

std::size_t CeilDiv(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

struct DirRecord {
    std::uint32_t left = kNoStream;
    std::uint32_t right = kNoStream;
    std::uint32_t child = kNoStream;
    std::uint8_t color = 1;  // black
    std::uint32_t start = kEndOfChain;
    std::uint64_t size = 0;
    int depth = 0;
};

// Midpoint splitting keeps every null link at depth d or d+1, so painting the
// deepest level red gives equal black counts on all paths and no red parent.
std::uint32_t BuildSiblingTree(const std::vector<std::uint32_t>& sorted, std::size_t lo,
                               std::size_t hi, int depth, std::vector<DirRecord>& dir,
                               int& maxDepth) {
    if (lo >= hi) return kNoStream;
    std::size_t mid = lo + (hi - lo) / 2;
    std::uint32_t index = sorted[mid];
    dir[index].depth = depth;
    maxDepth = std::max(maxDepth, depth);
    dir[index].left = BuildSiblingTree(sorted, lo, mid, depth + 1, dir, maxDepth);
    dir[index].right = BuildSiblingTree(sorted, mid + 1, hi, depth + 1, dir, maxDepth);
    return index;
}

}  // namespace

Status Builder::Build(const Guid& rootClass, Bytes& out) const {
    // Directory order: breadth first from the root, so the root is entry 0.
    std::vector<NodeId> order{kRoot};
    std::vector<std::uint32_t> dirIndex(nodes_.size(), 0);
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (NodeId child : nodes_[order[i]].children) {
            dirIndex[child] = static_cast<std::uint32_t>(order.size());
            order.push_back(child);
        }
    }
    std::vector<DirRecord> dir(order.size());

    for (NodeId id : order) {
        const Node& node = nodes_[id];
        if (node.name.size() > kMaxNameChars)
            return {ErrorCode::kInvalidMessage, "storage or stream name longer than 31 characters"};
        if (node.children.empty()) continue;
        std::vector<std::uint32_t> sorted;
        sorted.reserve(node.children.size());
        for (NodeId child : node.children) sorted.push_back(dirIndex[child]);
        std::sort(sorted.begin(), sorted.end(), [&](std::uint32_t a, std::uint32_t b) {
            return CompareNames(nodes_[order[a]].name, nodes_[order[b]].name) < 0;
        });
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            if (CompareNames(nodes_[order[sorted[i - 1]]].name, nodes_[order[sorted[i]]].name) == 0)
                return {ErrorCode::kInvalidMessage, "two entries of one storage share a name"};
        }
        int maxDepth = 0;
        dir[dirIndex[id]].child = BuildSiblingTree(sorted, 0, sorted.size(), 0, dir, maxDepth);
        if (maxDepth > 0) {
            for (std::uint32_t index : sorted)
                if (dir[index].depth == maxDepth) dir[index].color = 0;
        }
    }

    // Stream sizes decide mini stream or regular sectors.
    std::size_t miniSectors = 0;
    std::size_t bigSectors = 0;
    for (NodeId id : order) {
        const Node& node = nodes_[id];
        if (node.type != EntryType::kStream) continue;
        std::size_t size = node.data().size();
        if (size > 0x7FFFFFFFu) return {ErrorCode::kTooLarge, "a stream exceeds 2 GiB"};
        if (size == 0) continue;
        if (size < kMiniStreamCutoff)
            miniSectors += CeilDiv(size, kMiniSectorSize);
        else
            bigSectors += CeilDiv(size, kSectorSize);
    }
    const std::size_t entriesPerSector = kSectorSize / kDirEntrySize;
    const std::size_t idsPerSector = kSectorSize / 4;
    const std::size_t dirSectors = CeilDiv(order.size(), entriesPerSector);
    const std::size_t miniFatSectors = CeilDiv(miniSectors * 4, kSectorSize);
    const std::size_t miniStreamBytes = miniSectors * kMiniSectorSize;
    const std::size_t miniStreamSectors = CeilDiv(miniStreamBytes, kSectorSize);
    const std::size_t fixedSectors = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;

    std::size_t fatSectors = 1;
    std::size_t difatSectors = 0;
    for (;;) {
        std::size_t total = fatSectors + difatSectors + fixedSectors;
        std::size_t needFat = CeilDiv(total, idsPerSector);
        std::size_t needDifat = needFat > kHeaderDifatSlots
                                    ? CeilDiv(needFat - kHeaderDifatSlots, idsPerSector - 1)
                                    : 0;
        if (needFat == fatSectors && needDifat == difatSectors) break;
        fatSectors = std::max(fatSectors, needFat);
        difatSectors = std::max(difatSectors, needDifat);
    }
    const std::size_t totalSectors = fatSectors + difatSectors + fixedSectors;
    // Keep files well inside what 32-bit readers handle.
    if (totalSectors > (std::size_t{1} << 22))
        return {ErrorCode::kTooLarge, "the file would exceed 2 GiB"};

    std::vector<std::uint32_t> fat(fatSectors * idsPerSector, kFreeSect);
    std::uint32_t next = 0;
    auto allocateChain = [&](std::size_t count) -> std::uint32_t {
        if (count == 0) return kEndOfChain;
        std::uint32_t first = next;
        for (std::size_t i = 0; i < count; ++i, ++next)
            fat[next] = (i + 1 == count) ? kEndOfChain : next + 1;
        return first;
    };
    const std::uint32_t firstFat = next;
    for (std::size_t i = 0; i < fatSectors; ++i) fat[next++] = kFatSect;
    const std::uint32_t firstDifat = difatSectors ? next : kEndOfChain;
    for (std::size_t i = 0; i < difatSectors; ++i) fat[next++] = kDifSect;
    const std::uint32_t dirStart = allocateChain(dirSectors);
    const std::uint32_t miniFatStart = allocateChain(miniFatSectors);
    const std::uint32_t miniStreamStart = allocateChain(miniStreamSectors);

    std::vector<std::uint32_t> miniFat(miniFatSectors * idsPerSector, kFreeSect);
    std::uint32_t nextMini = 0;
    dir[0].start = miniStreamSectors ? miniStreamStart : kEndOfChain;
    dir[0].size = miniStreamBytes;
    for (std::size_t i = 1; i < order.size(); ++i) {
        const Node& node = nodes_[order[i]];
        if (node.type != EntryType::kStream) {
            dir[i].start = 0;
            continue;
        }
        std::size_t size = node.data().size();
        dir[i].size = size;
        if (size == 0) {
            dir[i].start = kEndOfChain;
        } else if (size < kMiniStreamCutoff) {
            std::size_t count = CeilDiv(size, kMiniSectorSize);
            dir[i].start = nextMini;
            for (std::size_t k = 0; k < count; ++k, ++nextMini)
                miniFat[nextMini] = (k + 1 == count) ? kEndOfChain : nextMini + 1;
        } else {
            dir[i].start = allocateChain(CeilDiv(size, kSectorSize));
        }
    }

    out.assign((totalSectors + 1) * kSectorSize, 0);
    auto sectorAt = [&](std::uint32_t sector) { return out.data() + (sector + 1) * kSectorSize; };

    std::uint8_t* header = out.data();
    static constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header, kSignature, sizeof kSignature);
    StoreU16(header + 0x18, 0x003E);
    StoreU16(header + 0x1A, 0x0003);
    StoreU16(header + 0x1C, 0xFFFE);
    StoreU16(header + 0x1E, 0x0009);
    StoreU16(header + 0x20, 0x0006);
    StoreU32(header + 0x2C, static_cast<std::uint32_t>(fatSectors));
    StoreU32(header + 0x30, dirStart);
    StoreU32(header + 0x38, static_cast<std::uint32_t>(kMiniStreamCutoff));
    StoreU32(header + 0x3C, miniFatStart);
    StoreU32(header + 0x40, static_cast<std::uint32_t>(miniFatSectors));
    StoreU32(header + 0x44, firstDifat);
    StoreU32(header + 0x48, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatSlots; ++i) {
        StoreU32(header + 0x4C + 4 * i,
                 i < fatSectors ? firstFat + static_cast<std::uint32_t>(i) : kFreeSect);
    }
    // DIFAT sectors: 127 FAT sector numbers each, then the next DIFAT sector.
    for (std::size_t d = 0; d < difatSectors; ++d) {
        std::uint8_t* at = sectorAt(firstDifat + static_cast<std::uint32_t>(d));
        for (std::size_t k = 0; k < idsPerSector - 1; ++k) {
            std::size_t fatIndex = kHeaderDifatSlots + d * (idsPerSector - 1) + k;
            StoreU32(at + 4 * k, fatIndex < fatSectors
                                     ? firstFat + static_cast<std::uint32_t>(fatIndex)
                                     : kFreeSect);
        }
        StoreU32(at + 4 * (idsPerSector - 1), d + 1 < difatSectors
                                                  ? firstDifat + static_cast<std::uint32_t>(d + 1)
                                                  : kEndOfChain);
    }
    for (std::size_t i = 0; i < fat.size(); ++i)
        StoreU32(sectorAt(firstFat) + 4 * i, fat[i]);  // FAT sectors are contiguous
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        StoreU32(sectorAt(miniFatStart) + 4 * i, miniFat[i]);

    const std::array<std::uint8_t, 16> rootClsid = rootClass.ToBytes();
    std::uint8_t* dirBase = sectorAt(dirStart);
    for (std::size_t i = 0; i < dirSectors * entriesPerSector; ++i) {
        std::uint8_t* e = dirBase + i * kDirEntrySize;
        if (i >= order.size()) {
            StoreU32(e + 0x44, kNoStream);
            StoreU32(e + 0x48, kNoStream);
            StoreU32(e + 0x4C, kNoStream);
            continue;
        }
        const Node& node = nodes_[order[i]];
        for (std::size_t k = 0; k < node.name.size(); ++k)
            StoreU16(e + 2 * k, static_cast<std::uint16_t>(node.name[k]));
        StoreU16(e + 0x40, static_cast<std::uint16_t>((node.name.size() + 1) * 2));
        e[0x42] = static_cast<std::uint8_t>(node.type);
        e[0x43] = i == 0 ? 1 : dir[i].color;
        StoreU32(e + 0x44, dir[i].left);
        StoreU32(e + 0x48, dir[i].right);
        StoreU32(e + 0x4C, dir[i].child);
        if (i == 0) std::memcpy(e + 0x50, rootClsid.data(), rootClsid.size());
        StoreU32(e + 0x74, dir[i].start);
        StoreU64(e + 0x78, dir[i].size);
    }

    // Stream contents: the mini stream is contiguous, so a mini sector's
    // offset is simply its number times 64.
    for (std::size_t i = 1; i < order.size(); ++i) {
        const Node& node = nodes_[order[i]];
        if (node.type != EntryType::kStream || dir[i].size == 0) continue;
        std::span<const std::uint8_t> data = node.data();
        std::uint8_t* target = dir[i].size < kMiniStreamCutoff
                                   ? sectorAt(miniStreamStart) + dir[i].start * kMiniSectorSize
                                   : sectorAt(dir[i].start);
        std::memcpy(target, data.data(), data.size());
    }
    return Status::Ok();
}

}  // namespace ov::msgfile::cfb
