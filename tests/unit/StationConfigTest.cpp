#include <gtest/gtest.h>

#include <climits>

#include "config/ConfigPath.h"
#include "config/IniProfile.h"
#include "config/StationConfig.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool plainReplace(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

// setup.ini in a scratch directory, read through the portable back end.
struct Station {
    test::TempDir dir;
    std::string path = dir.file("setup.ini");
    IniProfile profile{path, &plainReplace};
    StationConfig config{profile};
    void file(const std::string& bytes) { dir.write("setup.ini", bytes); }
};

TEST(StationConfig, WithoutSetupIniEveryKeyHasItsDefault) {
    Station s;
    EXPECT_EQ(s.config.readDecimal(keys::telnetWaitTime), 500);
    EXPECT_EQ(s.config.readDecimal(keys::writeMacNumber), 0);
    EXPECT_EQ(s.config.readDecimal(keys::writeEnvNumber), 0);
    for (const ConfigKey* key : keys::all) {
        const ConfigValue value = s.config.read(*key);
        if (key == &keys::telnetUsername) {
            EXPECT_EQ(value.text, "");
            EXPECT_FALSE(value.missing) << "an absent user name logs in with an empty name";
        } else if (key->nullTested) {
            EXPECT_TRUE(value.missing) << key->name;
        }
    }
    EXPECT_TRUE(s.config.readEntry(keys::writeMacEntries, 0).missing);
}

TEST(StationConfig, NullInAnyCaseOrAsAPrefixIsMissingButEmptyIsPresent) {
    Station s;
    const struct {
        const char* line;
        bool missing;
    } cases[] = {
        {"CPE_LAN_IP=NULL", true},      {"CPE_LAN_IP=null", true},  {"CPE_LAN_IP=nUlL", true},
        {"CPE_LAN_IP=NULLIFIED", true}, {"CPE_LAN_IP= NULL", true}, {"CPE_LAN_IP=\"null\"", true},
        {"CPE_LAN_IP=", false},         {"CPE_LAN_IP=NUL", false},  {"CPE_LAN_IP=xNULL", false},
    };
    for (const auto& c : cases) {
        s.file(std::string("[SETUP]\r\n") + c.line + "\r\n");
        EXPECT_EQ(s.config.read(keys::cpeLanIp).missing, c.missing) << c.line;
    }
    s.file("[SETUP]\r\nTelnet Username=Null\r\n");
    EXPECT_TRUE(s.config.read(keys::telnetUsername).missing);
    s.file("[SETUP]\r\nTelnet Username=\r\n");
    EXPECT_FALSE(s.config.read(keys::telnetUsername).missing);
    // Numeric keys are converted, never tested.
    s.file("[WRITE_MAC]\r\nnumber=NULL\r\n");
    EXPECT_EQ(s.config.readDecimal(keys::writeMacNumber), 0);
}

TEST(StationConfig, ValuesAreCutToTheirBuffers) {
    Station s;
    s.file("[SETUP]\r\nCPE_LAN_IP=192.168.100.100:1234\r\nBOOTCODENAME=" + std::string(100, 'b') +
           "\r\n[WRITE_MAC]\r\nstart_mac=00:11:22:33:44:55:66\r\n");
    EXPECT_EQ(s.config.read(keys::cpeLanIp).text, "192.168.100.100:1");
    EXPECT_EQ(s.config.read(keys::bootCodeName).text, std::string(47, 'b'));
    EXPECT_EQ(s.config.read(keys::startMac).text, "00:11:22:33:44:55");
}

