#include <gtest/gtest.h>

#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

class PathsTest : public ovtest::PrefixTest {};

TEST_F(PathsTest, DrivePathsMapIntoThePrefix) {
    const std::string driveC = (prefix_.path() / "drive_c").string();
    EXPECT_EQ(ov::MapPath("C:\\dadadiri.whb\\READY"), driveC + "/dadadiri.whb/READY");
}

}  // namespace
