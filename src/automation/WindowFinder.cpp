#include "automation/WindowFinder.h"

#include <memory>

namespace vornix {

namespace {

// One table for the process, one search at a time.
std::mutex tableMutex;
PresenceTable& sharedTable() {
    static PresenceTable* table = new PresenceTable;
    return *table;
}

}  // namespace

void WindowFinder::collectChildIds(WindowHandle window, PresenceTable& table) {
    table.slots.fill(0);
    unsigned count = 0;
    for (WindowHandle child = windows_.firstChild(window); child; child = windows_.next(child)) {
        const unsigned id = static_cast<unsigned>(windows_.controlId(child)) & 0xFFFFu;
        // IDs above 32,766 have no slot: they mark nothing and match nothing.
        if (id + 1 < table.slots.size()) table.slots[id + 1] = 1;
        ++count;
    }
    table.slots[0] = static_cast<std::uint8_t>(count % 256);
}

bool WindowFinder::hasAllIds(const ControlSignature& signature, const PresenceTable& table) {
    if (table.slots[0] == 0) return false;
    for (int id : signature) {
        if (id < 0 || id + 1 >= static_cast<int>(table.slots.size()) || !table.slots[static_cast<std::size_t>(id) + 1])
            return false;
    }
    return true;
}

WindowHandle WindowFinder::search(WindowHandle level, const ControlSignature& signature, const PresenceEvent* abort) {
    std::lock_guard<std::mutex> lock(tableMutex);
    PresenceTable& table = sharedTable();
    for (;;) {
        WindowHandle candidate = windows_.firstChild(level);
        if (!candidate) return 0;
        WindowHandle found = 0;
        for (;;) {
            collectChildIds(candidate, table);
            if (hasAllIds(signature, table)) {
                found = candidate;
                break;
            }
            if (windows_.last(candidate) == candidate) return 0;  // the last window of the level: no match
            candidate = windows_.next(candidate);
            if (!candidate) break;  // the list changed under the scan
            pause_.sleepMs(1);
        }
        if (abort && abort->waitFor(1)) return 0;
        pause_.sleepMs(20);
        if (found) return found;
    }
}

WindowHandle WindowFinder::findTopLevelWindow(const ControlSignature& signature, const PresenceEvent* abort) {
    return search(windows_.desktop(), signature, abort);
}

WindowHandle WindowFinder::findChildWindow(WindowHandle parent, const ControlSignature& signature,
                                           const PresenceEvent* abort) {
    if (!parent) return 0;
    return search(parent, signature, abort);
}

void WindowFinder::pressButton(WindowHandle control) {
    if (!control) return;
    windows_.post(control, messageKeyDown, keySpace, 32);
    windows_.post(control, messageKeyUp, keySpace, 32);
}

bool WindowFinder::setControlText(WindowHandle window, int id, const std::string& text) {
    if (!window) return true;
    const WindowHandle control = windows_.dialogItem(window, id);
    return !control || windows_.sendText(control, text);
}

}  // namespace vornix
