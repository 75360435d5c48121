// The TIFF fax file container: open and create files, walk and append page
// directories, hand out handles.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_set>

#include "faxtiff/faxtiff.h"
#include "file_record.h"
#include "guard.h"
#include "open_lock.h"

namespace faxtiff {
namespace {

constexpr std::uint16_t kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4,
                        kTypeRational = 5, kTypeSByte = 6, kTypeUndefined = 7, kTypeSShort = 8,
                        kTypeSLong = 9, kTypeSRational = 10, kTypeFloat = 11, kTypeDouble = 12;

constexpr std::uint16_t kTagNewSubfileType = 254, kTagImageWidth = 256, kTagImageLength = 257,
                        kTagBitsPerSample = 258, kTagCompression = 259, kTagPhotometric = 262,
                        kTagFillOrder = 266, kTagStripOffsets = 273, kTagSamplesPerPixel = 277,
                        kTagRowsPerStrip = 278, kTagStripByteCounts = 279, kTagXResolution = 282,
                        kTagYResolution = 283, kTagPlanarConfiguration = 284,
                        kTagT4Options = 292, kTagResolutionUnit = 296;

constexpr int kDirectoryEntries = 16;
constexpr std::uint32_t kEntryBytes = 12;
constexpr std::uint32_t kNextDirectoryField = 2 + kDirectoryEntries * kEntryBytes;  // 194
constexpr std::uint32_t kXResolutionValue = kNextDirectoryField + 4;                 // 198
constexpr std::uint32_t kYResolutionValue = kXResolutionValue + 8;                   // 206
constexpr std::uint32_t kDirectoryBytes = kYResolutionValue + 8;                     // 214
constexpr int kImageLengthEntry = 2, kStripOffsetsEntry = 7, kRowsPerStripEntry = 9,
              kStripByteCountsEntry = 10;

// The slots own their records; lookups read a mirror of plain pointers
// without taking the lock, as they happen for every coded line.
std::mutex g_slotMutex;
std::array<std::unique_ptr<FaxFile>, FAX_MAX_HANDLES> g_slots;
std::array<std::atomic<FaxFile*>, FAX_MAX_HANDLES> g_lookup{};

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutEntry(std::uint8_t* p, std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
    Put16(p, tag);
    Put16(p + 2, type);
    Put32(p + 4, 1);
    Put32(p + 8, value);
}

bool HasFreeSlot() {
    std::lock_guard lock(g_slotMutex);
    return std::any_of(g_slots.begin(), g_slots.end(), [](const auto& slot) { return !slot; });
}

// Puts the record into the lowest free slot; -1 when the table is full.
int ClaimSlot(std::unique_ptr<FaxFile> file) {
    std::lock_guard lock(g_slotMutex);
    for (int i = 0; i < FAX_MAX_HANDLES; ++i) {
        if (!g_slots[i]) {
            g_slots[i] = std::move(file);
            g_lookup[i].store(g_slots[i].get(), std::memory_order_release);
            return i;
        }
    }
    return -1;
}

std::unique_ptr<FaxFile> ReleaseSlot(int handle) {
    std::lock_guard lock(g_slotMutex);
    if (handle < 0 || handle >= FAX_MAX_HANDLES) return nullptr;
    g_lookup[handle].store(nullptr, std::memory_order_release);
    return std::move(g_slots[handle]);
}

int ElementSize(std::uint16_t type) {
    switch (type) {
        case kTypeByte: case kTypeAscii: case kTypeSByte: case kTypeUndefined: return 1;
        case kTypeShort: case kTypeSShort: return 2;
        case kTypeLong: case kTypeSLong: case kTypeFloat: return 4;
        case kTypeRational: case kTypeSRational: case kTypeDouble: return 8;
        default: return 0;
    }
}

// The values of a strip offsets or byte counts entry. Values stored in the
// file must lie wholly inside it, so a forged count costs no more memory than
// the file's own size.
bool ReadStripValues(const UniqueFd& file, std::uint64_t fileSize, const std::uint8_t* entry,
                     std::vector<std::uint32_t>& values) {
    const std::uint16_t type = Get16(entry + 2);
    const std::uint32_t count = Get32(entry + 4);
    const int size = ElementSize(type);
    if (size == 0 || size == 8) return false;
    const std::uint64_t total = static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(size);
    std::vector<std::uint8_t> raw;
    const std::uint8_t* bytes = entry + 8;
    if (total > 4) {
        const std::uint32_t offset = Get32(entry + 8);
        if (offset + total > fileSize) return false;
        raw.resize(total);
        if (!file.SeekTo(offset) || file.Read(raw.data(), raw.size()) != static_cast<long>(raw.size())) {
            return false;
        }
        bytes = raw.data();
    }
    values.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* p = bytes + static_cast<std::size_t>(i) * static_cast<std::size_t>(size);
        values[i] = size == 4 ? Get32(p) : size == 2 ? Get16(p) : *p;
    }
    return true;
}

// Reads the directory at offset into the record and the caller's page
// description; on success the file is positioned at the page's first strip.
bool ReadDirectory(FaxFile& f, std::uint32_t offset, tagFaxPageInfo& page) {
    f.hasStripTable = false;
    f.strips.clear();
    f.stripIndex = 0;
    f.stripConsumed = 0;
    page = tagFaxPageInfo{};

    const std::int64_t size = f.file.Size();
    if (size < 0) return false;
    const auto fileSize = static_cast<std::uint64_t>(size);
    std::uint8_t countBytes[2];
    if (!f.file.SeekTo(offset) || f.file.Read(countBytes, 2) != 2) return false;
    const std::uint32_t count = Get16(countBytes);
    const std::uint64_t entriesEnd = std::uint64_t{offset} + 2 + std::uint64_t{count} * kEntryBytes;
    if (entriesEnd + 4 > fileSize) return false;
    std::vector<std::uint8_t> entries(std::size_t{count} * kEntryBytes + 4);
    if (f.file.Read(entries.data(), entries.size()) != static_cast<long>(entries.size())) return false;

    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> byteCounts;
    bool haveOffsets = false;
    bool haveByteCounts = false;
    std::size_t stripCount = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = entries.data() + std::size_t{i} * kEntryBytes;
        const std::uint16_t tag = Get16(entry);
        const std::uint16_t type = Get16(entry + 2);
        const std::uint32_t value = Get32(entry + 8);
        const auto low16 = static_cast<std::uint16_t>(value);
        switch (tag) {
            case kTagImageWidth: page.width = low16; break;
            case kTagImageLength: page.length = low16; break;
            case kTagCompression:
                if (low16 != 3) return false;
                page.compression = low16;
                break;
            case kTagPhotometric: page.photometric = low16; break;
            case kTagFillOrder: page.fillOrder = low16; break;
            case kTagRowsPerStrip: f.rowsPerStrip = value; break;
            case kTagT4Options: page.t4Options = low16; break;
            case kTagXResolution:
            case kTagYResolution: {
                if (type != kTypeRational) return false;
                std::uint8_t numerator[4];
                if (!f.file.SeekTo(value) || f.file.Read(numerator, 4) != 4) return false;
                const auto resolution = static_cast<std::uint16_t>(Get32(numerator));
                (tag == kTagXResolution ? page.xResolution : page.yResolution) = resolution;
                break;
            }
            case kTagStripOffsets:
            case kTagStripByteCounts: {
                std::vector<std::uint32_t>& target = tag == kTagStripOffsets ? offsets : byteCounts;
                if (!ReadStripValues(f.file, fileSize, entry, target)) return false;
                if (haveOffsets || haveByteCounts) {
                    if (target.size() != stripCount) return false;
                } else {
                    stripCount = target.size();
                }
                (tag == kTagStripOffsets ? haveOffsets : haveByteCounts) = true;
                break;
            }
            default: break;
        }
    }

