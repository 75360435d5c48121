// A private prefix for a fuzz process, removed at exit.
#pragma once

#include <filesystem>

namespace mapifuzz {
// Created on first use.
const std::filesystem::path& FuzzPrefix();
}  // namespace mapifuzz
