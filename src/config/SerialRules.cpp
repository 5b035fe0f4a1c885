#include "config/SerialRules.h"

#include <regex>
#include <string_view>

namespace vornix {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAlphanumeric(char c) { return isDigit(c) || isLetter(c); }
// What may stand in `echo NAME SERIAL > path` on the router without quoting.
bool serialSafe(char c) { return isAlphanumeric(c) || c == '-' || c == '_' || c == '.' || c == '/'; }

std::string hexByte(unsigned char b) {
    static const char hex[] = "0123456789ABCDEF";
    return std::string("\\x") + hex[b >> 4] + hex[b & 15];
}

// Text as an operator line shows it: control and non-ASCII bytes as \xNN, so
// that a stray byte can neither mangle the log nor hide.
std::string shown(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += b >= 0x20 && b < 0x7F ? std::string(1, c) : hexByte(b);
    }
    return out;
}

// One refused character; a blank would be invisible between two blanks.
std::string shownCharacter(char c) { return c == ' ' ? hexByte(' ') : shown(std::string_view(&c, 1)); }

const char* checkName(SerialCheck check) { return check == SerialCheck::Mod10 ? "mod10" : "mod37-36"; }

// The characters the check counts in the body: digits for mod10, digits and
// letters for mod37-36.
bool counted(SerialCheck check, char c) { return check == SerialCheck::Mod10 ? isDigit(c) : isAlphanumeric(c); }

bool hasCounted(SerialCheck check, std::string_view body) {
    for (char c : body)
        if (counted(check, c)) return true;
    return false;
}

char expectedCheck(SerialCheck check, const std::string& body) {
    return check == SerialCheck::Mod10 ? mod10Check(body) : mod37_36Check(body);
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string scannedSerial(std::string typed) {
    while (!typed.empty() && (typed.back() == '\r' || typed.back() == '\n' || typed.back() == '\t')) typed.pop_back();
    return typed;
}

std::string serialRefusal(const SerialRules& rules, const std::string& serial) {
    if (serial.empty()) return "Serial refused: it is empty";
    if (serial.size() > maxSerialLength)
        return "Serial refused: it is longer than " + std::to_string(maxSerialLength) + " characters";
    const std::string head = "Serial " + shown(serial) + " refused: ";
    for (char c : serial)
        if (!serialSafe(c)) return head + "it holds " + shownCharacter(c) + ", which a serial may not hold";
    if (!rules.pattern.empty()) {
        bool matches = false;
        try {
            matches = std::regex_match(serial, std::regex(rules.pattern, std::regex::ECMAScript));
        } catch (const std::regex_error&) {
            // A pattern that cannot be matched lets nothing through.
        }
        if (!matches) return head + "it does not match Pattern=" + shown(rules.pattern);
    }
    if (rules.check != SerialCheck::None) {
        const std::string body = serial.substr(0, serial.size() - 1);
        if (!hasCounted(rules.check, body))
            return head + "it has no " + (rules.check == SerialCheck::Mod10 ? "digit" : "letter or digit") +
                   " before its check character (" + checkName(rules.check) + ")";
        if (!checkCharacterValid(rules.check, serial))
            return head + "its check character is wrong (" + checkName(rules.check) + " gives " +
                   expectedCheck(rules.check, body) + ")";
    }
    return "";
}

char mod10Check(const std::string& body) {
    // Luhn: from the right, every other digit doubled, starting with the one
    // next to the check digit.
    int sum = 0;
    bool doubled = true;
    for (auto it = body.rbegin(); it != body.rend(); ++it) {
        if (!isDigit(*it)) continue;
        int digit = *it - '0';
        if (doubled) digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
        doubled = !doubled;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

char mod37_36Check(const std::string& body) {
    // ISO/IEC 7064 hybrid system, M = 36: P starts at M; for each character's
    // value a, S = (P + a) mod M (M when 0) and P = 2S mod (M + 1). The check
    // value c makes (P + c) mod M = 1.
    constexpr int m = 36;
    int p = m;
    for (char c : body) {
        if (!isAlphanumeric(c)) continue;
        const int a = isDigit(c) ? c - '0' : upper(c) - 'A' + 10;
        int s = (p + a) % m;
        if (s == 0) s = m;
        p = 2 * s % (m + 1);
    }
    const int value = (m + 1 - p) % m;
    return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

bool checkCharacterValid(SerialCheck check, const std::string& serial) {
    if (check == SerialCheck::None) return true;
    if (serial.empty()) return false;
    const std::string body = serial.substr(0, serial.size() - 1);
    const char last = serial.back();
    if (!counted(check, last) || !hasCounted(check, body)) return false;
    return upper(last) == expectedCheck(check, body);
}

}  // namespace vornix
