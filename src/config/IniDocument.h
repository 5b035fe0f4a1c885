#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornix {

// One INI file's bytes, read the way the Windows profile functions read them,
// and edited the way our crash-safe writer must edit them: one line changed or
// added, every other byte left alone.
class IniDocument {
public:
    enum class Encoding { Ansi, Utf8Bom, Utf16Le, Utf16Be };

    explicit IniDocument(std::string bytes);

    Encoding encoding() const { return encoding_; }

    // The value of the first key of that name in the first section of that
    // name (names compared without regard to ASCII case, blanks around them
    // ignored). nullopt when the section or key is absent, and also when the
    // key's line has no '=' at all: the profile functions then give the default.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;

    // The whole file with the key set to value. The key's line becomes
    // "name=value"; a missing key goes after the last non-blank line of its
    // section; a missing section goes at the end of the file. nullopt when
    // the edit cannot be made safely: a UTF-16 file (byte edits would corrupt
    // it), or a value or name holding a line break or NUL.
    std::optional<std::string> withValue(std::string_view section, std::string_view key,
                                         std::string_view value) const;

private:
    enum class Kind { Blank, Header, Entry };
    struct Line {
        std::size_t begin = 0;       // first byte of the line
        std::size_t contentEnd = 0;  // first byte of its line break
        std::size_t end = 0;         // first byte after its line break
        Kind kind = Kind::Blank;
        std::string name;            // section or key name, blanks trimmed
        bool hasValue = false;
        std::string value;
    };

    // Index range [first, last) of the body lines of the first matching
    // section; first == npos when there is none. header is the header line.
    struct SectionSpan {
        std::size_t header = npos;
        std::size_t first = npos;
        std::size_t last = npos;
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    SectionSpan findSection(std::string_view section) const;
    std::size_t findKey(const SectionSpan& span, std::string_view key) const;
    std::string lineBreak() const;

    std::string bytes_;  // the file as it is on disk
    std::string text_;   // what is parsed: bytes_ after any BOM, UTF-16 narrowed
    std::size_t textOffset_ = 0;  // where text_ starts in bytes_ (byte encodings)
    Encoding encoding_ = Encoding::Ansi;
    std::vector<Line> lines_;
};

// What GetPrivateProfileStringA puts into a buffer of bufferSize bytes for a
// found value (or, when value is nullopt, for the default; nullptr means "").
std::string profileResult(const std::optional<std::string>& value, const char* defaultValue,
                          std::size_t bufferSize);

// The blank test of the profile functions: tab to carriage return, ^Z, space.
bool isProfileBlank(char c);

}  // namespace vornix
