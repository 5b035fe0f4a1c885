#include "view/Assets.h"

namespace vornix::view {

// Until the pages are built in: the API only.
const Asset* findAsset(std::string_view) { return nullptr; }

}  // namespace vornix::view