TEST(StationConfig, DecimalsFollowAtoi) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"3abc", 3},       {"abc", 0},  {"", 0},           {"  42", 42},    {"\t-7x", -7},
        {"+15", 15},       {"- 5", 0},  {"250ms", 250},    {"ms250", 0},    {"0x10", 0},
        {"2147483647", INT_MAX}, {"99999999999999999999", INT_MAX}, {"-99999999999", INT_MIN},
        {"--1", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << c.text;

    Station s;
    s.file("[Environment]\r\nTELNETWAITTIME(ms)=250ms\r\n[WRITE_MAC]\r\nnumber=3abc\r\n[WRITE_ENV]\r\nnumber=abc\r\n");
    EXPECT_EQ(s.config.readDecimal(keys::telnetWaitTime), 250);
    EXPECT_EQ(s.config.readDecimal(keys::writeMacNumber), 3);
    EXPECT_EQ(s.config.readDecimal(keys::writeEnvNumber), 0);
    s.file("[Environment]\r\nTELNETWAITTIME(ms)=\r\n");
    EXPECT_EQ(s.config.readDecimal(keys::telnetWaitTime), 0);
}

TEST(StationConfig, ChipAndFormatComparisons) {
    EXPECT_TRUE(chipIs7200("7200"));
    EXPECT_TRUE(chipIs7200("7200XYZ"));
    EXPECT_FALSE(chipIs7200("720"));
    EXPECT_FALSE(chipAccepted("7300"));
    EXPECT_TRUE(chipIs7300A("7300a"));
    EXPECT_TRUE(chipAccepted("7300Ab"));
    EXPECT_FALSE(chipAccepted(" 7200"));
    EXPECT_FALSE(chipIs7300A("7200"));

    EXPECT_TRUE(formatMtd3Enabled("true"));
    EXPECT_TRUE(formatMtd3Enabled("TRUE1"));
    EXPECT_FALSE(formatMtd3Enabled("tru"));
    EXPECT_FALSE(formatMtd3Enabled("yes"));
    EXPECT_FALSE(formatMtd3Enabled(""));

    Station s;
    s.file("[SETUP]\r\nCHIP=7300a\r\n[7200]\r\nformat_mtd3=True\r\n");
    EXPECT_TRUE(chipIs7300A(s.config.read(keys::chip).text));
    EXPECT_TRUE(formatMtd3Enabled(s.config.read(keys::formatMtd3).text));
}

TEST(StationConfig, NumberedEntriesByDecimalNameWithGapsMissing) {
    Station s;
    s.file("[WRITE_MAC]\r\nnumber=3\r\n0=ethaddr,wan_mac\r\n2=usb_mac\r\n01=wrong\r\n3=beyond\r\n"
           "[WRITE_ENV]\r\nnumber=1\r\n0=ProductID,VX100,ignored\r\n");
    EXPECT_EQ(s.config.readEntry(keys::writeMacEntries, 0).text, "ethaddr,wan_mac");
    EXPECT_TRUE(s.config.readEntry(keys::writeMacEntries, 1).missing);
    EXPECT_EQ(s.config.readEntry(keys::writeMacEntries, 2).text, "usb_mac");
    EXPECT_EQ(s.config.readEntry(keys::writeEnvEntries, 0).text, "ProductID,VX100,ignored");
    EXPECT_EQ(entryKeyName(10), "10");
}

TEST(StationConfig, StartMacWriteBackKeepsEveryOtherLine) {
    Station s;
    const std::string head = "; line 4 station\r\n[SETUP]\r\nCPE_LAN_IP = 192.168.1.1\r\n\r\n[WRITE_MAC]\r\npath=/var/tmp/mac\r\nnumber=2\r\n";
    const std::string tail = "0=ethaddr\r\n1=wan_mac\r\n";
    s.file(head + "start_mac=00:11:22:00:00:0f\r\n" + tail);
    ASSERT_TRUE(s.config.write(keys::startMac, "00:11:22:00:00:11"));
    EXPECT_EQ(test::readAll(s.path), head + "start_mac=00:11:22:00:00:11\r\n" + tail);
    EXPECT_EQ(s.config.read(keys::startMac).text, "00:11:22:00:00:11");
}

TEST(ConfigPath, RefusesAPathThatWouldNotFit) {
    EXPECT_EQ(configPathFor("C:\\station", '\\'), "C:\\station\\setup.ini");
    const std::string fits(259 - 10, 'd');
    EXPECT_EQ(configPathFor(fits, '\\')->size(), 259u);
    EXPECT_FALSE(configPathFor(fits + "d", '\\').has_value());
}

}  // namespace
}  // namespace vornix
