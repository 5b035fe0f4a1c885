#pragma once

#include <cstddef>
#include <string>

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

}  // namespace vornix