    const std::uint32_t nextDirectory = Get32(entries.data() + std::size_t{count} * kEntryBytes);
    if (haveOffsets || haveByteCounts) {
        // A strip never reaches past the end of the file.
        std::uint64_t total = 0;
        f.strips.resize(stripCount);
        for (std::size_t i = 0; i < stripCount; ++i) {
            StripEntry& strip = f.strips[i];
            strip.offset = haveOffsets ? offsets[i] : 0;
            const std::uint64_t available = strip.offset < fileSize ? fileSize - strip.offset : 0;
            strip.bytes = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(haveByteCounts ? byteCounts[i] : 0, available));
            total += strip.bytes;
        }
        if (total > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return false;
        f.hasStripTable = true;
        page.stripOffset = stripCount > 0 ? f.strips[0].offset : 0;
        page.stripBytes = static_cast<std::uint32_t>(total);
    }
    f.linkPosition = static_cast<std::uint32_t>(entriesEnd);
    f.nextDirectory = nextDirectory;
    if (!f.strips.empty() && !f.file.SeekTo(f.strips[0].offset)) return false;
    return true;
}

void StartReadingPage(FaxFile& f, const tagFaxPageInfo& page) {
    f.stripOffset = page.stripOffset;
    f.stripBytes = page.stripBytes;
    f.bytesLeft = static_cast<std::int32_t>(page.stripBytes);
    f.imageLength = page.length;
    f.imageWidth = page.width;
    f.fillOrder = page.fillOrder;
    f.fine = page.yResolution > 100 ? 1 : 0;
    f.stripIndex = 0;
    f.stripConsumed = 0;
    f.stream.ResetEolCounter(f.fillOrder);
    f.stream.ResetReading();
}

