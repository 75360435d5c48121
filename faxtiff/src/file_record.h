// The record behind a fax file handle and the process-wide table of handles.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "faxtiff/faxtiff.h"
#include "unique_fd.h"

namespace faxtiff {

struct StripEntry {
    std::uint32_t offset = 0;
    std::uint32_t bytes = 0;
};

// Counts EOLs in coded bytes written to a page, and the read-ahead state of
// the coded-data streams; reset per page.
struct CodedStreamState {
    std::int32_t zeroRun = 0;
    std::int32_t counted = 0;
    std::uint32_t counterFillOrder = 2;
    std::int32_t skip = 0;
    std::int32_t previousZero = 0;
    std::uint16_t lineCounter = 0;
    std::int32_t lookAheadPosition = 0;
    std::int32_t lookAheadFill = 0;

    void ResetEolCounter(std::uint32_t fillOrder) {
        zeroRun = 0;
        counted = 0;
        counterFillOrder = fillOrder;
    }
    void ResetReading() {
        skip = 0;
        previousZero = 0;
        lineCounter = 0;
        lookAheadPosition = 0;
        lookAheadFill = 0;
    }
};

struct FaxFile {
    UniqueFd file;
    std::uint32_t firstDirectory = 0;
    std::uint32_t nextDirectory = 0;
    std::uint32_t linkPosition = 0;  // where the next appended page's offset goes
    std::uint32_t stripOffset = 0;
    std::uint32_t stripBytes = 0;
    std::int32_t pageNumber = 0;
    std::int32_t bytesLeft = 0;
    std::uint32_t imageLength = 0;
    std::uint32_t imageWidth = 0;
    std::int32_t bytesWritten = 0;
    std::int32_t linesWritten = 0;
    std::uint32_t fillOrder = 0;
    std::uint32_t fine = 0;
    std::uint32_t lengthEntryPosition = 0;
    std::uint32_t byteCountEntryPosition = 0;
    std::uint32_t rowsEntryPosition = 0;

    // Strips of the current page being read.
    bool hasStripTable = false;
    std::vector<StripEntry> strips;
    std::size_t stripIndex = 0;
    std::uint32_t stripConsumed = 0;
    std::uint32_t rowsPerStrip = 0;

    // Directories met since the first page, so that a chain that points back
    // cannot be walked for ever.
    std::unordered_set<std::uint32_t> visitedDirectories;

    // Coded lines wait here and reach the file in large writes; flushed
    // before anything else touches the file. A failed write sticks, so that
    // the page and the close report it.
    std::vector<std::uint8_t> pending;
    std::size_t pendingBytes = 0;
    bool writeFailed = false;

    // Coding state of the page being written or read.
    bool leadingEol = false;
    std::array<std::uint8_t, 2048> encodeBuffer{};
    CodedStreamState stream;
};

// Writes the waiting coded bytes; false when this or an earlier write failed.
bool FlushPending(FaxFile& file);
// Appends coded bytes at the file's current position (through the waiting
// buffer); false when they cannot be written.
bool QueueWrite(FaxFile& file, const std::uint8_t* bytes, std::size_t count);

// The record of a valid handle in use, or null.
FaxFile* LookupHandle(int handle);

// Reads up to `wanted` bytes of the current page's coded data into
// destination, strip after strip. Returns the bytes delivered, or -1 when
// the page has no strip table or every strip has been used up. The caller
// lowers bytesLeft.
int ReadPageData(FaxFile& file, std::uint8_t* destination, int wanted);

}  // namespace faxtiff
