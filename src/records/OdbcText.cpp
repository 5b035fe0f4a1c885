#include "records/Odbc.h"

// UTF-8 and UTF-16, the two encodings that meet at the ODBC wide entry points.
namespace vornix::odbc {

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(utf8[at]); };
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t extra;
        char32_t code, minimum;
        if (lead >= 0xC2 && lead <= 0xDF) extra = 1, code = lead & 0x1Fu, minimum = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF) extra = 2, code = lead & 0x0Fu, minimum = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4) extra = 3, code = lead & 0x07u, minimum = 0x10000;
        else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k <= extra && i + k < utf8.size() && (byte(i + k) & 0xC0) == 0x80; ++k)
            code = (code << 6) | (byte(i + k) & 0x3Fu);
        i += k;  // a broken sequence resumes at the byte that broke it
        if (k <= extra || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            out.push_back(0xFFFD);
        } else if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace vornix::odbc
