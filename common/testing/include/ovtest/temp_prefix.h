// A private prefix for one test: a fresh directory that the platform layer
// uses as its prefix (and that child processes get through ORVANE_PREFIX),
// removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace ovtest {

class TempPrefix {
public:
    TempPrefix();
    ~TempPrefix();
    TempPrefix(const TempPrefix&) = delete;
    TempPrefix& operator=(const TempPrefix&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A fixture whose every test runs in its own prefix.
class PrefixTest : public ::testing::Test {
protected:
    TempPrefix prefix_;
};

// The directory holding the test binaries and the built programs.
std::filesystem::path BinaryDirectory();

}  // namespace ovtest