int FindFirst(FaxFile& f, tagFaxPageInfo& page) {
    if (!FlushPending(f) || f.firstDirectory == 0) return -1;
    f.visitedDirectories.clear();
    if (!ReadDirectory(f, f.firstDirectory, page)) return -1;
    f.visitedDirectories.insert(f.firstDirectory);
    f.pageNumber = 1;
    StartReadingPage(f, page);
    return 0;
}

int FindNext(FaxFile& f, tagFaxPageInfo& page) {
    if (!FlushPending(f) || f.nextDirectory == 0) return -1;
    // A chain that leads back to a page already met ends the document.
    if (f.visitedDirectories.count(f.nextDirectory) != 0) return -1;
    const std::uint32_t directory = f.nextDirectory;
    if (!ReadDirectory(f, directory, page)) return -1;
    f.visitedDirectories.insert(directory);
    f.pageNumber += 1;
    StartReadingPage(f, page);
    return 0;
}

bool WriteLongEntryAt(const FaxFile& f, std::uint32_t position, std::uint16_t tag, std::uint32_t value) {
    std::uint8_t entry[kEntryBytes];
    PutEntry(entry, tag, kTypeLong, value);
    return f.file.SeekTo(position) && f.file.WriteAll(entry, sizeof entry);
}

// Patches the line and byte counts of the page being written.
bool FinalizePage(FaxFile& f) {
    const std::int64_t position = f.file.Position();
    if (position < 0) return false;
    const auto lines = static_cast<std::uint32_t>(f.linesWritten);
    const bool ok = WriteLongEntryAt(f, f.byteCountEntryPosition, kTagStripByteCounts,
                                     static_cast<std::uint32_t>(f.bytesWritten)) &&
                    WriteLongEntryAt(f, f.lengthEntryPosition, kTagImageLength, lines) &&
                    WriteLongEntryAt(f, f.rowsEntryPosition, kTagRowsPerStrip, lines);
    return f.file.SeekTo(static_cast<std::uint64_t>(position)) && ok;
}

