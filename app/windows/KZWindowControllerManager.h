#pragma once
// The owner of every window controller and of the status item's on/off state. Only the
// operations that start-up and IPC call exist so far; the status-item flow is complete, the
// window operations log until their windows exist.

#include <memory>
#include <string>

#include "app/core/KZCoreHooks.h"
#include "kit/base/Geometry.h"

namespace kit {
class StatusItem;
}
class JWTipModel;

class KZWindowControllerManager : public KZWindowControllerManaging,
                                  public std::enable_shared_from_this<KZWindowControllerManager> {
public:
    static KZWindowControllerManager& manager();
    static void resetManager();

    KZWindowControllerManager() = default;
    void init();

    void loadSideWindowController() override;
    void showAISpliashWindowController() override;
    void setShowAIStatusBarItem(bool show) override;
    bool showAIStatusBarItem() const override { return p_useShowStatusBarItem_; }
    void showStatusBarIconWhenQuarnLaunch() override;
    void showSideMainWindowController() override;
    void hotkeyShowSideMainWindowController() override;
    void setStatusItem(std::weak_ptr<kit::StatusItem> item) override { statusItem_ = std::move(item); }
    std::shared_ptr<kit::StatusItem> statusItem() const { return statusItem_.lock(); }
    void showAISideWindowController(int type, const std::string& text) override;
    void showPermissionWindowAlone() override;

    void showExplainPanelControllerWindowWithText(const std::string& text, kit::Point origin);
    void showTranslatePanelControllerWindowWithText(const std::string& text, kit::Point origin);
    void updateExplainPanelControllerWindowFrame(const kit::Rect& frame);
    void updateTranslatePanelControllerWindowFrame(const kit::Rect& frame);
    void closeExplainTranslateWindows();

    void _userChangeLanguage();

private:
    void __showAISpliashWindowController();
    void __showStatusBarItem();
    void __hideStatusBarItem();

    bool p_useShowStatusBarItem_ = false;
    std::weak_ptr<kit::StatusItem> statusItem_;
    std::shared_ptr<JWTipModel> AISpliashModel_;
    std::shared_ptr<void> languageObserver_;
};
