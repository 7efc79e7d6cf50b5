#pragma once
// Hot key 2: reports the press, takes a screenshot and hands the image to the side window when
// the user is logged in; logged out, the login window opens and the side window shows without
// the image. A cancelled capture does nothing more.

#include <functional>
#include <memory>

#include "frameworks/KZShortcutReceiver.h"

namespace kit {
class Image;
}

class KZShortcutScreenshotReceiver : public KZShortcutReceiver {
public:
    using CompleteHandler = std::function<void(std::shared_ptr<kit::Image> image, int code)>;

    // The screenshot tool, the side window's image entry and the login window live in layers
    // the core does not link: the window layer wires them at start-up (tests wire fakes).
    // Unwired, the hot key only reports and logs.
    struct Services {
        // +[KZScreenshotManager shared] startScreenshotWithCompleteHandler:
        std::function<void(const CompleteHandler& handler)> startScreenshotWithCompleteHandler;
        // KZWindowControllerManager showAISideWindowControllerWithImage:
        std::function<void(const std::shared_ptr<kit::Image>& image)> showAISideWindowControllerWithImage;
        // +[KZAIUserManager shared] showLoginWindowRelateToWindow: with no window
        std::function<void()> showLoginWindowRelateToWindow;
    };
    static void setServices(Services services);
    static const Services& services();
    static void resetServices();

    int hotKeyId() const override;
    void hotKeyAction() override;
};
