#pragma once
// Capturing a region of the screens: the permission to record the screen, and a capture session
// in which the user selects a rectangle over frozen images of every screen. The backend draws the
// capture windows and the selection overlay; what comes back is the cut-out image as PNG data.
//
// The permission answers "granted" on this platform unless a backend says otherwise; tests switch
// it. The implementation is chosen once at start-up; until one is installed, a default one grants
// the permission and cancels every selection.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kit {

class ScreenCapture {
public:
    // The selected image as PNG data, or nullopt when the user cancelled or nothing could be
    // captured.
    using Completion = std::function<void(std::optional<std::vector<std::uint8_t>> png)>;

    virtual ~ScreenCapture() = default;

    // Whether this process may record the screen.
    virtual bool hasPermission() = 0;
    // Asks the system for the permission; answers whether it is granted now.
    virtual bool requestPermission() = 0;
    // Opens the capture windows and lets the user select a region. The completion runs once, on
    // the main loop, never inside this call. A session already running answers nullopt at once
    // (on the main loop) and goes on.
    virtual void selectRegion(Completion completion) = 0;
    // Ends a running session as cancelled; nothing when none runs.
    virtual void cancelSelection() = 0;
    virtual bool isSelecting() const = 0;

    // The line shown over the screens until a selection starts, in the application's language;
    // read when a selection begins.
    void setSelectionHint(std::string hint) { selectionHint_ = std::move(hint); }
    const std::string& selectionHint() const { return selectionHint_; }

    // The installed implementation, or the default one.
    static ScreenCapture& shared();
    static void setShared(std::shared_ptr<ScreenCapture> capture);
    static std::shared_ptr<ScreenCapture> installedShared();

private:
    std::string selectionHint_ = "Drag to select an area. Return captures it, Escape cancels.";
};

// Grants the permission; every selection ends cancelled on a later turn of the main loop.
std::shared_ptr<ScreenCapture> makeDefaultScreenCapture();

}  // namespace kit
