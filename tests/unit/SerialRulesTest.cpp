#include <gtest/gtest.h>

#include "config/SerialRules.h"

namespace vornix {
namespace {

SerialRules rulesWith(const char* pattern, SerialCheck check, const char* format = "") {
    return {*format ? SerialSource::Assign : SerialSource::Scan, "serial_no", pattern, check, format};
}

// Catches Luhn doubling the wrong digits, counting letters, or passing a last
// character that is no digit or has no digit before it.
TEST(SerialRules, Mod10IsLuhnOverTheDigits) {
    EXPECT_EQ(mod10Check("7992739871"), '3');  // Wikipedia, "Luhn algorithm"
    // Wikipedia's and Rosetta Code's ("Luhn test of credit card numbers") numbers.
    const struct { const char* serial; bool valid; } cases[] = {
        {"79927398713", true}, {"79927398710", false}, {"49927398716", true}, {"1234567812345670", true},
        {"1234567812345678", false}, {"VX-79927398713", true}, {"7992739871X", false}, {"VX3", false}};
    for (const auto& c : cases) EXPECT_EQ(checkCharacterValid(SerialCheck::Mod10, c.serial), c.valid) << c.serial;
}

// Catches a wrong hybrid recurrence (above all its S = 0 -> M step), letters
// of one case only, or separators counted.
TEST(SerialRules, Mod37_36IsTheIso7064HybridSystem) {
    // Lobster_data's manual, "checksum ISO 7064 Mod. 37/36()", gives the first four:
    // https://www.lobster-world.com/online/_data/docs/46/en/BasicISO7064Mod3736Checksum.html
    // By hand for 123AB (P = 36; S = (P + a) mod 36, 0 read as 36; P = 2S mod 37):
    // 1: S 1 P 2; 2: S 4 P 8; 3: S 11 P 22; A=10: S 32 P 27; B=11: S 2 P 4;
    // check (37 - 4) mod 36 = 33, X. For "0": S 0 -> 36, P 35, check 2.
    const struct { const char* body; char check; } cases[] = {
        {"123AB", 'X'}, {"DADPIDA3897722461", 'J'}, {"DA-DPIDA-3897722461-", 'J'}, {"A12425GABC1234002", 'M'},
        {"123ab", 'X'}, {"0", '2'}};
    for (const auto& c : cases) EXPECT_EQ(mod37_36Check(c.body), c.check) << c.body;
    EXPECT_TRUE(checkCharacterValid(SerialCheck::Mod37_36, "123abx"));
}

// Catches a scanner's line end left on the serial, or more than it taken off.
TEST(SerialRules, ScannerLineEndsAreDroppedAndNothingElse) {
    const struct { const char* typed; const char* serial; } cases[] = {
        {"VX1\r", "VX1"}, {"VX1\n", "VX1"}, {"VX1\r\n", "VX1"}, {"VX1\t", "VX1"}, {"VX1\r\n\t\n\r", "VX1"},
        {"\r\tVX1 ", "\r\tVX1 "}, {"VX\t1\r\n", "VX\t1"}};
    for (const auto& c : cases) EXPECT_EQ(scannedSerial(c.typed), c.serial) << c.serial;
}

// Catches a character the router's shell would read, a non-ASCII byte
// passing, or a raw byte in the operator's line.
TEST(SerialRules, OnlyShellSafeCharactersPass) {
    EXPECT_EQ(serialRefusal(SerialRules{}, "AZaz09-_./"), "");
    const struct { const char* serial; const char* shown; const char* character; } cases[] = {
        {"VX 1", "VX 1", "\\x20"}, {"VX;1", "VX;1", ";"}, {"VX$1", "VX$1", "$"}, {"VX'1", "VX'1", "'"},
        {"VX`1", "VX`1", "`"}, {"VX\"1", "VX\"1", "\""}, {"VX\t1", "VX\\x091", "\\x09"},
        {"VX\xC3\xA9" "1", "VX\\xC3\\xA91", "\\xC3"}};
    for (const auto& c : cases)
        EXPECT_EQ(serialRefusal(SerialRules{}, c.serial), std::string("Serial ") + c.shown + " refused: it holds " +
                                                              c.character + ", which a serial may not hold");
}

// Catches the pattern searched for inside the serial rather than matched
// against all of it, a check skipped, or the checks in another order.
TEST(SerialRules, RefusalsInOrderWithTheWholeSerialMatched) {
    const SerialRules luhn = rulesWith("VX[0-9]{11}", SerialCheck::Mod10), any = rulesWith("", SerialCheck::None);
    const struct { SerialRules rules; std::string serial; const char* line; } cases[] = {
        {luhn, "", "Serial refused: it is empty"},
        {luhn, std::string(65, '1'), "Serial refused: it is longer than 64 characters"},
        {any, std::string(64, '1'), ""},
        {luhn, "VX 79927398713", "Serial VX 79927398713 refused: it holds \\x20, which a serial may not hold"},
        {luhn, "VX79927398713", ""},
        {luhn, "AVX79927398713", "Serial AVX79927398713 refused: it does not match Pattern=VX[0-9]{11}"},
        {luhn, "VX79927398710", "Serial VX79927398710 refused: its check character is wrong (mod10 gives 3)"},
        {rulesWith("", SerialCheck::Mod10), "VX-7",
         "Serial VX-7 refused: it has no digit before its check character (mod10)"},
        {rulesWith("", SerialCheck::Mod37_36), "123ABY",
         "Serial 123ABY refused: its check character is wrong (mod37-36 gives X)"}};
    for (const auto& c : cases) EXPECT_EQ(serialRefusal(c.rules, c.serial), c.line) << c.serial;
}

}  // namespace
}  // namespace vornix
