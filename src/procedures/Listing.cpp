#include "procedures/Listing.h"

namespace vornix {

std::optional<NamedLine> findNamedLine(const std::string& text, const std::string& name) {
    if (name.empty()) return std::nullopt;
    std::size_t lineStart = 0;
    while (lineStart <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", lineStart);
        if (end == std::string::npos) end = text.size();
        std::size_t at = lineStart;
        while (at < end && (text[at] == ' ' || text[at] == '\t')) ++at;
        const std::size_t after = at + name.size();
        // A line end right after the name: a variable with an empty value.
        if (after <= end && after < text.size() && text.compare(at, name.size(), name) == 0 &&
            (after == end || text[after] == ' ' || text[after] == '\t' || text[after] == '='))
            return NamedLine{at, end};
        lineStart = end + 1;
    }
    return std::nullopt;
}

}  // namespace vornix
