#include "app/core/KZAIIPCClient.h"

#include <climits>
#include <cmath>

#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/core/KZVXHotKeyManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/KZShortcutConfig.h"
#include "frameworks/KZShortcutManager.h"
#include "kit/base/Log.h"
#include "kit/sys/DistributedNotificationCenter.h"
#include "kit/sys/Workspace.h"

namespace {

namespace Name = KZAIIPCNotificationName;

std::unique_ptr<KZAIIPCClient>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* client = new std::unique_ptr<KZAIIPCClient>;
    return *client;
}

KZAIIPCClient::Services& servicesSlot() {
    static auto* services = new KZAIIPCClient::Services;
    return *services;
}

kit::DistributedNotificationCenter& center() { return kit::DistributedNotificationCenter::defaultCenter(); }

// "%@" of an argument array.
std::string describeArguments(const std::vector<std::string>& arguments) {
    kit::Array array(arguments.begin(), arguments.end());
    return kit::describe(kit::Value(std::move(array)));
}

// The platform's integer conversion of text (non-numeric text gives 0), as an int: values
// beyond its range clamp, so that a huge number never wraps into a small valid one.
int intValueOfString(const std::string& text) {
    const std::int64_t value = kit::integerValueOfString(text);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// A number field of outside user info (a boolean does not count as one).
const kit::Value* numberField(const kit::Dictionary& info, const char* key) {
    const auto* value = info.find(key);
    return value && value->isNumber() ? value : nullptr;
}

// A yes/no field: a boolean or a number.
const kit::Value* flagField(const kit::Dictionary& info, const char* key) {
    const auto* value = info.find(key);
    return value && (value->isBool() || value->isNumber()) ? value : nullptr;
}

int clampedInt(std::int64_t value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void logIgnored(const kit::DistributedNotification& notification, const char* why) {
    kit::logf("AIIPC-- ignored %s: %s: %s", notification.name.c_str(), why, kit::describe(notification.userInfo).c_str());
}

void updateShortcut(int hotKeyId, std::uint16_t keyCode, std::uint32_t flags, std::string* error) {
    auto status = KZShortcutManager::shared().updateConfig(KZShortcutConfig(hotKeyId, flags, keyCode));
    if (!status && error) *error = status.error().empty() ? "refused" : status.error();
}

}  // namespace

void KZAIIPCClient::setServices(Services services) { servicesSlot() = std::move(services); }

const KZAIIPCClient::Services& KZAIIPCClient::services() { return servicesSlot(); }

KZAIIPCClient& KZAIIPCClient::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZAIIPCClient>();
    return *s;
}

void KZAIIPCClient::resetShared() {
    slot().reset();
    servicesSlot() = Services{};
}

KZAIIPCClient::~KZAIIPCClient() = default;

// ---- Observing

void KZAIIPCClient::registerObservers() {
    if (isObserving()) return;
    using Handler = void (KZAIIPCClient::*)(const kit::DistributedNotification&);
    const std::pair<const char*, Handler> table[] = {
        {Name::kHostShowAIStatusItemChanged, &KZAIIPCClient::handleShowAIStatusItemChangedNotification},
        {Name::kHostUseHotKeyChanged, &KZAIIPCClient::handleUseHotKeyChangedNotification},
        {Name::kHostShowAccessibilityPermissionWindow,
         &KZAIIPCClient::handleShowAccessibilityPermissionWindowNotification},
        {Name::kShortcutDidChange, &KZAIIPCClient::handleUpdateShortcutNotification},
        {Name::kCommon, &KZAIIPCClient::handleT2ACommonNotification},
        {Name::kFileDragValueDidChange, &KZAIIPCClient::handleFileDragValueDidChangeNotification},
    };
    for (const auto& entry : table) {
        const Handler handler = entry.second;
        // The tokens go with the client, and so does delivery to it.
        observers_.push_back(center().addObserver(
            entry.first, std::nullopt, [this, handler](const kit::DistributedNotification& n) { (this->*handler)(n); }));
    }
}

void KZAIIPCClient::unregisterObservers() { observers_.clear(); }

// NOLINTNEXTLINE(readability-make-member-function-const): one of a table of handlers of one type.
void KZAIIPCClient::handleShowAIStatusItemChangedNotification(const kit::DistributedNotification& notification) {
    kit::logf("AIIPC-- Received notification: %s", kit::describe(notification.userInfo).c_str());
    const auto* info = notification.userInfo.asDictionary();
    const auto* data = info ? flagField(*info, "data") : nullptr;
    if (!data) return logIgnored(notification, "\"data\" is not a boolean");
    if (showStatusBarChangedHandler) showStatusBarChangedHandler(data->boolValue());
}

