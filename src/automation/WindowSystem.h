#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vornix {

// A window of the desktop; 0 is none.
using WindowHandle = std::uintptr_t;

// The window-system port: walking the desktop's windows and talking to
// another program's controls with window messages.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    virtual WindowHandle desktop() = 0;
    virtual WindowHandle firstChild(WindowHandle window) = 0;  // GW_CHILD
    virtual WindowHandle next(WindowHandle window) = 0;        // GW_HWNDNEXT
    virtual WindowHandle last(WindowHandle window) = 0;        // GW_HWNDLAST
    virtual int controlId(WindowHandle window) = 0;            // GetDlgCtrlID
    virtual WindowHandle dialogItem(WindowHandle window, int id) = 0;
    virtual void post(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    virtual void show(WindowHandle window, int command) = 0;
    // The calls below wait for the other program, a few seconds at most: a
    // program that hangs answers false or nullopt, never holds the stage.
    // WM_SETTEXT: true when the window took the text.
    virtual bool sendText(WindowHandle window, const std::string& text) = 0;
    // Item index of a list box, whole, or "" when there is none.
    virtual std::optional<std::string> listText(WindowHandle list, int index) = 0;
    virtual bool listSelect(WindowHandle list, int index) = 0;
};

// The messages the station posts.
constexpr unsigned messageKeyDown = 0x0100;  // WM_KEYDOWN
constexpr unsigned messageKeyUp = 0x0101;    // WM_KEYUP
constexpr unsigned keySpace = 0x20;          // VK_SPACE
constexpr unsigned messageQuit = 0x0012;     // WM_QUIT

}  // namespace vornix
