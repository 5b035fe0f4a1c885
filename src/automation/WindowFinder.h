#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "automation/PresenceEvent.h"
#include "automation/WindowSystem.h"
#include "station/Pause.h"

namespace vornix {

// The control IDs a window's direct children must carry.
using ControlSignature = std::vector<int>;

// Which control IDs the children of one window carry: slot 0 the child
// count modulo 256, slot id + 1 set when some child has id (0 to 32,766).
struct PresenceTable {
    std::array<std::uint8_t, 32768> slots{};
};

// Finds the flashing tool's windows by the control IDs of their children and
// operates their controls, from the outside.
class WindowFinder {
public:
    WindowFinder(WindowSystem& windows, Pause& pause) : windows_(windows), pause_(pause) {}

    // The first top-level window (Z order, topmost first) that matches, or 0.
    WindowHandle findTopLevelWindow(const ControlSignature& signature, const PresenceEvent* abort = nullptr);
    // The first direct child of parent that matches, or 0. A search whose
    // pass ends while abort is set yields 0.
    WindowHandle findChildWindow(WindowHandle parent, const ControlSignature& signature,
                                 const PresenceEvent* abort = nullptr);

    // Rebuilds table for window.
    void collectChildIds(WindowHandle window, PresenceTable& table);
    static bool hasAllIds(const ControlSignature& signature, const PresenceTable& table);

    // Posts a Space key press to the control; nothing when there is none.
    void pressButton(WindowHandle control);
    // WM_SETTEXT to the window's control id; nothing when there is none.
    // False only when the control did not answer in time.
    bool setControlText(WindowHandle window, int id, const std::string& text);

private:
    WindowHandle search(WindowHandle level, const ControlSignature& signature, const PresenceEvent* abort);

    WindowSystem& windows_;
    Pause& pause_;
};

}  // namespace vornix
