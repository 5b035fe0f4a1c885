#include <gtest/gtest.h>

#include <filesystem>

#include "config/ProfileWriter.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

int replaceCalls = 0;
bool refuseReplace(const std::string&, const std::string&) {
    ++replaceCalls;
    return false;
}
bool plainReplace(const std::string& path, const std::string& bytes) {
    ++replaceCalls;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

TEST(ProfileWriter, CreatesAMissingFile) {
    test::TempDir dir;
    const std::string path = dir.file("setup.ini");
    EXPECT_TRUE(writeProfileValue(path, "WRITE_MAC", "start_mac", "00:11:22:00:00:01", &plainReplace));
    EXPECT_EQ(test::readAll(path), "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:01\r\n");
}

TEST(ProfileWriter, LeavesTheFileAloneWhenAnythingFails) {
    test::TempDir dir;
    const std::string original = "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:0F\r\n";
    const std::string path = dir.write("setup.ini", original);

    replaceCalls = 0;
    EXPECT_FALSE(writeProfileValue(path, "WRITE_MAC", "start_mac", "00:11:22:00:00:11", &refuseReplace));
    EXPECT_EQ(replaceCalls, 1);
    EXPECT_EQ(test::readAll(path), original);

    // A value that would smuggle in a line is never written.
    replaceCalls = 0;
    EXPECT_FALSE(writeProfileValue(path, "WRITE_MAC", "start_mac", "X\r\nnumber=99", &plainReplace));
    EXPECT_EQ(replaceCalls, 0);
    EXPECT_EQ(test::readAll(path), original);

    // A UTF-16 file cannot be edited byte-wise: refused, not mangled.
    const std::string wide("\xFF\xFE[\0W\0]\0\r\0\n\0", 12);
    const std::string widePath = dir.write("wide.ini", wide);
    EXPECT_FALSE(writeProfileValue(widePath, "W", "k", "v", &plainReplace));
    EXPECT_EQ(test::readAll(widePath), wide);
}

TEST(ProfileWriter, NeverTakesAnUnreadableFileForAnEmptyOne) {
    test::TempDir dir;
    const std::string path = dir.file("setup.ini");
    std::filesystem::create_directory(path);  // readable as a file: no
    replaceCalls = 0;
    EXPECT_FALSE(writeProfileValue(path, "WRITE_MAC", "start_mac", "X", &plainReplace));
    EXPECT_EQ(replaceCalls, 0);
}

TEST(ProfileWriter, SkipsTheReplaceWhenNothingChanges) {
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", "[WRITE_MAC]\r\nstart_mac=A\r\n");
    replaceCalls = 0;
    EXPECT_TRUE(writeProfileValue(path, "write_mac", "START_MAC", "A", &refuseReplace));
    EXPECT_EQ(replaceCalls, 0);
}

}  // namespace
}  // namespace vornix