int AppendPage(FaxFile& f, const tagFaxPageInfo& page) {
    if (!FlushPending(f)) return -1;
    if (f.bytesWritten > 0 || f.linesWritten > 0) {
        if (!FinalizePage(f)) return -1;
        f.bytesWritten = 0;
        f.linesWritten = 0;
    }
    if (f.nextDirectory != 0) {
        tagFaxPageInfo scratch{};
        while (FindNext(f, scratch) == 0) {
        }
        if (f.nextDirectory != 0) return -1;
    }
    const std::int64_t end = f.file.SeekEnd();
    if (end < 0 || static_cast<std::uint64_t>(end) + kDirectoryBytes >
                       std::numeric_limits<std::int32_t>::max()) {
        return -1;
    }
    const auto directory = static_cast<std::uint32_t>(end);
    f.pageNumber += 1;
    f.bytesLeft = 0;
    f.stripBytes = 0;
    f.bytesWritten = 0;
    f.linesWritten = 0;
    f.fillOrder = page.fillOrder;
    f.fine = page.yResolution > 100 ? 1 : 0;
    f.imageLength = page.length;
    f.imageWidth = page.width;

    std::uint8_t link[4];
    Put32(link, directory);
    if (!f.file.SeekTo(f.linkPosition) || !f.file.WriteAll(link, 4) || !f.file.SeekTo(directory)) {
        return -1;
    }

    std::uint8_t block[kDirectoryBytes] = {};
    Put16(block, kDirectoryEntries);
    struct EntrySpec {
        std::uint16_t tag, type;
        std::uint32_t value;
    };
    const EntrySpec entries[kDirectoryEntries] = {
        {kTagNewSubfileType, kTypeLong, 2},
        {kTagImageWidth, kTypeShort, page.width},
        {kTagImageLength, kTypeLong, page.length},
        {kTagBitsPerSample, kTypeShort, 1},
        {kTagCompression, kTypeShort, page.compression},
        {kTagPhotometric, kTypeShort, page.photometric},
        {kTagFillOrder, kTypeShort, page.fillOrder},
        {kTagStripOffsets, kTypeLong, directory + kDirectoryBytes},
        {kTagSamplesPerPixel, kTypeShort, 1},
        {kTagRowsPerStrip, kTypeLong, page.length},
        {kTagStripByteCounts, kTypeLong, 0},
        {kTagXResolution, kTypeRational, directory + kXResolutionValue},
        {kTagYResolution, kTypeRational, directory + kYResolutionValue},
        {kTagPlanarConfiguration, kTypeShort, 1},
        {kTagT4Options, kTypeLong, page.t4Options},
        {kTagResolutionUnit, kTypeShort, 2},
    };
    for (int i = 0; i < kDirectoryEntries; ++i) {
        PutEntry(block + 2 + i * kEntryBytes, entries[i].tag, entries[i].type, entries[i].value);
    }
    Put32(block + kXResolutionValue, page.xResolution);
    Put32(block + kXResolutionValue + 4, 1);
    Put32(block + kYResolutionValue, page.yResolution);
    Put32(block + kYResolutionValue + 4, 1);
    static_assert(kStripOffsetsEntry == 7);
    if (!f.file.WriteAll(block, sizeof block)) return -1;

    f.lengthEntryPosition = directory + 2 + kImageLengthEntry * kEntryBytes;
    f.rowsEntryPosition = directory + 2 + kRowsPerStripEntry * kEntryBytes;
    f.byteCountEntryPosition = directory + 2 + kStripByteCountsEntry * kEntryBytes;
    f.linkPosition = directory + kNextDirectoryField;
    f.stripOffset = directory + kDirectoryBytes;
    f.stream.ResetEolCounter(f.fillOrder);
    f.leadingEol = true;
    return 0;
}

}  // namespace

bool FlushPending(FaxFile& f) {
    if (f.pendingBytes > 0) {
        if (!f.writeFailed && !f.file.WriteAll(f.pending.data(), f.pendingBytes)) f.writeFailed = true;
        f.pendingBytes = 0;
    }
    return !f.writeFailed;
}

bool QueueWrite(FaxFile& f, const std::uint8_t* bytes, std::size_t count) {
    constexpr std::size_t kPendingCapacity = 64 * 1024;
    if (f.writeFailed) return false;
    if (f.pending.empty()) f.pending.resize(kPendingCapacity);
    if (f.pendingBytes + count > f.pending.size() && !FlushPending(f)) return false;
    if (count > f.pending.size()) {
        if (!f.file.WriteAll(bytes, count)) {
            f.writeFailed = true;
            return false;
        }
        return true;
    }
    std::memcpy(f.pending.data() + f.pendingBytes, bytes, count);
    f.pendingBytes += count;
    return true;
}

FaxFile* LookupHandle(int handle) {
    if (handle < 0 || handle >= FAX_MAX_HANDLES) return nullptr;
    return g_lookup[handle].load(std::memory_order_acquire);
}

int ReadPageData(FaxFile& f, std::uint8_t* destination, int wanted) {
    if (!f.hasStripTable || f.stripIndex >= f.strips.size()) return -1;
    int delivered = 0;
    while (delivered < wanted) {
        if (f.stripConsumed >= f.strips[f.stripIndex].bytes) {
            if (f.stripIndex + 1 >= f.strips.size()) break;
            ++f.stripIndex;
            f.stripConsumed = 0;
            if (!f.file.SeekTo(f.strips[f.stripIndex].offset)) {
                f.stripIndex = f.strips.size();
                return -1;
            }
            continue;
        }
        const std::uint32_t available = f.strips[f.stripIndex].bytes - f.stripConsumed;
        const auto want = static_cast<std::uint32_t>(wanted - delivered);
        const long got = f.file.Read(destination + delivered, std::min(want, available));
        if (got <= 0) break;
        delivered += static_cast<int>(got);
        f.stripConsumed += static_cast<std::uint32_t>(got);
    }
    return delivered;
}

}  // namespace faxtiff

using faxtiff::FaxFile;
using faxtiff::Guarded;
using faxtiff::LookupHandle;

