// The temporary-name rule from a given starting number, so the rule can be
// checked without depending on the clock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace ov::detail {

std::optional<std::filesystem::path> CreateTempNameFrom(const std::filesystem::path& directory,
                                                        std::string_view extension,
                                                        std::uint32_t number);

}  // namespace ov::detail
