#include "view/ViewServer.h"

namespace vornix::view {

bool parseListen(const std::string&, ServeOptions&, std::string& why) {
    why = "not built yet";
    return false;
}

int serve(const ServeOptions&, std::FILE*, std::FILE* err) {
    std::fputs("vornix-cli: the line view is not built yet\n", err);
    return 1;
}

}  // namespace vornix::view
