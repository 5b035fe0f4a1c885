#pragma once

#include <string_view>

namespace vornix::view {

struct Asset {
    std::string_view path;
    std::string_view contentType;
    std::string_view body;
};

// "/" -> line.html, "/runs" -> runs.html, "/run" -> run.html, "/address" -> address.html,
// "/assets/<file>" -> the file; nullptr for any other path.
const Asset* findAsset(std::string_view path);

}  // namespace vornix::view
