#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "config/Profile.h"

namespace vornix {

// Where each router's serial comes from, setup.ini's [SERIAL] Source=.
enum class SerialSource { Off, Scan, Router, Assign };
// The check character a serial ends in, [SERIAL] Check=.
enum class SerialCheck { None, Mod10, Mod37_36 };

struct SerialRules {
    SerialSource source = SerialSource::Off;  // Off: no [SERIAL] (Source absent or empty): nothing changes
    std::string name;     // the router environment variable that holds the serial
    std::string pattern;  // ECMAScript regex the whole serial must match; empty: any
    SerialCheck check = SerialCheck::None;
    std::string format;   // Source=assign: e.g. VX{YYWW}{N:6}
};

// Serials longer than this are refused (and no Format may make one).
inline constexpr std::size_t maxSerialLength = 64;

// [SERIAL] of setup.ini. False and one operator line ("Can't read
// SERIAL->Key...") when a value cannot be used. Source absent or empty: true,
// Off, and nothing else is read.
bool readSerialRules(Profile& profile, SerialRules& rules, std::string& problem);

// [SERIAL] next_serial, the counter of the next assigned serial: decimal
// digits only, at most 18. False and the operator line otherwise.
bool readNextSerial(Profile& profile, long long& counter, std::string& problem);

// What a barcode scanner typed, without the CR, LF and Tab it ends with.
std::string scannedSerial(std::string typed);

// Empty when the serial may be used, else the operator line saying why. The
// serial goes into a router shell command (echo NAME SERIAL > path), so only
// A-Z a-z 0-9 - _ . / pass.
std::string serialRefusal(const SerialRules& rules, const std::string& serial);

// mod10: Luhn over the digits of body (other characters skipped), '0'..'9'.
char mod10Check(const std::string& body);
// mod37-36: ISO/IEC 7064 MOD 37,36 over 0-9 and letters of any case (other
// characters skipped), '0'..'9' or 'A'..'Z'.
char mod37_36Check(const std::string& body);
// The serial's last character is the check character of what precedes it,
// which must hold at least one character the check counts.
bool checkCharacterValid(SerialCheck check, const std::string& serial);

// Source=assign: rules.format with counter and date's fields filled in, and
// the check character appended unless rules.check is None. Fields: {YYYY}
// {YY} {MM} {DD} {WW} (ISO 8601 week) {YYWW} (ISO week-based year's last two
// digits and its week) {N:k} (counter, zero-padded to k digits). Only the
// date's year, month and day are used. False and why when it cannot.
bool formatSerial(const SerialRules& rules, long long counter, const std::tm& date, std::string& serial,
                  std::string& problem);

}  // namespace vornix
