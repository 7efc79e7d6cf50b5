#pragma once
// Base of the floating panels next to selected text: it builds a non-activating KZCustomPanel at
// level 20, hides it when the user clicks or scrolls in another application or clicks, types or
// scrolls in another window of this one, keeps it on a screen, and turns the login-state
// notifications into hooks.
//
// Made with kit::create<Subclass>(frameSize) (initWithFrameSize:); the panel is 20 points wider
// than the size given. Ownership: the controller owns its panel and its event monitors (removed
// when it goes); the panel, the monitors and the notification centre hold it weakly. Main
// thread only.

#include <memory>
#include <optional>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/Event.h"
#include "kit/ui/WindowController.h"

namespace kit {
class EventMonitor;
}
class KZCustomPanel;

class KZBasePanelController : public kit::WindowController {
public:
    static constexpr int kPanelLevel = 20;
    static constexpr double kPanelExtraWidth = 20;

    explicit KZBasePanelController(kit::Size frameSize);
    ~KZBasePanelController() override;
    // The panel, setupContentView, the event monitors, the login-state observers.
    void init() override;

    // Hooks, empty here.
    virtual void onUserLoginStateChanged() {}
    virtual void onUserCancelLogin() {}
    virtual void onForceReloadWebview() {}
    // After every order-out of the panel, closing included.
    virtual void onWindowDidOrderOut(KZCustomPanel& panel) { (void)panel; }
    virtual void setupContentView() {}
    virtual bool isMovable() const { return false; }

    void addListenEvents();
    kit::Size panelSize() const { return panelSize_; }
    void setPanelSize(kit::Size size) { panelSize_ = size; }
    std::shared_ptr<KZCustomPanel> panel() const;

    // What the monitors decide: an event of another application (global) or of this one
    // (local) orders a visible panel out.
    bool shouldOrderOutForGlobalEvent(const kit::Event& event) const;
    bool shouldOrderOutForLocalEvent(const kit::Event& event) const;

    // Places the panel at a frame the text-grabbing tool chose, kept on a screen (see
    // frameKeptOnScreen); a frame that is not finite or is empty is ignored.
    void setPanelFrame(const kit::Rect& frame);

    // `frame` moved onto the visible frame of the screen that holds `anchor`, or of the screen
    // nearest to it when none does, and shrunk to that visible frame when larger. nullopt when
    // the frame or the anchor is not finite; the frame unchanged when there is no screen.
    static std::optional<kit::Rect> frameKeptOnScreen(const kit::Rect& frame, kit::Point anchor);

private:
    kit::Size panelSize_;
    std::vector<std::shared_ptr<kit::EventMonitor>> monitors_;
};
