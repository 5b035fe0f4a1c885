#include <gtest/gtest.h>

#include "config/IniProfile.h"
#include "config/SerialRules.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noWrite(const std::string&, const std::string&) { return false; }

// [SERIAL] of a scratch setup.ini, read through the portable back end.
struct SerialSetup {
    test::TempDir dir;
    IniProfile profile{dir.file("setup.ini"), &noWrite};
    SerialRules rules;
    std::string problem;
    bool read(const std::string& lines) {
        dir.write("setup.ini", "[SERIAL]\r\n" + lines);
        return readSerialRules(profile, rules, problem);
    }
};

SerialRules rulesWith(const char* pattern, SerialCheck check, const char* format = "") {
    return {*format ? SerialSource::Assign : SerialSource::Scan, "serial_no", pattern, check, format};
}

std::tm day(int year, int month, int mday) {
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = mday;
    return date;
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

// Catches a value that cannot be used being taken, or [SERIAL] read at all
// while Source is unset ("bad name" would be refused) or Format read for a
// source that assigns nothing.
TEST(SerialRules, SetupIniValuesThatCannotBeUsed) {
    const struct { const char* lines; const char* problem; } cases[] = {
        {"Name=bad name\r\n", ""}, {"Source=\r\nName=bad name\r\n", ""},
        {"Source=QR\r\n", "Can't read SERIAL->Source: QR (scan, router or assign)"},
        {"Source=scan\r\n", "Can't read SERIAL->Name"},
        {"Source=scan\r\nName=sn;reboot\r\n", "Can't read SERIAL->Name"},
        {"Source=scan\r\nName=sn\r\nCheck=luhn\r\n", "Can't read SERIAL->Check: luhn (none, mod10 or mod37-36)"},
        {"Source=scan\r\nName=sn\r\nFormat={HH}\r\n", ""}};
    for (const auto& c : cases) {
        SerialSetup s;
        EXPECT_EQ(s.read(c.lines), *c.problem == '\0') << c.lines;
        EXPECT_EQ(s.problem, c.problem) << c.lines;
    }
    SerialSetup s;
    EXPECT_FALSE(s.read("Source=scan\r\nName=sn\r\nPattern=VX(0-9\r\n"));
    const std::string pattern = "Can't read SERIAL->Pattern: ";  // then the C++ library's words
    EXPECT_EQ(s.problem.substr(0, pattern.size()), pattern);
    EXPECT_GT(s.problem.size(), pattern.size());
    ASSERT_TRUE(s.read("Source=ROUTER\r\nName=serial_no\r\nPattern=VX[0-9]+\r\nCheck=MOD37-36\r\n")) << s.problem;
    EXPECT_TRUE(s.rules.source == SerialSource::Router && s.rules.check == SerialCheck::Mod37_36);
    EXPECT_EQ(s.rules.name + " " + s.rules.pattern, "serial_no VX[0-9]+");
}

// Catches a Format that numbers serials the station would refuse, with no
// counter or two, or an unknown field taken as text.
TEST(SerialRules, FormatsThatCannotNumberSerials) {
    const std::string sixty(60, 'V');
    const struct { std::string lines; const char* problem; } cases[] = {
        {"Format=VX{YYWW}{N:6}", ""}, {"Format=", "it is empty"}, {"Format=VX{YYWW}", "it has no {N:k}"},
        {"Format={N:3}VX{N:6}", "it has more than one {N:k}"}, {"Format=VX{N:0}", "{N:0} is not {N:1} to {N:18}"},
        {"Format=VX{N:19}", "{N:19} is not {N:1} to {N:18}"}, {"Format=VX{N:4", "a { is not closed"},
        {"Format=VX{HH}{N:4}", "{HH} is not a field ({YYYY}, {YY}, {MM}, {DD}, {WW}, {YYWW} or {N:k})"},
        {"Format=VX#{N:4}", "it holds #, which a serial may not hold"}, {"Format=" + sixty + "{N:4}", ""},
        {"Check=mod10\r\nFormat=" + sixty + "{N:4}", "its serials would be 65 characters long, longer than 64"}};
    for (const auto& c : cases) {
        SerialSetup s;
        EXPECT_EQ(s.read("Source=assign\r\nName=sn\r\n" + c.lines + "\r\n"), *c.problem == '\0') << c.lines;
        EXPECT_EQ(s.problem, *c.problem ? std::string("Can't read SERIAL->Format: ") + c.problem : "") << c.lines;
    }
}

// Catches next_serial read by atoi rules, where a typo reads as 0 and serials
// are handed out twice.
TEST(SerialRules, NextSerialIsDigitsOnly) {
    const struct { const char* value; long long counter; } cases[] = {  // counter -1: refused
        {"42", 42}, {" 0000007 ", 7}, {"999999999999999999", 999999999999999999}, {"12a", -1}, {"-1", -1},
        {"1000000000000000000", -1}, {"", -1}};
    for (const auto& c : cases) {
        SerialSetup s;
        long long counter = -1;
        s.read(std::string("next_serial=") + c.value + "\r\n");
        EXPECT_EQ(readNextSerial(s.profile, counter, s.problem), c.counter >= 0) << c.value;
        EXPECT_EQ(counter, c.counter) << c.value;
    }
}

// Catches the calendar year where the ISO week's year belongs, weeks counted
// from January 1st, or fields not zero-padded.
TEST(SerialRules, DateFieldsFollowIsoWeeks) {
    const struct { std::tm date; const char* serial; } cases[] = {
        {day(2026, 3, 9), "20260309-26W11-2611.7"}, {day(2021, 1, 3), "20210103-21W53-2053.7"},
        {day(2026, 12, 31), "20261231-26W53-2653.7"}, {day(2024, 12, 30), "20241230-24W01-2501.7"},
        {day(2020, 2, 29), "20200229-20W09-2009.7"}};
    const SerialRules rules = rulesWith("", SerialCheck::None, "{YYYY}{MM}{DD}-{YY}W{WW}-{YYWW}.{N:1}");
    for (const auto& c : cases) {
        std::string serial, problem;
        EXPECT_TRUE(formatSerial(rules, 7, c.date, serial, problem)) << problem;
        EXPECT_EQ(serial, c.serial);
    }
}

// Catches a counter cut or widened to fit its field, and an assigned serial
// without its check character or with one the station then refuses.
TEST(SerialRules, TheCounterFitsItsDigitsAndTheCheckIsAppended) {
    std::string serial, problem;
    const SerialRules six = rulesWith("", SerialCheck::None, "VX{N:6}");
    EXPECT_TRUE(formatSerial(six, 999999, day(2026, 3, 9), serial, problem) && serial == "VX999999") << serial;
    for (long long counter : {1000000LL, -1LL}) {
        EXPECT_FALSE(formatSerial(six, counter, day(2026, 3, 9), serial, problem));
        EXPECT_EQ(problem, "the counter " + std::to_string(counter) + " does not fit {N:6}");
    }
    for (SerialCheck check : {SerialCheck::Mod10, SerialCheck::Mod37_36}) {
        const SerialRules rules = rulesWith("VX[0-9]{10}.", check, "VX{YYWW}{N:6}");
        ASSERT_TRUE(formatSerial(rules, 42, day(2026, 3, 9), serial, problem)) << problem;
        const std::string body = "VX2611000042";
        EXPECT_EQ(serial, body + (check == SerialCheck::Mod10 ? mod10Check(body) : mod37_36Check(body)));
        EXPECT_EQ(serialRefusal(rules, serial), "");
    }
}

}  // namespace
}  // namespace vornix
