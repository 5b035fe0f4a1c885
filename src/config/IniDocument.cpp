#include "config/IniDocument.h"

#include <utility>

namespace vornix {

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isProfileBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isProfileBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Names and values end at an embedded NUL, as they do in the C strings the
// profile functions keep.
std::string cutAtNul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// UTF-16 text narrowed to single bytes for parsing: Latin-1 code points keep
// their value, anything else becomes '?' (station files are plain ASCII).
std::string narrowUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned char a = static_cast<unsigned char>(bytes[i]);
        const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        const unsigned unit = bigEndian ? (a << 8 | b) : (b << 8 | a);
        out.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    return out;
}

}  // namespace

bool isProfileBlank(char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }

IniDocument::IniDocument(std::string bytes) : bytes_(std::move(bytes)) {
    std::string_view all(bytes_);
    if (all.substr(0, 3) == "\xEF\xBB\xBF") {
        encoding_ = Encoding::Utf8Bom;
        textOffset_ = 3;
        text_ = bytes_.substr(3);
    } else if (all.substr(0, 2) == "\xFF\xFE") {
        encoding_ = Encoding::Utf16Le;
        text_ = narrowUtf16(all.substr(2), false);
    } else if (all.substr(0, 2) == "\xFE\xFF") {
        encoding_ = Encoding::Utf16Be;
        text_ = narrowUtf16(all.substr(2), true);
    } else {
        text_ = bytes_;
    }

    const std::string_view text(text_);
    std::size_t pos = 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        std::size_t e = text.find_first_of("\r\n", pos);
        if (e == std::string_view::npos) e = text.size();
        line.contentEnd = e;
        if (e + 1 < text.size() && text[e] == '\r' && text[e + 1] == '\n')
            line.end = e + 2;
        else
            line.end = (e < text.size()) ? e + 1 : e;
        pos = line.end;

        const std::string_view content = trimBlanks(text.substr(line.begin, e - line.begin));
        if (content.empty()) {
            lines_.push_back(std::move(line));
            continue;
        }
        if (content.front() == '[') {
            const std::size_t close = content.rfind(']');
            if (close != std::string_view::npos) {
                line.kind = Kind::Header;
                line.name = cutAtNul(trimBlanks(content.substr(1, close - 1)));
                lines_.push_back(std::move(line));
                continue;
            }
            // No closing bracket: the profile functions read it as a key line.
        }
        line.kind = Kind::Entry;
        const std::size_t eq = content.find('=');
        if (eq == std::string_view::npos) {
            line.name = cutAtNul(content);
        } else {
            line.name = cutAtNul(trimBlanks(content.substr(0, eq)));
            line.hasValue = true;
            line.value = cutAtNul(trimBlanks(content.substr(eq + 1)));
        }
        lines_.push_back(std::move(line));
    }
}

IniDocument::SectionSpan IniDocument::findSection(std::string_view section) const {
    const std::string_view wanted = trimBlanks(section);
    SectionSpan span;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (span.header == npos) {
            if (lines_[i].kind == Kind::Header && equalNoCase(lines_[i].name, wanted)) {
                span.header = i;
                span.first = i + 1;
                span.last = lines_.size();
            }
        } else if (lines_[i].kind == Kind::Header) {
            span.last = i;
            break;
        }
    }
    return span;
}

std::size_t IniDocument::findKey(const SectionSpan& span, std::string_view key) const {
    if (span.header == npos) return npos;
    const std::string_view wanted = trimBlanks(key);
    for (std::size_t i = span.first; i < span.last; ++i)
        if (lines_[i].kind == Kind::Entry && equalNoCase(lines_[i].name, wanted)) return i;
    return npos;
}

std::optional<std::string> IniDocument::find(std::string_view section, std::string_view key) const {
    const std::size_t i = findKey(findSection(section), key);
    if (i == npos || !lines_[i].hasValue) return std::nullopt;
    return lines_[i].value;
}

std::string IniDocument::lineBreak() const {
    for (const Line& line : lines_)
        if (line.end > line.contentEnd) return text_.substr(line.contentEnd, line.end - line.contentEnd);
    return "\r\n";
}

std::optional<std::string> IniDocument::withValue(std::string_view section, std::string_view key,
                                                  std::string_view value) const {
    if (encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be) return std::nullopt;
    const std::string_view sectionName = trimBlanks(section);
    const std::string_view keyName = trimBlanks(key);
    while (!value.empty() && isProfileBlank(value.front())) value.remove_prefix(1);
    if (hasLineBreakOrNul(sectionName) || hasLineBreakOrNul(keyName) || hasLineBreakOrNul(value) ||
        keyName.empty() || keyName.front() == '[' || keyName.find('=') != std::string_view::npos)
        return std::nullopt;

    const std::string eol = lineBreak();
    const SectionSpan span = findSection(sectionName);
    const std::size_t keyLine = findKey(span, keyName);

    std::string out = bytes_;
    if (keyLine != npos) {
        const Line& line = lines_[keyLine];
        std::string replacement = line.name;
        replacement += '=';
        replacement += value;
        out.replace(textOffset_ + line.begin, line.contentEnd - line.begin, replacement);
        return out;
    }

    std::string entry(keyName);
    entry += '=';
    entry += value;
    if (span.header != npos) {
        std::size_t after = span.header;
        for (std::size_t i = span.first; i < span.last; ++i)
            if (lines_[i].kind != Kind::Blank) after = i;
        const Line& line = lines_[after];
        std::string insert;
        if (line.end == line.contentEnd) insert += eol;  // last line of the file had no break
        insert += entry;
        if (line.end != line.contentEnd) insert += eol;
        out.insert(textOffset_ + line.end, insert);
        return out;
    }

    if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') out += eol;
    out += '[';
    out += sectionName;
    out += ']';
    out += eol;
    out += entry;
    out += eol;
    return out;
}

std::string profileResult(const std::optional<std::string>& value, const char* defaultValue,
                          std::size_t bufferSize) {
    if (bufferSize == 0) return std::string();
    std::string_view source;
    std::string defaultText;
    if (value) {
        source = *value;
    } else {
        // Trailing spaces of the default are dropped, but never its first character.
        defaultText = defaultValue ? defaultValue : "";
        std::size_t keep = defaultText.size();
        while (keep > 1 && defaultText[keep - 1] == ' ') --keep;
        defaultText.resize(keep);
        source = defaultText;
    }

    // Matching quotes around the value are removed. The closing quote is
    // dropped by cutting the last character of what fits, and only when the
    // text after the opening quote is no longer than the buffer, exactly as
    // the profile functions do it (so a quoted value that just fills the
    // buffer loses one character more).
    bool quoted = false;
    if (source.size() >= 2 && (source.front() == '"' || source.front() == '\'') &&
        source.back() == source.front()) {
        quoted = true;
        source.remove_prefix(1);
    }
    std::string out(source.substr(0, bufferSize - 1));
    if (quoted && bufferSize >= source.size() && !out.empty()) out.pop_back();
    return out;
}

}  // namespace vornix
