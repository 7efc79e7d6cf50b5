#pragma once
// Scripted screen capture for tests. While an instance lives it is ScreenCapture::shared(): the
// permission is what the test says (granted at first), permission requests are counted, and a
// selection stays open until the test finishes it with an image or cancels it.
//
//   kit::ScriptedScreenCapture capture;
//   ... code under test starts a selection ...
//   capture.finishSelection(kit::Image::filled(40, 30, kit::Color::white()));
//   env.runUntilIdle();                 // the completion runs on the loop

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kit/sys/ScreenCapture.h"
#include "kit/ui/Image.h"

namespace kit {

class ScriptedScreenCapture {
public:
    ScriptedScreenCapture();
    ~ScriptedScreenCapture();
    ScriptedScreenCapture(const ScriptedScreenCapture&) = delete;
    ScriptedScreenCapture& operator=(const ScriptedScreenCapture&) = delete;

    ScreenCapture& capture();

    void setPermissionGranted(bool granted);
    // Whether a request grants the permission (it stays as it is by default).
    void setRequestGrants(bool grants);
    int permissionRequests() const;

    bool isSelecting() const;
    int selectionsStarted() const;
    // Ends the open selection with the image (as PNG); false when none is open.
    bool finishSelection(const Image& image);
    // Ends the open selection as cancelled; false when none is open.
    bool cancelSelection();

    class Implementation;

private:
    std::shared_ptr<Implementation> implementation_;
    std::shared_ptr<ScreenCapture> previous_;
};

}  // namespace kit
