#pragma once

#include <string_view>

namespace vornix::view {

// One file of the line view, compiled into the program.
struct Asset {
    std::string_view path;         // "/assets/<file>"
    std::string_view contentType;  // with charset=utf-8 for text
    std::string_view body;
};

// "/" -> line.html, "/runs" -> runs.html, "/run" -> run.html, "/address" ->
// address.html, "/unit" -> unit.html, "/assets/<file>" -> the file; nullptr
// for any other path.
const Asset* findAsset(std::string_view path);

}  // namespace vornix::view
