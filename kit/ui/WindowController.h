#pragma once
// Owns one window and shows and closes it, as the platform's window controllers do. Subclasses
// build their window in init() (after calling the base) and hand it to setWindow().

#include <memory>

namespace kit {

class Window;

class WindowController : public std::enable_shared_from_this<WindowController> {
public:
    WindowController() = default;
    explicit WindowController(std::shared_ptr<Window> window);
    virtual ~WindowController();
    WindowController(const WindowController&) = delete;
    WindowController& operator=(const WindowController&) = delete;

    virtual void init();

    std::shared_ptr<Window> window() const { return window_; }
    void setWindow(std::shared_ptr<Window> window);
    bool isWindowLoaded() const { return window_ != nullptr; }

    // Brings the window forward: key and front when it can become key, else front only.
    virtual void showWindow();
    // Closes the window (no should-close question).
    virtual void close();

private:
    std::shared_ptr<Window> window_;
};

}  // namespace kit
