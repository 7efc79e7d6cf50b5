#pragma once
// A test environment with the headless user interface installed.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kit/base/NotificationCenter.h"
#include "kit/headless/HeadlessUi.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace kit::testing {

class UiTest : public ::testing::Test {
protected:
    std::shared_ptr<Window> makeWindow(Rect contentRect, unsigned style = WindowStyleTitled | WindowStyleClosable) {
        return create<Window>(contentRect, style);
    }

    // Names of the notifications posted with `object`, in order, while the recorder lives.
    struct Recorder {
        explicit Recorder(const void* object = nullptr) {
            token = NotificationCenter::defaultCenter().addObserverForName("", object, [this](const Notification& n) {
                names.push_back(n.name);
            });
        }
        std::size_t count(const std::string& name) const {
            return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
        }
        std::vector<std::string> names;
        std::shared_ptr<void> token;
    };

    TestEnvironment env;
    HeadlessUi ui;
};

// A view that records the events it gets; handles them unless told to pass them on.
class RecordingView : public View {
public:
    using View::View;
    std::string className() const override { return "RecordingView"; }
    void mouseDown(const Event& e) override { if (record("down")) View::mouseDown(e); }
    void mouseUp(const Event& e) override { if (record("up")) View::mouseUp(e); }
    void mouseDragged(const Event& e) override { if (record("dragged")) View::mouseDragged(e); }
    void mouseEntered(const Event& e) override { if (record("entered")) View::mouseEntered(e); }
    void mouseExited(const Event& e) override { if (record("exited")) View::mouseExited(e); }
    void mouseMoved(const Event& e) override { if (record("moved")) View::mouseMoved(e); }
    void scrollWheel(const Event& e) override { if (record("scroll")) View::scrollWheel(e); }
    void keyDown(const Event& e) override { if (record("key")) View::keyDown(e); }
    bool acceptsFirstMouse(const Event*) override { return firstMouse; }
    bool acceptsFirstResponder() const override { return true; }

    std::vector<std::string> events;
    bool passOn = false;
    bool firstMouse = true;

private:
    // Records the event; answers whether to pass it on.
    bool record(const char* name) {
        events.emplace_back(name);
        return passOn;
    }
};

}  // namespace kit::testing
