#pragma once
// The only channel to the host application and the text-grabbing tool: distributed
// notifications both ways, and the dispatcher of argument arrays carrying an event code (from the
// tool's common notification and from this application's launch arguments).
//
// Any process of the user can post the observed names, so every payload is type-checked before
// it is used; a payload of the wrong shape is logged and ignored.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Value.h"

namespace kit {
struct DistributedNotification;
}

// Names posted by this application ("kA2M_", "A2T_", "MA2Other_") and the hot-key replies.
namespace KZAIIPCNotificationName {
inline constexpr const char* kShowAIPreferences = "kA2M_KZAIIPCShowAIPreferencesNotification";
inline constexpr const char* kShowAIStatusItemChanged = "kA2M_KZAIIPCShowAIStatusItemChangedNotification";
inline constexpr const char* kEnableGetTextProcess = "kA2M_KZAIIPCEnableGetTextProcessNotification";
inline constexpr const char* kShowAccessibilityPrompt = "A2T_KZAIIPCShowAccessibilityPromptNotification";
inline constexpr const char* kPanelWindowSizeChanged = "A2T_KZAIIPCPanelWindowSizeChangedNotification";
inline constexpr const char* kUseGetTextChanged = "MA2Other_KZAIIPCUseGetTextChangedNotification";
inline constexpr const char* kHotKeySetSuccess = "M2A_KZAIIPCHotKeySetSuccessNotification";
inline constexpr const char* kHotKeySettingFailed = "M2A_KZAIIPCHotKeySettingFailedNotification";

// Names observed from the host and the tool.
inline constexpr const char* kHostShowAIStatusItemChanged = "kM2A_KZAIIPCShowAIStatusItemChangedNotification";
inline constexpr const char* kHostUseHotKeyChanged = "kM2A_KZAIIPCUseHotKeyChangedNotification";
inline constexpr const char* kHostShowAccessibilityPermissionWindow =
    "kM2A_KZAIIPCShowAccessibilityPermissionWindowNotification";
inline constexpr const char* kShortcutDidChange = "M2A_KZAIIPCShortcutDidChangeNotification";
inline constexpr const char* kCommon = "MT2A_KZAIIPCCommonNotification";
inline constexpr const char* kFileDragValueDidChange = "MA2T_KZAIIPCFileDragValueDidChangeNotification";
}  // namespace KZAIIPCNotificationName

// Element 1 of an argument array.
namespace KZAIIPCEventCode {
inline constexpr const char* kShowAIQAWindows = "1";
inline constexpr const char* kShowExplainPanel = "2";
inline constexpr const char* kPanelSizeChange = "3";
inline constexpr const char* kOpenAISearchSidebar = "4";
inline constexpr const char* kShortcutDidChange = "5";
inline constexpr const char* kFileDragDidChange = "6";
}  // namespace KZAIIPCEventCode

class KZAIIPCClient {
public:
    // Kept for callers that name the status-item notification through the client.
    static constexpr const char* kShowAIStatusItemChangedToHost = KZAIIPCNotificationName::kShowAIStatusItemChanged;

    // What the client asks of later layers beyond KZCoreHooks' window manager: the explain and
    // translate panels and the file-drag monitor. The window layer wires them at start-up (tests
    // wire fakes); an unwired call logs and does nothing.
    struct Services {
        std::function<void(const std::string& text, kit::Point origin)> showExplainPanelControllerWindowWithText;
        std::function<void(const std::string& text, kit::Point origin)> showTranslatePanelControllerWindowWithText;
        std::function<void(const kit::Rect& frame)> updateExplainPanelControllerWindowFrame;
        std::function<void(const kit::Rect& frame)> updateTranslatePanelControllerWindowFrame;
        // The file-drag monitor's setEnable:.
        std::function<void(bool enable)> setFileDragEnable;
    };
    static void setServices(Services services);
    static const Services& services();

    static KZAIIPCClient& shared();
    // Forgets the client and its services (tests).
    static void resetShared();

    KZAIIPCClient() = default;
    ~KZAIIPCClient();
    KZAIIPCClient(const KZAIIPCClient&) = delete;
    KZAIIPCClient& operator=(const KZAIIPCClient&) = delete;

    // Subscribes the six observed names on the default distributed centre; a second call while
    // subscribed does nothing.
    void registerObservers();
    void unregisterObservers();
    bool isObserving() const { return !observers_.empty(); }

    // Receives the host's status-item choice; set by the application delegate.
    std::function<void(bool)> showStatusBarChangedHandler;

    // Opens the host's AI preferences, launching the host with "2", "ai" when it is not running.
    void ai2main_showAIPreferencesNotification();
    // Tells the host that this application turned its status item on or off.
    void ai2main_showAIStatusItemChangedNotification(bool show);
    void ai2main_enableGetTextProcessNotification();
    void ai2text_showAccessibilityPromptNotification();
    // type: 1 explain panel, 2 translate panel.
    void ai2text_panelWindowSizeChanged(unsigned type, kit::Size size);
    void ai2text_useAIGetTextChanged(bool use);

    // The observed notifications' handlers (public for the fuzzer and tests; the observers call
    // them with what arrived).
    void handleShowAIStatusItemChangedNotification(const kit::DistributedNotification& notification);
    void handleUseHotKeyChangedNotification(const kit::DistributedNotification& notification);
    void handleShowAccessibilityPermissionWindowNotification(const kit::DistributedNotification& notification);
    void handleUpdateShortcutNotification(const kit::DistributedNotification& notification);
    void handleT2ACommonNotification(const kit::DistributedNotification& notification);
    void handleFileDragValueDidChangeNotification(const kit::DistributedNotification& notification);

    // An argument array whose element 1 is an event code "1" to "6"; element 0 is unused (the
    // executable path for launch arguments).
    void handleText2AIEventWithArguments(const std::vector<std::string>& arguments);

private:
    void _handleShowAIQAWindowsWithIPCArguments(const std::vector<std::string>& arguments);
    void _handleShowExplainPanelControllerWithIPCArguments(const std::vector<std::string>& arguments);
    void _handlePanelSizeChangeWithIPCArguments(const std::vector<std::string>& arguments);
    void _handleOpenAISearchSidebarWithIPCArguments(const std::vector<std::string>& arguments);
    void _handleShortcutDidChangeWithIPCArguments(const std::vector<std::string>& arguments);
    void _handleFileDragDidChangeWithIPCArguments(const std::vector<std::string>& arguments);
    void passFileDragStateToMonitor();

    std::vector<std::shared_ptr<void>> observers_;
};
