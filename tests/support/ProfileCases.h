#pragma once

// Shared tables of setup.ini look-ups and writes. The native tests check our
// engine against the expected answers; the Wine tests put the same tables to
// GetPrivateProfileStringA and demand the same answers from both.

#include <cstddef>
#include <string>
#include <vector>

namespace vornix::test {

struct ReadCase {
    const char* name;
    std::string file;       // bytes of the file; absent when fileMissing
    const char* section;
    const char* key;
    const char* defaultValue;  // nullptr: no default
    std::size_t bufferSize;
    std::string expected;
    bool fileMissing = false;
};

struct WriteCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string value;
    std::string expected;  // the exact bytes our writer leaves
};

inline std::string repeat(char c, std::size_t n) { return std::string(n, c); }

inline std::vector<ReadCase> readCases() {
    const std::string setup = "[SETUP]\r\n";
    const std::string twenty = "192.168.100.100:123";  // 19 characters
    return {
        {"plain CRLF", setup + "CPE_LAN_IP=192.168.1.1\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "192.168.1.1"},
        {"plain LF", "[SETUP]\nCPE_LAN_IP=192.168.1.1\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "192.168.1.1"},
        {"no final newline", "[SETUP]\r\nCPE_LAN_IP=10.1.1.1", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.1.1.1"},
        {"CR only", "[SETUP]\rA=1\rCPE_LAN_IP=10.1.1.2\r", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.1.1.2"},
        {"mixed line ends", "[SETUP]\nA=1\r\nCPE_LAN_IP=10.1.1.3\r\r\nB=2\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.1.1.3"},
        {"empty file", "", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"missing file", "", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL", true},
        {"missing file numeric default", "", "Environment", "TELNETWAITTIME(ms)", "500", 128, "500", true},
        {"missing file no default", "", "SETUP", "Telnet Username", nullptr, 128, "", true},
        {"missing key", setup + "PC_IP=1.2.3.4\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"missing key no default", setup + "PC_IP=1.2.3.4\r\n", "SETUP", "Telnet Username", nullptr, 128, ""},
        {"missing section", "[OTHER]\r\nCPE_LAN_IP=1\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"section any case", "[setup]\r\nCPE_LAN_IP=1.1.1.1\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "1.1.1.1"},
        {"key any case", setup + "cpe_lan_ip=1.1.1.2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "1.1.1.2"},
        {"mixed case both", "[Write_Mac]\r\nSTART_MAC=00:11:22:33:44:55\r\n", "WRITE_MAC", "start_mac", "NULL", 18, "00:11:22:33:44:55"},
        {"blanks around equals", setup + "CPE_LAN_IP = 10.0.0.1  \r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.1"},
        {"tabs around name and value", setup + "\tCPE_LAN_IP\t=\t10.0.0.2\t\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.2"},
        {"indented header", "   [SETUP]  \r\nCPE_LAN_IP=10.0.0.3\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.3"},
        {"tab indented header", "\t[SETUP]\r\nCPE_LAN_IP=10.0.0.4\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.4"},
        {"blanks inside brackets", "[ SETUP ]\r\nCPE_LAN_IP=10.0.0.5\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.5"},
        {"comment after header", "[SETUP] ; router\r\nCPE_LAN_IP=10.0.0.6\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.6"},
        {"junk after header", "[SETUP]junk\r\nCPE_LAN_IP=10.0.0.7\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "10.0.0.7"},
        {"second bracket in header", "[SETUP]]\r\nCPE_LAN_IP=10.0.0.8\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"header without bracket", "[SETUP\r\nCPE_LAN_IP=10.0.0.9\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"empty header name", "[]\r\nCPE_LAN_IP=1\r\n" + setup + "CPE_LAN_IP=2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "2"},
        {"duplicate section key in second", setup + "PC_IP=1\r\n" + setup + "CPE_LAN_IP=2.2.2.2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"duplicate section key in first", setup + "CPE_LAN_IP=1.1.1.1\r\n" + setup + "CPE_LAN_IP=2.2.2.2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "1.1.1.1"},
        {"duplicate key first wins", setup + "CPE_LAN_IP=1.1.1.1\r\nCPE_LAN_IP=2.2.2.2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "1.1.1.1"},
        {"duplicate key first has no equals", setup + "CPE_LAN_IP\r\nCPE_LAN_IP=2.2.2.2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"key line without equals", setup + "CPE_LAN_IP\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"semicolon comment", setup + ";CPE_LAN_IP=5.5.5.5\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"hash comment", setup + "#CPE_LAN_IP=5.5.5.5\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"commented key by its comment name", setup + ";CPE_LAN_IP=5.5.5.5\r\n", "SETUP", ";CPE_LAN_IP", "NULL", 18, "5.5.5.5"},
        {"no inline comments", setup + "CPE_LAN_IP=1.1.1.1 ; lab\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "1.1.1.1 ; lab"},
        {"junk lines ignored", setup + "this is junk\r\n!!\r\nCPE_LAN_IP=3.3.3.3\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "3.3.3.3"},
        {"blank and white lines", "\r\n  \r\n[SETUP]\r\n\t\r\n\r\nCPE_LAN_IP=4.4.4.4\r\n\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "4.4.4.4"},
        {"empty value", setup + "CPE_LAN_IP=\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, ""},
        {"blank value", setup + "CPE_LAN_IP=    \r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, ""},
        {"value holds equals", setup + "PC_FTP_PWD=a=b=c\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "a=b=c"},
        {"name with inner blank", setup + "Telnet Username = admin\r\n", "SETUP", "Telnet Username", nullptr, 128, "admin"},
        {"name with doubled blank", setup + "Telnet  Username=admin\r\n", "SETUP", "Telnet Username", nullptr, 128, ""},
        {"name with parentheses", "[Environment]\r\nTELNETWAITTIME(ms)=250ms\r\n", "Environment", "TELNETWAITTIME(ms)", "500", 128, "250ms"},
        {"double quotes", setup + "CPE_LAN_IP=\"127.0.0.77\"\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "127.0.0.77"},
        {"quotes and trailing blanks", setup + "CPE_LAN_IP = \"127.0.0.77\"  \r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "127.0.0.77"},
        {"single quotes", setup + "PC_FTP_PWD='secret'\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "secret"},
        {"blanks kept inside quotes", setup + "PC_FTP_PWD=\"  x  \"\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "  x  "},
        {"mismatched quotes", setup + "PC_FTP_PWD=\"abc'\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "\"abc'"},
        {"opening quote only", setup + "PC_FTP_PWD=\"abc\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "\"abc"},
        {"closing quote only", setup + "PC_FTP_PWD=abc\"\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "abc\""},
        {"lone quote", setup + "PC_FTP_PWD=\"\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "\""},
        {"empty quotes", setup + "PC_FTP_PWD=\"\"\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, ""},
        {"inner quotes", setup + "PC_FTP_PWD=a\"b\"\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "a\"b\""},
        {"cut to buffer", setup + "CPE_LAN_IP=" + twenty + "9\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, twenty.substr(0, 17)},
        {"exactly buffer minus one", setup + "CPE_LAN_IP=" + twenty.substr(0, 17) + "\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, twenty.substr(0, 17)},
        {"exactly buffer", setup + "CPE_LAN_IP=" + twenty.substr(0, 18) + "\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, twenty.substr(0, 17)},
        {"long value cut at 1023", setup + "PC_FTP_ID=" + repeat('x', 1500) + "\r\n", "SETUP", "PC_FTP_ID", "NULL", 1024, repeat('x', 1023)},
        {"value 1023 kept", setup + "PC_FTP_ID=" + repeat('y', 1023) + "\r\n", "SETUP", "PC_FTP_ID", "NULL", 1024, repeat('y', 1023)},
        {"small buffer key", setup + "BOOTCODENAME=" + repeat('n', 60) + "\r\n", "SETUP", "BOOTCODENAME", "NULL", 48, repeat('n', 47)},
        {"quoted fits", setup + "CPE_LAN_IP=\"" + repeat('q', 16) + "\"\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, repeat('q', 16)},
        {"quoted fills buffer", setup + "CPE_LAN_IP=\"" + repeat('q', 17) + "\"\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, repeat('q', 16)},
        {"quoted past buffer", setup + "CPE_LAN_IP=\"" + repeat('q', 18) + "\"\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, repeat('q', 17)},
        {"key before any section", "CPE_LAN_IP=1\r\n[SETUP]\r\nPC_IP=2\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"key in another section", "[OTHER]\r\nCPE_LAN_IP=1\r\n[SETUP]\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"section ends at next header", "[SETUP]\r\nPC_IP=1\r\n[WRITE_MAC]\r\nCPE_LAN_IP=9\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "NULL"},
        {"utf-8 byte order mark", "\xEF\xBB\xBF[SETUP]\r\nCPE_LAN_IP=6.6.6.6\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "6.6.6.6"},
        {"utf-16 little endian", std::string("\xFF\xFE[\0S\0E\0T\0U\0P\0]\0\r\0\n\0A\0=\0" "7\0\r\0\n\0", 30), "SETUP", "A", "NULL", 18, "7"},
        {"NUL ends value", setup + std::string("PC_FTP_PWD=ab\0cd\r\n", 19), "SETUP", "PC_FTP_PWD", "NULL", 1024, "ab"},
        {"ctrl-Z is blank", setup + "CPE_LAN_IP=8.8.8.8\x1a\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "8.8.8.8"},
        {"vertical tab and form feed are blank", setup + "\vCPE_LAN_IP\f=\v8.8.4.4\f\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "8.8.4.4"},
        {"inner tab kept", setup + "PC_FTP_PWD=a\tb\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "a\tb"},
        {"high bit bytes", setup + "PC_FTP_PWD=caf\xe9\r\n", "SETUP", "PC_FTP_PWD", "NULL", 1024, "caf\xe9"},
        {"NULL text is returned as text", setup + "CPE_LAN_IP=null\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "null"},
        {"numbered entry", "[WRITE_MAC]\r\nnumber=2\r\n0=ethaddr,wan_mac\r\n1=usb_mac\r\n", "WRITE_MAC", "1", "NULL", 1024, "usb_mac"},
        {"numbered entry leading zero", "[WRITE_MAC]\r\n00=ethaddr\r\n", "WRITE_MAC", "0", "NULL", 1024, "NULL"},
        {"numbered entry blanks", "[WRITE_ENV]\r\n 0 = ProductID,VX100 \r\n", "WRITE_ENV", "0", "NULL", 1024, "ProductID,VX100"},
        {"section named by digits", "[7200]\r\nformat_mtd3=true\r\n", "7200", "format_mtd3", "NULL", 1024, "true"},
        {"trailing blanks of long line", setup + "CPE_LAN_IP=1.2.3.4" + repeat(' ', 200) + "\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "1.2.3.4"},
        {"blank before closing bracket", "[SETUP ]\r\nCPE_LAN_IP=9.9.9.9\r\n", "SETUP", "CPE_LAN_IP", "NULL", 18, "9.9.9.9"},
        {"looked-up names trimmed", setup + "CPE_LAN_IP=9.9.9.8\r\n", " SETUP ", " CPE_LAN_IP\t", "NULL", 18, "9.9.9.8"},
        {"default trailing blanks dropped", setup, "SETUP", "CPE_LAN_IP", "abc  ", 18, "abc"},
        {"quoted default", setup, "SETUP", "CPE_LAN_IP", "\"abc\"", 18, "abc"},
    };
}

inline std::vector<WriteCase> writeCases() {
    const std::string mac = "00:11:22:00:00:11";
    return {
        {"replace CRLF", "[WRITE_MAC]\r\npath=/var/mac\r\nstart_mac=00:11:22:00:00:0F\r\nnumber=2\r\n",
         "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\npath=/var/mac\r\nstart_mac=" + mac + "\r\nnumber=2\r\n"},
        {"replace LF", "[WRITE_MAC]\nstart_mac=00:11:22:00:00:0F\nnumber=2\n", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\nstart_mac=" + mac + "\nnumber=2\n"},
        {"replace blanks around", "[WRITE_MAC]\r\n  start_mac = 00:11:22:00:00:0F  \r\nnumber=2\r\n", "WRITE_MAC",
         "start_mac", mac, "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\nnumber=2\r\n"},
        {"replace keeps file spelling", "[write_mac]\r\nSTART_MAC=00:11:22:00:00:0F\r\n", "WRITE_MAC", "start_mac",
         mac, "[write_mac]\r\nSTART_MAC=" + mac + "\r\n"},
        {"replace last line without newline", "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:0F", "WRITE_MAC", "start_mac",
         mac, "[WRITE_MAC]\r\nstart_mac=" + mac},
        {"replace key without equals", "[WRITE_MAC]\r\nstart_mac\r\nnumber=1\r\n", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\nnumber=1\r\n"},
        {"replace first of duplicates", "[WRITE_MAC]\r\nstart_mac=A\r\nstart_mac=B\r\n", "WRITE_MAC", "start_mac",
         mac, "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\nstart_mac=B\r\n"},
        {"replace in quoted value", "[WRITE_MAC]\r\nstart_mac=\"00:11:22:00:00:0F\"\r\n", "WRITE_MAC", "start_mac",
         mac, "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n"},
        {"other lines byte for byte",
         "; station 4\r\n  [SETUP]   \r\n\tCPE_LAN_IP = \"192.168.1.1\"\r\n\r\n[WRITE_MAC] ; list\r\n;  next free\r\n"
         "start_mac = 00:11:22:00:00:0F\r\n   0 = ethaddr ,x\r\n\r\n\r\n[WRITE_ENV]\r\n",
         "WRITE_MAC", "start_mac", mac,
         "; station 4\r\n  [SETUP]   \r\n\tCPE_LAN_IP = \"192.168.1.1\"\r\n\r\n[WRITE_MAC] ; list\r\n;  next free\r\n"
         "start_mac=" + mac + "\r\n   0 = ethaddr ,x\r\n\r\n\r\n[WRITE_ENV]\r\n"},
        {"same value leaves file alone", "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n", "WRITE_MAC", "start_mac",
         mac, "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n"},
        {"add key after last line of section", "[WRITE_MAC]\r\npath=/var/mac\r\n\r\n[WRITE_ENV]\r\npath=/e\r\n",
         "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\npath=/var/mac\r\nstart_mac=" + mac + "\r\n\r\n[WRITE_ENV]\r\npath=/e\r\n"},
        {"add key after comment", "[WRITE_MAC]\r\n; the next free address\r\n[SETUP]\r\n", "WRITE_MAC", "start_mac",
         mac, "[WRITE_MAC]\r\n; the next free address\r\nstart_mac=" + mac + "\r\n[SETUP]\r\n"},
        {"add key to empty section", "[WRITE_MAC]\r\n[SETUP]\r\nPC_IP=1\r\n", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n[SETUP]\r\nPC_IP=1\r\n"},
        {"add key at end without newline", "[WRITE_MAC]\r\npath=/var/mac", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\npath=/var/mac\r\nstart_mac=" + mac},
        {"add key to header at end", "[SETUP]\r\nPC_IP=1\r\n[WRITE_MAC]", "WRITE_MAC", "start_mac", mac,
         "[SETUP]\r\nPC_IP=1\r\n[WRITE_MAC]\r\nstart_mac=" + mac},
        {"add key LF", "[WRITE_MAC]\npath=/m\n\n[X]\n", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\npath=/m\nstart_mac=" + mac + "\n\n[X]\n"},
        {"add key to first of duplicate sections", "[WRITE_MAC]\r\npath=/m\r\n[WRITE_MAC]\r\nstart_mac=OLD\r\n",
         "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\npath=/m\r\nstart_mac=" + mac + "\r\n[WRITE_MAC]\r\nstart_mac=OLD\r\n"},
        {"add section at end", "[SETUP]\r\nPC_IP=1\r\n", "WRITE_MAC", "start_mac", mac,
         "[SETUP]\r\nPC_IP=1\r\n[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n"},
        {"add section after file without newline", "[SETUP]\nPC_IP=1", "WRITE_MAC", "start_mac", mac,
         "[SETUP]\nPC_IP=1\n[WRITE_MAC]\nstart_mac=" + mac + "\n"},
        {"add section to empty file", "", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n"},
        {"CR only file", "[WRITE_MAC]\rpath=/m\rstart_mac=X\r", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC]\rpath=/m\rstart_mac=" + mac + "\r"},
        {"utf-8 mark kept", "\xEF\xBB\xBF[WRITE_MAC]\r\nstart_mac=X\r\n", "WRITE_MAC", "start_mac", mac,
         "\xEF\xBB\xBF[WRITE_MAC]\r\nstart_mac=" + mac + "\r\n"},
        {"leading blanks of value dropped", "[WRITE_MAC]\r\nstart_mac=X\r\n", "WRITE_MAC", "start_mac", "  00:11:22:00:00:12",
         "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:12\r\n"},
        {"header with trailing comment", "[WRITE_MAC] ; list\r\nstart_mac=X\r\n", "WRITE_MAC", "start_mac", mac,
         "[WRITE_MAC] ; list\r\nstart_mac=" + mac + "\r\n"},
    };
}

}  // namespace vornix::test
