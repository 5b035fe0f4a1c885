#pragma once

#include "automation/WindowSystem.h"

namespace vornix::platform {

// The real window manager.
class Win32Windows : public WindowSystem {
public:
    WindowHandle desktop() override;
    WindowHandle firstChild(WindowHandle window) override;
    WindowHandle next(WindowHandle window) override;
    WindowHandle last(WindowHandle window) override;
    int controlId(WindowHandle window) override;
    WindowHandle dialogItem(WindowHandle window, int id) override;
    void post(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void show(WindowHandle window, int command) override;
    bool sendText(WindowHandle window, const std::string& text) override;
    std::optional<std::string> listText(WindowHandle list, int index) override;
    bool listSelect(WindowHandle list, int index) override;

    // How long a sent message waits for the other program.
    static constexpr unsigned answerTimeoutMs = 5000;
};

}  // namespace vornix::platform
