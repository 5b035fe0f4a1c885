#include <gtest/gtest.h>

#include "config/IniDocument.h"
#include "config/IniProfile.h"
#include "support/ProfileCases.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool refuseReplace(const std::string&, const std::string&) { return false; }

TEST(IniDocument, AnswersEveryLookUpOfTheTable) {
    test::TempDir dir;
    int index = 0;
    for (const test::ReadCase& c : test::readCases()) {
        const std::string path = c.fileMissing ? dir.file("absent.ini")
                                               : dir.write("case" + std::to_string(index++) + ".ini", c.file);
        IniProfile profile(path, &refuseReplace);
        EXPECT_EQ(profile.read(c.section, c.key, c.defaultValue, c.bufferSize), c.expected) << "case: " << c.name;
    }
}

TEST(IniDocument, WritesEveryCaseOfTheTableExactly) {
    for (const test::WriteCase& c : test::writeCases()) {
        const IniDocument before(c.file);
        const std::optional<std::string> after = before.withValue(c.section, c.key, c.value);
        ASSERT_TRUE(after.has_value()) << "case: " << c.name;
        EXPECT_EQ(*after, c.expected) << "case: " << c.name;
        std::string value = c.value;
        value.erase(0, value.find_first_not_of(' '));
        EXPECT_EQ(IniDocument(*after).find(c.section, c.key), value) << "case: " << c.name;
    }
}

TEST(IniDocument, RefusesEditsThatWouldDamageTheFile) {
    const IniDocument utf16(std::string("\xFF\xFE[\0A\0]\0", 8));
    EXPECT_FALSE(utf16.withValue("A", "k", "v").has_value());
    const IniDocument utf16be(std::string("\xFE\xFF\0[\0A\0]", 8));
    EXPECT_FALSE(utf16be.withValue("A", "k", "v").has_value());

    const IniDocument plain("[WRITE_MAC]\r\nstart_mac=X\r\n");
    EXPECT_FALSE(plain.withValue("WRITE_MAC", "start_mac", "A\r\n[SETUP]").has_value());
    EXPECT_FALSE(plain.withValue("WRITE_MAC", "start_mac", "A\nB").has_value());
    EXPECT_FALSE(plain.withValue("WRITE_MAC", "start_mac", std::string("A\0B", 3)).has_value());
    EXPECT_FALSE(plain.withValue("WRITE_MAC", "a=b", "v").has_value());
    EXPECT_FALSE(plain.withValue("WRITE_MAC", "  ", "v").has_value());
    EXPECT_FALSE(plain.withValue("WRITE_MAC", "[x]", "v").has_value());
    EXPECT_FALSE(plain.withValue("WRITE\nMAC", "k", "v").has_value());
}

TEST(IniDocument, ProfileResultCutsAndUnquotesLikeTheSystem) {
    EXPECT_EQ(profileResult(std::string("abcdef"), "NULL", 4), "abc");
    EXPECT_EQ(profileResult(std::string("abc"), "NULL", 0), "");
    EXPECT_EQ(profileResult(std::nullopt, nullptr, 10), "");
    EXPECT_EQ(profileResult(std::nullopt, "   ", 10), " ");
    EXPECT_EQ(profileResult(std::nullopt, "NULL", 3), "NU");
    EXPECT_EQ(profileResult(std::string("'x'"), "NULL", 10), "x");
}

}  // namespace
}  // namespace vornix
