#pragma once
// The key to the operations that only a backend may call: what the user did to a window
// (resizing it, activating the application), what the display says (occlusion), what a web
// engine's page did. Those operations take a BackendBadge, and only the base classes of the
// backend seams make one, for their implementations. A test that plays the user or the page
// goes through a backend too (the headless one, a scripted web engine), as the real one does.

namespace kit {

class BackendBadge {
    friend class UiBackend;
    friend class WindowPeer;
    friend class WebEngine;
    BackendBadge() = default;
};

}  // namespace kit
