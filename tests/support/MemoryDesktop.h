#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "automation/WindowSystem.h"

namespace vornix::test {

// An in-memory desktop: windows with control IDs and children in Z order
// (topmost first). It records what is posted, sent and shown.
class MemoryDesktop : public WindowSystem {
public:
    static constexpr WindowHandle root = 1;

    WindowHandle add(WindowHandle parent, int id = 0) {
        const WindowHandle window = next_++;
        windows_[window].parent = parent;
        windows_[window].id = id;
        windows_[parent].children.push_back(window);
        return window;
    }
    // A window with one child per id.
    WindowHandle addWithChildren(WindowHandle parent, const std::vector<int>& ids) {
        const WindowHandle window = add(parent);
        for (int id : ids) add(window, id);
        return window;
    }

    struct Event {
        WindowHandle window;
        std::string what;
        bool operator==(const Event& other) const { return window == other.window && what == other.what; }
    };
    std::vector<Event> events;
    // Called after each post, as the receiving program would act on it.
    std::function<void(WindowHandle window, unsigned message)> onPost;

    WindowHandle desktop() override { return root; }
    WindowHandle firstChild(WindowHandle window) override {
        const auto& children = windows_[window].children;
        return children.empty() ? 0 : children.front();
    }
    WindowHandle next(WindowHandle window) override {
        const auto& siblings = windows_[windows_[window].parent].children;
        for (std::size_t i = 0; i + 1 < siblings.size(); ++i)
            if (siblings[i] == window) return siblings[i + 1];
        return 0;
    }
    WindowHandle last(WindowHandle window) override {
        const auto& siblings = windows_[windows_[window].parent].children;
        return siblings.empty() ? 0 : siblings.back();
    }
    int controlId(WindowHandle window) override { return windows_[window].id; }
    WindowHandle dialogItem(WindowHandle window, int id) override {
        for (WindowHandle child : windows_[window].children)
            if (windows_[child].id == id) return child;
        return 0;
    }
    void post(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
        events.push_back({window, "post " + std::to_string(message) + " " + std::to_string(wParam) + " " +
                                      std::to_string(lParam)});
        if (onPost) onPost(window, message);
    }
    WindowHandle parentOf(WindowHandle window) { return windows_[window].parent; }
    // A program that hangs: every call that waits for it gives up.
    bool hung = false;
    bool sendText(WindowHandle window, const std::string& text) override {
        if (hung) return false;
        events.push_back({window, "text " + text});
        return true;
    }
    void show(WindowHandle window, int command) override { events.push_back({window, "show " + std::to_string(command)}); }
    std::optional<std::string> listText(WindowHandle list, int index) override {
        if (hung && list) return std::nullopt;
        const auto& items = windows_[list].items;
        return index >= 0 && static_cast<std::size_t>(index) < items.size() ? items[static_cast<std::size_t>(index)] : "";
    }
    bool listSelect(WindowHandle list, int index) override {
        if (!list) return true;
        if (hung) return false;
        events.push_back({list, "select " + std::to_string(index)});
        return true;
    }

    void setItems(WindowHandle list, std::vector<std::string> items) { windows_[list].items = std::move(items); }
    void remove(WindowHandle window) {
        auto& siblings = windows_[windows_[window].parent].children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (*it == window) {
                siblings.erase(it);
                break;
            }
    }

private:
    struct Window {
        WindowHandle parent = 0;
        int id = 0;
        std::vector<WindowHandle> children;
        std::vector<std::string> items;
    };
    std::map<WindowHandle, Window> windows_;
    WindowHandle next_ = 2;
};

}  // namespace vornix::test
