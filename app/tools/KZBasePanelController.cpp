#include "app/tools/KZBasePanelController.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/core/KZAIUserManager.h"
#include "app/tools/KZCustomPanel.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Create.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Screen.h"

namespace {

bool isFinite(kit::Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

bool isFinite(const kit::Rect& r) {
    return isFinite(r.origin) && std::isfinite(r.size.width) && std::isfinite(r.size.height);
}

// Within [low, high - length], or at `low` when the length does not fit.
double clampStart(double start, double length, double low, double high) {
    return std::max(low, std::min(start, high - length));
}

}  // namespace

KZBasePanelController::KZBasePanelController(kit::Size frameSize) : panelSize_(frameSize) {}

KZBasePanelController::~KZBasePanelController() {
    kit::NotificationCenter::defaultCenter().removeObserver(static_cast<kit::WindowController*>(this));
}

std::shared_ptr<KZCustomPanel> KZBasePanelController::panel() const {
    return std::static_pointer_cast<KZCustomPanel>(window());
}

void KZBasePanelController::init() {
    kit::WindowController::init();
    // Non-activating, no title bar, no border.
    auto panel = kit::create<KZCustomPanel>(kit::Rect{0, 0, panelSize_.width + kPanelExtraWidth, panelSize_.height},
                                            kit::WindowStyleNonactivatingPanel);
    panel->setLevel(kPanelLevel);
    panel->setBackgroundColor(kit::Color::clear());
    panel->setOpaque(false);
    panel->setAcceptsMouseMovedEvents(true);
    auto self = std::static_pointer_cast<KZBasePanelController>(shared_from_this());
    panel->setController(self);
    // Escape puts it away, as a click elsewhere does, although the panel never has the keyboard.
    std::weak_ptr<KZCustomPanel> weakPanel = panel;
    panel->setCancelOperation([weakPanel] {
        if (auto shown = weakPanel.lock(); shown && shown->isVisible()) shown->orderOut();
    });
    setWindow(panel);
    setupContentView();
    addListenEvents();

    // Registered under the controller's address, removed when it goes.
    const std::shared_ptr<kit::WindowController> observer = self;
    KZObserveUserLoginNotifications(observer, self);
}

bool KZBasePanelController::shouldOrderOutForGlobalEvent(const kit::Event&) const {
    auto w = window();
    return w && !w->isKeyWindow() && w->isVisible();
}

bool KZBasePanelController::shouldOrderOutForLocalEvent(const kit::Event& event) const {
    auto w = window();
    if (!w || !w->isVisible()) return false;
    // Events inside either panel keep both.
    return dynamic_cast<const KZCustomPanel*>(event.windowShared().get()) == nullptr;
}

void KZBasePanelController::addListenEvents() {
    std::weak_ptr<KZBasePanelController> weak = std::static_pointer_cast<KZBasePanelController>(shared_from_this());
    auto global = [weak](const kit::Event& event) {
        auto self = weak.lock();
        if (self && self->shouldOrderOutForGlobalEvent(event)) self->window()->orderOut();
    };
    auto local = [weak](const kit::Event& event) -> std::optional<kit::Event> {
        auto self = weak.lock();
        if (self && self->shouldOrderOutForLocalEvent(event)) self->window()->orderOut();
        return event;
    };
    monitors_.clear();
    monitors_.push_back(kit::EventMonitor::addGlobalMonitor(kit::EventMasks::LeftMouseDown, global));
    monitors_.push_back(kit::EventMonitor::addGlobalMonitor(kit::EventMasks::ScrollWheel, global));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::LeftMouseDown, local));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::KeyDown, local));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::ScrollWheel, local));
}

std::optional<kit::Rect> KZBasePanelController::frameKeptOnScreen(const kit::Rect& frame, kit::Point anchor) {
    if (!isFinite(frame) || !isFinite(anchor)) return std::nullopt;
    const auto screen = kit::Screen::screenNearest(anchor);
    if (!screen) return frame;
    const kit::Rect visible = screen->visibleFrame();
    kit::Rect kept = frame;
    kept.size.width = std::min(frame.size.width, visible.width());
    kept.size.height = std::min(frame.size.height, visible.height());
    kept.origin.x = clampStart(frame.origin.x, kept.size.width, visible.minX(), visible.maxX());
    kept.origin.y = clampStart(frame.origin.y, kept.size.height, visible.minY(), visible.maxY());
    return kept;
}

void KZBasePanelController::setPanelFrame(const kit::Rect& frame) {
    auto w = window();
    if (!w) return;
    const auto kept = frame.isEmpty() ? std::nullopt : frameKeptOnScreen(frame, frame.origin);
    if (!kept) {
        kit::logf("[Panel] frame ignored: %s", kit::stringFromRect(frame).c_str());
        return;
    }
    w->setFrame(*kept, true);
}
