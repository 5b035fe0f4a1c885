#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vornix {

// A variable's own line in a router's listing: the line begins with the
// name (after blanks) and a blank, tab, '=' or the line's end follows it. A name that occurs
// only inside another line (inside an address, or as the end of a longer
// name) has no line of its own: reading it there would verify the wrong
// variable.
struct NamedLine {
    std::size_t name;  // where the name begins
    std::size_t end;   // where its line ends (a CR, an LF or the end of the text)
};

// The first line of text that is name's own, or nullopt.
std::optional<NamedLine> findNamedLine(const std::string& text, const std::string& name);

}  // namespace vornix
