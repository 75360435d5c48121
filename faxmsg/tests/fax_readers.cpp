#include "fax_readers.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "ovmapi/provider.h"

namespace readback {

namespace fs = std::filesystem;

namespace {
const fs::path kModules = fs::path(ORVANE_SOURCE_DIR) / "tests" / "node" / "node_modules";
const fs::path kReader = fs::path(ORVANE_SOURCE_DIR) / "faxmsg" / "tests" / "read_fax_msg.js";
}  // namespace

std::string RunShell(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) output.append(buffer, got);
    return output;
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::vector<fs::path> PickupFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ovmapi::PickupDirectory(), ec))
        if (entry.path().extension() == ".msg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool ReadersInstalled() {
    return !RunShell("command -v node").empty() &&
           fs::exists(kModules / "@kenjiuno" / "msgreader") &&
           fs::exists(kModules / "@kenjiuno" / "decompressrtf");
}

nlohmann::json ReadFaxMsg(const fs::path& file) {
    return nlohmann::json::parse(
        RunShell("node " + kReader.string() + " " + kModules.string() + " " + file.string()));
}

}  // namespace readback