void KZAIIPCClient::handleUseHotKeyChangedNotification(const kit::DistributedNotification& notification) {
    kit::logf("AIIPC-- hotkey 1: %s", kit::describe(notification.userInfo).c_str());
    const auto* data = notification.userInfo["data"].asDictionary();
    if (!data) return logIgnored(notification, "\"data\" is not a dictionary");
    const auto* use = flagField(*data, "use");
    if (!use) return logIgnored(notification, "\"use\" is not a boolean");
    if (!use->boolValue()) {
        KZVXHotKeyManager::shared().unregisterHotKey();
        return;
    }
    const auto* keyCode = numberField(*data, "keyCode");
    const auto* modifiers = numberField(*data, "modifiers");
    if (!keyCode || !modifiers) return logIgnored(notification, "\"keyCode\" or \"modifiers\" is not a number");
    // The registration takes 32-bit values: the low 32 bits of each.
    KZVXHotKeyManager::shared().registerHotKeyWithKeyCode(static_cast<std::uint32_t>(keyCode->integerValue()),
                                                         static_cast<std::uint32_t>(modifiers->integerValue()));
}

void KZAIIPCClient::handleShowAccessibilityPermissionWindowNotification(const kit::DistributedNotification&) {
    if (auto* windows = KZCoreHooks::windowManager()) windows->showPermissionWindowAlone();
}

void KZAIIPCClient::handleUpdateShortcutNotification(const kit::DistributedNotification& notification) {
    const auto* info = notification.userInfo.asDictionary();
    if (!info) return logIgnored(notification, "the user info is not a dictionary");
    const auto* type = numberField(*info, "type");
    const auto* keyCode = numberField(*info, "keyCode");
    const auto* flags = numberField(*info, "flags");
    if (!type || !keyCode || !flags) return logIgnored(notification, "\"type\", \"keyCode\" or \"flags\" is not a number");

    std::string error;
    updateShortcut(clampedInt(type->integerValue()), static_cast<std::uint16_t>(keyCode->integerValue()),
                   static_cast<std::uint32_t>(flags->integerValue()), &error);
    // The reply carries exactly what came in, so the host can tell which request it answers.
    if (!error.empty()) {
        kit::logf("AIIPC-- shortcut not set: %s", error.c_str());
        center().post(Name::kHotKeySettingFailed, {}, notification.userInfo);
    } else {
        center().post(Name::kHotKeySetSuccess, {}, notification.userInfo);
    }
}

void KZAIIPCClient::handleT2ACommonNotification(const kit::DistributedNotification& notification) {
    const auto* data = notification.userInfo["data"].asArray();
    if (!data) return logIgnored(notification, "\"data\" is not an array");
    std::vector<std::string> arguments;
    arguments.reserve(data->size());
    for (const auto& element : *data) {
        const auto* text = element.asString();
        if (!text) return logIgnored(notification, "\"data\" holds an element that is not a string");
        arguments.push_back(*text);
    }
    handleText2AIEventWithArguments(arguments);
}

void KZAIIPCClient::handleFileDragValueDidChangeNotification(const kit::DistributedNotification&) {
    passFileDragStateToMonitor();
}

void KZAIIPCClient::passFileDragStateToMonitor() {
    const bool enable = KZSharedPlistManager::sharedManager().db_fileDragState();
    if (const auto& setEnable = services().setFileDragEnable) {
        setEnable(enable);
    } else {
        kit::logf("AIIPC-- file drag %d (no drag monitor)", enable ? 1 : 0);
    }
}

// ---- Posting

void KZAIIPCClient::ai2main_showAIPreferencesNotification() {
    auto& workspace = kit::Workspace::shared();
    if (workspace.runningApplications(KZBundleInfo::kHostBundleIdentifier).empty()) {
        if (!workspace.launchApplication(KZBundleInfo::kHostApplicationPath, {"2", "ai"},
                                         kit::LaunchWithoutAddingToRecents))
            kit::logf("AIIPC-- cannot launch %s", KZBundleInfo::kHostApplicationPath);
        return;
    }
    center().post(Name::kShowAIPreferences);
}

void KZAIIPCClient::ai2main_showAIStatusItemChangedNotification(bool show) {
    kit::logLine("AIIPC-- sendShowAIStatusItemChangedNotification");
    kit::Dictionary userInfo{{"code", 1},
                             {"message", "ai2main_showAIStatusItemChangedNotification"},
                             {"data", show}};
    center().post(Name::kShowAIStatusItemChanged, {}, kit::Value(std::move(userInfo)));
}

void KZAIIPCClient::ai2main_enableGetTextProcessNotification() { center().post(Name::kEnableGetTextProcess); }

void KZAIIPCClient::ai2text_showAccessibilityPromptNotification() { center().post(Name::kShowAccessibilityPrompt); }

void KZAIIPCClient::ai2text_panelWindowSizeChanged(unsigned type, kit::Size size) {
    center().post(Name::kPanelWindowSizeChanged, {},
                  kit::Dictionary{{"type", type}, {"size", kit::stringFromSize(size)}});
}

void KZAIIPCClient::ai2text_useAIGetTextChanged(bool use) {
    center().post(Name::kUseGetTextChanged, {}, kit::Dictionary{{"data", use}});
}

// ---- Dispatch of argument arrays

