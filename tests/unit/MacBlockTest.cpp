#include <gtest/gtest.h>

#include "app/HeadlessConsole.h"
#include "procedures/MacBlock.h"

namespace vornix {
namespace {

TEST(MacBlock, CounterOfTheLastThreeOctets) {
    EXPECT_EQ(MacBlock::readCounter("00:11:22:33:44:55"), 0x334455);
    EXPECT_EQ(MacBlock::readCounter("00:11:22:aa:bb:cc"), 0xAABBCC);
    EXPECT_EQ(MacBlock::readCounter("00:11:22:FF:FF:FF"), 0xFFFFFF);
    EXPECT_EQ(MacBlock::readCounter("00:11:22:3"), 0x300000) << "few digits take the highest weights";
    EXPECT_EQ(MacBlock::readCounter("00:11:22:3x:-4"), 0x340000) << "other characters use no weight";
    EXPECT_EQ(MacBlock::readCounter("00:11:22:334455667"), 0x334455) << "a seventh digit adds nothing";
    EXPECT_EQ(MacBlock::readCounter(""), 0);
    EXPECT_EQ(MacBlock::readCounter("00:11:22:zz:yy:xx"), 0);
}

TEST(MacBlock, AddressesOfTheBlock) {
    MacBlock block;
    block.setStartMac("00:11:22:33:44:55");
    EXPECT_EQ(block.formatMac(MacBlock::readCounter(block.startMac()) + 2), "00:11:22:33:44:57");
    block.setStartMac("00:aa:bb:cc:dd:ee");
    EXPECT_EQ(block.formatMac(13426158), "00:aa:bb:CC:DD:EE") << "prefix kept as written, the rest upper case";
    block.setStartMac("00:11:22:FF:FF:FF");
    EXPECT_EQ(block.formatMac(MacBlock::readCounter(block.startMac()) + 1), "00:11:22:00:00:00") << "wraps in 24 bits";
    block.setStartMac("00:11:22:00:00:0f");
    EXPECT_EQ(block.formatMac(MacBlock::readCounter(block.startMac()) + 2), "00:11:22:00:00:11");
    block.setStartMac("00:11:22:33:44:55:66:77");
    EXPECT_EQ(block.startMac(), "00:11:22:33:44:55") << "start_mac holds 17 characters";
}

TEST(SplitFields, FieldsInOrderNothingTrimmed) {
    HeadlessConsole console(stdout, false, false, false);
    const struct {
        const char* text;
        std::vector<std::string> items;
    } cases[] = {
        {"a,b", {"a", "b"}},          {"a,", {"a", ""}},   {"a,,b", {"a", "", "b"}},
        {"", {""}},                   {"a, b", {"a", " b"}}, {"zeta,alpha", {"zeta", "alpha"}},
    };
    for (const auto& c : cases) {
        console.appendScratch("left over");
        EXPECT_EQ(splitFields(c.text, console), 1);
        std::vector<std::string> items;
        for (int i = 0; i < console.scratchCount(); ++i) items.push_back(console.scratchItem(i));
        EXPECT_EQ(items, c.items) << c.text;
    }
    splitFields(std::string(600, 'n') + ",x", console);
    EXPECT_EQ(console.scratchItem(0), std::string(maxFieldLength, 'n')) << "a field never outgrows its buffer";
    EXPECT_EQ(console.scratchItem(1), "x");
}

}  // namespace
}  // namespace vornix