extern "C" {

int tiffOpenFile(const char* path, int* handle) {
    return Guarded(-1, [&] {
        faxtiff::OpenSafeLock lock;
        if (path == nullptr || handle == nullptr || !faxtiff::HasFreeSlot()) return -1;
        faxtiff::UniqueFd fd = faxtiff::OpenForReadingUnshared(path);
        if (!fd.valid()) return -1;
        std::uint8_t header[8];
        if (fd.Read(header, sizeof header) != 8) return -1;
        if (header[0] != 'I' || header[1] != 'I' || faxtiff::Get16(header + 2) != 42) return -1;
        const std::uint32_t first = faxtiff::Get32(header + 4);
        if (first == 0) return -1;
        auto file = std::make_unique<FaxFile>();
        file->file = std::move(fd);
        file->firstDirectory = first;
        file->nextDirectory = first;
        file->linkPosition = 4;
        file->pageNumber = 0;
        const int slot = faxtiff::ClaimSlot(std::move(file));
        if (slot < 0) return -1;
        *handle = slot;
        return 0;
    });
}

int tiffCreateFile(const char* path, int* handle) {
    return Guarded(-1, [&] {
        faxtiff::OpenSafeLock lock;
        if (path == nullptr || handle == nullptr || !faxtiff::HasFreeSlot()) return -1;
        faxtiff::UniqueFd fd = faxtiff::CreateForWritingUnshared(path);
        if (!fd.valid()) return -1;
        const std::uint8_t header[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
        if (!fd.WriteAll(header, sizeof header)) return -1;
        auto file = std::make_unique<FaxFile>();
        file->file = std::move(fd);
        file->linkPosition = 4;
        const int slot = faxtiff::ClaimSlot(std::move(file));
        if (slot < 0) return -1;
        *handle = slot;
        return 0;
    });
}

int tiffCloseFile(int handle) {
    return Guarded(-1, [&] {
        faxtiff::OpenSafeLock lock;
        std::unique_ptr<FaxFile> file = faxtiff::ReleaseSlot(handle);
        if (!file) return -1;
        // The handle is freed in any case; a page whose data could not be
        // written is reported.
        bool written = faxtiff::FlushPending(*file);
        if (file->bytesWritten > 0 || file->linesWritten > 0) written = faxtiff::FinalizePage(*file) && written;
        return written ? 0 : -1;
    });
}

int tiffGetFileHandle(int handle, int* osHandle) {
    FaxFile* file = LookupHandle(handle);
    if (file == nullptr || osHandle == nullptr) return -1;
    // Whoever uses the descriptor sees every byte written so far.
    faxtiff::FlushPending(*file);
    *osHandle = file->file.get();
    return 0;
}

int tiffFindFirstPage(int handle, tagFaxPageInfo* page) {
    return Guarded(-1, [&] {
        FaxFile* file = LookupHandle(handle);
        if (file == nullptr) return -1;
        tagFaxPageInfo scratch{};
        return faxtiff::FindFirst(*file, page != nullptr ? *page : scratch);
    });
}

int tiffFindNextPage(int handle, tagFaxPageInfo* page) {
    return Guarded(-1, [&] {
        FaxFile* file = LookupHandle(handle);
        if (file == nullptr) return -1;
        tagFaxPageInfo scratch{};
        return faxtiff::FindNext(*file, page != nullptr ? *page : scratch);
    });
}

int tiffAppendPage(int handle, const tagFaxPageInfo* page) {
    return Guarded(-1, [&] {
        FaxFile* file = LookupHandle(handle);
        if (file == nullptr || page == nullptr) return -1;
        return faxtiff::AppendPage(*file, *page);
    });
}

int tiffRewindPage(int handle) {
    FaxFile* f = LookupHandle(handle);
    if (f == nullptr) return -1;
    if (!faxtiff::FlushPending(*f) || !f->file.SeekTo(f->stripOffset)) return -1;
    f->bytesLeft = static_cast<std::int32_t>(f->stripBytes);
    f->bytesWritten = 0;
    f->linesWritten = 0;
    f->stripIndex = 0;
    f->stripConsumed = 0;
    f->stream.ResetEolCounter(f->fillOrder);
    f->stream.ResetReading();
    f->leadingEol = true;
    return 0;
}

int tiffCountPages(const char* path) {
    int handle = -1;
    if (tiffOpenFile(path, &handle) != 0) return 0;
    int pages = 0;
    tagFaxPageInfo page{};
    if (tiffFindFirstPage(handle, &page) == 0) {
        pages = 1;
        while (tiffFindNextPage(handle, &page) == 0) ++pages;
    }
    tiffCloseFile(handle);
    return pages;
}

}  // extern "C"
