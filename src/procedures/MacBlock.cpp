#include "procedures/MacBlock.h"

#include <cmath>

namespace vornix {

int MacBlock::readCounter(const std::string& text) {
    int value = 0;
    int exponent = 5;
    for (std::size_t position = 9; position <= 17; ++position) {
        if (position >= text.size()) continue;  // past the end: skipped
        const char c = text[position];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else continue;
        // In floating point and truncated after every digit, so a seventh
        // digit's fractional weight vanishes.
        value = static_cast<int>(value + digit * std::pow(16.0, exponent));
        --exponent;
    }
    return value;
}

std::string MacBlock::formatMac(long long value) const {
    static const char hex[] = "0123456789ABCDEF";
    unsigned long long rest = static_cast<unsigned long long>(value);
    char digits[6];
    for (int i = 5; i >= 0; --i) {
        digits[i] = hex[rest % 16];
        rest /= 16;
    }
    std::string mac = startMac_.substr(0, 8);
    for (int i = 0; i < 6; i += 2) {
        mac += ':';
        mac += digits[i];
        mac += digits[i + 1];
    }
    return mac;
}

bool isMacText(const std::string& text) {
    if (text.size() != 17) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

int splitFields(const std::string& text, OperatorConsole& console) {
    console.clearScratch();
    std::string field;
    for (char c : text) {
        if (c == ',') {
            console.appendScratch(field);
            field.clear();
        } else if (field.size() < maxFieldLength) {
            field += c;
        }
    }
    console.appendScratch(field);
    return 1;
}

}  // namespace vornix
