#pragma once

#include <cstddef>

namespace vornix {

// How the station interprets a value once read.
enum class Reading {
    Text,       // used as read
    Decimal,    // leading integer, atoi rules
    Compared,   // fixed number of leading characters against a literal, any case
    CommaList,  // fields split at every ","
    Mac,        // six colon-separated hexadecimal pairs
};

// One key of setup.ini. nullTested: the value counts as missing when it
// begins with "NULL" in any case (every "NULL"-defaulted key, and the user name).
struct ConfigKey {
    const char* section;
    const char* name;
    const char* defaultValue;  // nullptr: an absent key reads as empty text
    std::size_t bufferSize;
    Reading reading;
    bool nullTested;
};

// The numbered entries "0", "1", ... of a list section.
struct NumberedKeys {
    const char* section;
    const char* defaultValue;
    std::size_t bufferSize;
    Reading reading;
};

namespace keys {

inline constexpr ConfigKey telnetWaitTime{"Environment", "TELNETWAITTIME(ms)", "500", 128, Reading::Decimal, false};
inline constexpr ConfigKey tiAppRegisterPath{"Environment", "TiApp_register_path", "NULL", 260, Reading::Text, true};
inline constexpr ConfigKey tiAppFilename{"Environment", "TiApp_filename", "NULL", 256, Reading::Text, true};
inline constexpr ConfigKey tempDirectory{"Environment", "TempDirectory", "NULL", 256, Reading::Text, true};

inline constexpr ConfigKey cpeLanIp{"SETUP", "CPE_LAN_IP", "NULL", 18, Reading::Text, true};
inline constexpr ConfigKey telnetUsername{"SETUP", "Telnet Username", nullptr, 128, Reading::Text, true};
inline constexpr ConfigKey telnetPassword{"SETUP", "Telnet Password", "NULL", 128, Reading::Text, true};
inline constexpr ConfigKey pcIp{"SETUP", "PC_IP", "NULL", 18, Reading::Text, true};
inline constexpr ConfigKey pcFtpId{"SETUP", "PC_FTP_ID", "NULL", 1024, Reading::Text, true};
inline constexpr ConfigKey pcFtpPwd{"SETUP", "PC_FTP_PWD", "NULL", 1024, Reading::Text, true};
inline constexpr ConfigKey bootCode{"SETUP", "BOOTCODE", "NULL", 128, Reading::Text, true};
inline constexpr ConfigKey bootPartition{"SETUP", "BOOT_PARTITION", "NULL", 1024, Reading::Text, true};
inline constexpr ConfigKey time2BootCopy{"SETUP", "TIME2BOOTCOPY(ms)", "NULL", 1024, Reading::Decimal, true};
inline constexpr ConfigKey time2WaitBoot{"SETUP", "TIME2WAITBOOT(ms)", "NULL", 1024, Reading::Decimal, true};
inline constexpr ConfigKey envPath{"SETUP", "ENV_PATH", "NULL", 1024, Reading::Text, true};
inline constexpr ConfigKey bootVersion{"SETUP", "BOOTVERSION", "NULL", 1024, Reading::Text, true};
inline constexpr ConfigKey bootCodeName{"SETUP", "BOOTCODENAME", "NULL", 48, Reading::Text, true};
inline constexpr ConfigKey chip{"SETUP", "CHIP", "NULL", 1024, Reading::Compared, true};

inline constexpr ConfigKey formatMtd3{"7200", "format_mtd3", "NULL", 1024, Reading::Compared, true};

inline constexpr ConfigKey writeMacPath{"WRITE_MAC", "path", "NULL", 512, Reading::Text, true};
inline constexpr ConfigKey writeMacNumber{"WRITE_MAC", "number", "0", 1024, Reading::Decimal, false};
inline constexpr ConfigKey startMac{"WRITE_MAC", "start_mac", "NULL", 18, Reading::Mac, true};
inline constexpr NumberedKeys writeMacEntries{"WRITE_MAC", "NULL", 1024, Reading::CommaList};

inline constexpr ConfigKey writeEnvPath{"WRITE_ENV", "path", "NULL", 512, Reading::Text, true};
inline constexpr ConfigKey writeEnvNumber{"WRITE_ENV", "number", "0", 1024, Reading::Decimal, false};
inline constexpr NumberedKeys writeEnvEntries{"WRITE_ENV", "NULL", 1024, Reading::CommaList};

// How the router dialogue is paced: "fixed" waits (the default, also for any
// other value) or "prompt", where a wait ends once the router's prompt is back.
inline constexpr ConfigKey pacing{"Environment", "Pacing", "fixed", 32, Reading::Text, false};

// Line mode: the MAC blocks come from a pool in the line's database. On when
// Database (an ODBC connection string) is present and not empty.
inline constexpr ConfigKey lineDatabase{"LINE", "Database", nullptr, 1024, Reading::Text, false};
inline constexpr ConfigKey linePool{"LINE", "Pool", nullptr, 128, Reading::Text, false};
inline constexpr ConfigKey lineStation{"LINE", "Station", nullptr, 128, Reading::Text, false};
// Seconds any one call to the line database may take, connecting included.
inline constexpr ConfigKey lineTimeout{"LINE", "Timeout", "10", 32, Reading::Decimal, false};

// Each router's serial number (config/SerialRules.h). Off while Source is
// absent or empty. next_serial is text, not a number by atoi rules: a counter
// read as 0 from a typo would hand out serials twice.
inline constexpr ConfigKey serialSource{"SERIAL", "Source", nullptr, 256, Reading::Text, false};
inline constexpr ConfigKey serialName{"SERIAL", "Name", nullptr, 256, Reading::Text, false};
inline constexpr ConfigKey serialPattern{"SERIAL", "Pattern", nullptr, 1024, Reading::Text, false};
inline constexpr ConfigKey serialCheck{"SERIAL", "Check", nullptr, 256, Reading::Text, false};
inline constexpr ConfigKey serialFormat{"SERIAL", "Format", nullptr, 256, Reading::Text, false};
inline constexpr ConfigKey nextSerial{"SERIAL", "next_serial", nullptr, 256, Reading::Text, false};

// A label for each router that passes (config/LabelRules.h). Off while both
// are absent or empty.
inline constexpr ConfigKey labelTemplate{"LABEL", "Template", nullptr, 1024, Reading::Text, false};
inline constexpr ConfigKey labelPrinter{"LABEL", "Printer", nullptr, 1024, Reading::Text, false};

// Every single key, in the order docs/station-setup.md documents them.
inline constexpr const ConfigKey* all[] = {
    &telnetWaitTime, &tiAppRegisterPath, &tiAppFilename, &tempDirectory,
    &cpeLanIp, &telnetUsername, &telnetPassword, &pcIp, &pcFtpId, &pcFtpPwd,
    &bootCode, &bootPartition, &time2BootCopy, &time2WaitBoot, &envPath,
    &bootVersion, &bootCodeName, &chip, &formatMtd3,
    &writeMacPath, &writeMacNumber, &startMac, &writeEnvPath, &writeEnvNumber,
    &pacing, &lineDatabase, &linePool, &lineStation, &lineTimeout,
    &serialSource, &serialName, &serialPattern, &serialCheck, &serialFormat, &nextSerial,
    &labelTemplate, &labelPrinter,
};

}  // namespace keys
}  // namespace vornix