void KZAIIPCClient::handleText2AIEventWithArguments(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2) return;
    using Handler = void (KZAIIPCClient::*)(const std::vector<std::string>&);
    const std::pair<const char*, Handler> table[] = {
        {KZAIIPCEventCode::kShowAIQAWindows, &KZAIIPCClient::_handleShowAIQAWindowsWithIPCArguments},
        {KZAIIPCEventCode::kShowExplainPanel, &KZAIIPCClient::_handleShowExplainPanelControllerWithIPCArguments},
        {KZAIIPCEventCode::kPanelSizeChange, &KZAIIPCClient::_handlePanelSizeChangeWithIPCArguments},
        {KZAIIPCEventCode::kOpenAISearchSidebar, &KZAIIPCClient::_handleOpenAISearchSidebarWithIPCArguments},
        {KZAIIPCEventCode::kShortcutDidChange, &KZAIIPCClient::_handleShortcutDidChangeWithIPCArguments},
        {KZAIIPCEventCode::kFileDragDidChange, &KZAIIPCClient::_handleFileDragDidChangeWithIPCArguments},
    };
    for (const auto& [code, handler] : table) {
        if (arguments[1] == code) {
            (this->*handler)(arguments);
            return;
        }
    }
}

namespace {

bool hasAtLeast(const std::vector<std::string>& arguments, std::size_t count) {
    if (arguments.size() >= count) return true;
    kit::logf("[KZAIIPCClientHandler] arguments is invalid: %s", describeArguments(arguments).c_str());
    return false;
}

bool isFinite(const kit::Rect& rect) {
    return std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y) && std::isfinite(rect.size.width) &&
           std::isfinite(rect.size.height);
}

}  // namespace

void KZAIIPCClient::_handleShowAIQAWindowsWithIPCArguments(const std::vector<std::string>& arguments) {
    if (!hasAtLeast(arguments, 4)) return;
    if (auto* windows = KZCoreHooks::windowManager())
        windows->showAISideWindowController(intValueOfString(arguments[2]), arguments[3]);
}

void KZAIIPCClient::_handleShowExplainPanelControllerWithIPCArguments(const std::vector<std::string>& arguments) {
    if (!hasAtLeast(arguments, 5)) return;
    const int type = intValueOfString(arguments[2]);
    if (type != 1 && type != 2) return;
    const std::string& text = arguments[3];
    const kit::Point origin = kit::pointFromString(arguments[4]);
    if (!std::isfinite(origin.x) || !std::isfinite(origin.y)) {
        kit::logf("[KZAIIPCClientHandler] panel origin is invalid: %s", describeArguments(arguments).c_str());
        return;
    }
    const auto& s = services();
    const auto& show = type == 1 ? s.showExplainPanelControllerWindowWithText
                                 : s.showTranslatePanelControllerWindowWithText;
    if (show) {
        show(text, origin);
    } else {
        kit::logf("[KZAIIPCClientHandler] no panel %d to show", type);
    }
}

void KZAIIPCClient::_handlePanelSizeChangeWithIPCArguments(const std::vector<std::string>& arguments) {
    if (!hasAtLeast(arguments, 4)) return;
    const int type = intValueOfString(arguments[2]);
    if (type != 1 && type != 2) return;
    const kit::Rect frame = kit::rectFromString(arguments[3]);
    // A window cannot take an empty or unbounded frame.
    if (frame.isEmpty() || !isFinite(frame)) {
        kit::logf("[KZAIIPCClientHandler] panel frame is invalid: %s", describeArguments(arguments).c_str());
        return;
    }
    const auto& s = services();
    const auto& update = type == 1 ? s.updateExplainPanelControllerWindowFrame
                                   : s.updateTranslatePanelControllerWindowFrame;
    if (update) {
        update(frame);
    } else {
        kit::logf("[KZAIIPCClientHandler] no panel %d to place", type);
    }
}

void KZAIIPCClient::_handleOpenAISearchSidebarWithIPCArguments(const std::vector<std::string>& arguments) {
    if (!hasAtLeast(arguments, 2)) return;
    HXReport::reportCommonKeyValue(24023, "6");
    HXReport::reportCommonKeyValue(24020, "35");
    if (auto* windows = KZCoreHooks::windowManager()) windows->showSideMainWindowController();
}

void KZAIIPCClient::_handleShortcutDidChangeWithIPCArguments(const std::vector<std::string>& arguments) {
    if (!hasAtLeast(arguments, 5)) return;
    std::string error;
    updateShortcut(intValueOfString(arguments[2]), static_cast<std::uint16_t>(kit::integerValueOfString(arguments[3])),
                   static_cast<std::uint32_t>(kit::integerValueOfString(arguments[4])), &error);
    // Nobody waits for an answer here; the previous hot key stays.
    if (!error.empty()) kit::logf("[KZAIIPCClientHandler] shortcut not set: %s", error.c_str());
}

void KZAIIPCClient::_handleFileDragDidChangeWithIPCArguments(const std::vector<std::string>& arguments) {
    if (!hasAtLeast(arguments, 2)) return;
    passFileDragStateToMonitor();
}
