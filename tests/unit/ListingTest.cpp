// A variable's own line in a router's listing.
#include <gtest/gtest.h>

#include "procedures/Listing.h"

namespace vornix {
namespace {

TEST(Listing, ANameIsFoundOnlyWhereItsOwnLineBegins) {
    const struct {
        const char* what;
        std::string text, name;
        long at;  // -1: none
    } cases[] = {
        {"first line", "mac 00:11", "mac", 0},
        {"after blanks, then a tab", "x\r\n \tmac\t00:11", "mac", 5},
        {"then an equals sign", "x\nmac=1", "mac", 2},
        {"the end of a longer name", "lan_mac 00:11:22:00:00:0A\r\n", "mac", -1},
        {"inside an address", "A 00:11:22:00:00:0C\r\n", "C", -1},
        {"a longer name that begins with it", "mac_2 1\r\n", "mac", -1},
        {"the text ends after the name", "x\r\nmac", "mac", -1},
        {"the line ends after the name: an empty value", "mac\r\nx", "mac", 0},
        {"its line comes later", "lan_mac 1\r\nmac 2\r\n", "mac", 11},
        {"a line ended by CR alone", "a 1\rmac 2", "mac", 4},
        {"an empty name", "mac 1", "", -1},
    };
    for (const auto& c : cases) {
        const std::optional<NamedLine> line = findNamedLine(c.text, c.name);
        EXPECT_EQ(line ? static_cast<long>(line->name) : -1L, c.at) << c.what;
        if (!line) continue;
        const std::size_t end = c.text.find_first_of("\r\n", line->name);
        EXPECT_EQ(line->end, end == std::string::npos ? c.text.size() : end) << c.what;
    }
}

}  // namespace
}  // namespace vornix
