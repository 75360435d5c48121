// Reading a submitted fax back with the independent readers: the npm packages
// under tests/node (@kenjiuno/msgreader, @kenjiuno/decompressrtf) driven by
// read_fax_msg.js. Shared by the builder, gateway and end-to-end tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace readback {

// Standard output of a shell command.
std::string RunShell(const std::string& command);
// Lower-case hexadecimal, two digits per byte, as the reader script reports data.
std::string Hex(std::string_view bytes);
// The .msg files of the prefix's pickup directory, in name order.
std::vector<std::filesystem::path> PickupFiles();
// Whether node and both npm readers are there (scripts/deps.sh installs them).
bool ReadersInstalled();
// What the readers make of a .msg file.
nlohmann::json ReadFaxMsg(const std::filesystem::path& file);

}  // namespace readback
