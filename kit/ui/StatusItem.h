#pragma once
// An item in the desktop's status area (the menu bar's extras), as a model object: the button's
// image and action, and what the backend reports back about the window that shows it. The
// backend peer shows, updates and hides it; without a peer the item only holds its state.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/Window.h"

namespace kit {

inline constexpr double kStatusItemVariableLength = -1;
inline constexpr double kStatusItemSquareLength = -2;

class StatusItem;

class StatusItemPeer {
public:
    virtual ~StatusItemPeer() = default;
    virtual void statusItemChanged(StatusItem& item) = 0;
    virtual void statusItemRemoved(StatusItem& item) = 0;
};

// The window that holds a status item's button appeared, moved, changed its occlusion or went.
inline constexpr const char* kStatusItemWindowDidChangeNotification = "KitStatusItemWindowDidChangeNotification";

struct StatusItemButton {
    // A named image of the application, drawn at imageSize points; template images are tinted
    // by the desktop's theme.
    std::string imageName;
    Size imageSize;
    bool imageIsTemplate = false;
    std::string toolTip;
    std::function<void()> action;
};

class StatusItem {
public:
    explicit StatusItem(double length) : length_(length) {}

    double length() const { return length_; }
    const StatusItemButton& button() const { return button_; }
    // Changes the button and tells the backend.
    void updateButton(const std::function<void(StatusItemButton&)>& change);
    // The button's click, as the backend delivers it.
    void performClick() const;

    // The window that holds the button, as the backend reports it: it exists once the desktop
    // shows the item; its occlusion state says whether it can be seen.
    bool hasWindow() const { return hasWindow_; }
    unsigned windowOcclusionState() const { return occlusionState_; }
    Rect windowFrame() const { return windowFrame_; }
    // Posts kStatusItemWindowDidChangeNotification (object: the item) when anything changed.
    void setWindowState(bool exists, unsigned occlusionState, Rect frame = {});

    bool isRemoved() const { return removed_; }
    void setPeer(std::unique_ptr<StatusItemPeer> peer) { peer_ = std::move(peer); }

private:
    friend class StatusBar;
    double length_;
    StatusItemButton button_;
    bool hasWindow_ = false;
    unsigned occlusionState_ = 0;
    Rect windowFrame_;
    bool removed_ = false;
    std::unique_ptr<StatusItemPeer> peer_;
};

class StatusBar {
public:
    using PeerFactory = std::function<std::unique_ptr<StatusItemPeer>(StatusItem&)>;

    static StatusBar& system();
    static void resetSystem();

    std::shared_ptr<StatusItem> statusItemWithLength(double length);
    void removeStatusItem(const std::shared_ptr<StatusItem>& item);
    const std::vector<std::shared_ptr<StatusItem>>& items() const { return items_; }

    // The backend makes a peer for every item created after this call.
    void setPeerFactory(PeerFactory factory) { peerFactory_ = std::move(factory); }

private:
    std::vector<std::shared_ptr<StatusItem>> items_;
    PeerFactory peerFactory_;
};

}  // namespace kit
