#include "platform/win32/ConfigManagerTree.h"

#include <windows.h>
#include <cfgmgr32.h>

namespace vornix::platform {

bool ConfigManagerTree::locateRoot(DevNode& root) {
    DEVINST node = 0;
    if (CM_Locate_DevNodeA(&node, nullptr, CM_LOCATE_DEVNODE_PHANTOM) != CR_SUCCESS) return false;
    root = node;
    return true;
}

bool ConfigManagerTree::firstChild(DevNode node, DevNode& child) {
    DEVINST found = 0;
    if (CM_Get_Child(&found, node, 0) != CR_SUCCESS) return false;
    child = found;
    return true;
}

bool ConfigManagerTree::nextSibling(DevNode node, DevNode& sibling) {
    DEVINST found = 0;
    if (CM_Get_Sibling(&found, node, 0) != CR_SUCCESS) return false;
    sibling = found;
    return true;
}

bool ConfigManagerTree::deviceId(DevNode node, std::string& id) {
    char buffer[260] = "";
    if (CM_Get_Device_IDA(node, buffer, sizeof buffer - 1, 0) != CR_SUCCESS) return false;
    buffer[sizeof buffer - 1] = '\0';
    id = buffer;
    return true;
}

bool ConfigManagerTree::status(DevNode node, unsigned long& status, unsigned long& problem) {
    ULONG s = 0, p = 0;
    if (CM_Get_DevNode_Status(&s, &p, node, 0) != CR_SUCCESS) return false;
    status = s;
    problem = p;
    return true;
}

}  // namespace vornix::platform
