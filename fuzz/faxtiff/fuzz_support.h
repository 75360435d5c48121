// A private scratch directory (and prefix) for fuzz targets whose entry
// points take file paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace faxfuzz {

// Writes data to a file of that name in the scratch directory and returns its
// path; the directory is removed when the process ends.
std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size);
std::string ScratchPath(const char* name);

}  // namespace faxfuzz
