#pragma once
// The in-app browser window: ordinary web addresses in tabs, one page per tab, with buttons at the
// right of its title strip to reload the page, copy its address and open it in the default browser.
// It is a tabbed window, not an AI one: no login events, no add button (tabs open only by request,
// each with an address), no reports. Closing the window removes every tab at once without asking;
// the last tab gone, the window-controller manager destroys it.
//
//   KZAIBrowserWebView             the page's web view; follows the page's icon link
//   KZAIBrowserWebViewController   one tab's page: keeps the tab's title and icon with the page's
//   KZAIBrowserTabBarRightView     the three buttons
//   KZAIBrowserWindowController    the window
//
// Made by the manager with kit::create<KZAIBrowserWindowController>(true, kit::Size{1000, 700}).
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZBaseTabWindowController.h"
#include "app/ui/KZView.h"
#include "app/web/KZBaseWebView.h"
#include "frameworks/LanguageHelper.h"

class KZCustomViewButton;

class KZAIBrowserWebView : public KZBaseWebView {
public:
    static constexpr const char* kFaviconScript =
        "var link = document.querySelector('link[rel~=\"icon\"]'); if (link) { link.href; } else { null; }";

    using KZBaseWebView::KZBaseWebView;
    std::string className() const override { return "KZAIBrowserWebView"; }

    // The absolute address of the current page's icon; empty when none was found yet.
    const std::string& currentFaviconURLString() const { return currentFaviconURLString_; }
    void setCurrentFaviconURLString(std::string address);
    // Told after currentFaviconURLString changes.
    void setFaviconDidChange(std::function<void()> block) { faviconDidChange_ = std::move(block); }

    void didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    // `reference` made absolute against `base` (an address that does not parse as absolute is
    // taken as relative to it); empty when it cannot be.
    static std::string resolveAddress(const std::string& reference, const std::string& base);

protected:
    // Other sites' pages stay out of the AI service's page process.
    std::string sharedPageProcessName() const override { return {}; }

private:
    std::string currentFaviconURLString_;
    std::function<void()> faviconDidChange_;
};

class KZAIBrowserWebViewController : public KZBaseTabWebViewController {
public:
    std::shared_ptr<KZAIBrowserWebView> browserWebView();
    void viewDidLoad() override;

protected:
    std::shared_ptr<KZBaseWebView> makeWebView() override;

private:
    void titleDidChange();
    void faviconDidChange();

    std::shared_ptr<void> titleObservation_;
};

class KZAIBrowserTabBarRightView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZAIBrowserTabBarRightView"; }

    const std::shared_ptr<KZCustomViewButton>& refreshButton() const { return refreshButton_; }
    const std::shared_ptr<KZCustomViewButton>& copiButton() const { return copiButton_; }
    const std::shared_ptr<KZCustomViewButton>& externalButton() const { return externalButton_; }

    void setupSubviews() override;
    void layout() override;

private:
    std::shared_ptr<KZCustomViewButton> refreshButton_;
    std::shared_ptr<KZCustomViewButton> copiButton_;
    std::shared_ptr<KZCustomViewButton> externalButton_;
};

class KZAIBrowserWindowController : public KZBaseTabWindowController {
public:
    static constexpr const char* kTabTitle = KZLocalizableKey("新标签页");
    static constexpr const char* kTabIconName = "title_bar_tab_icon_web";

    using KZBaseTabWindowController::KZBaseTabWindowController;

    const std::shared_ptr<KZAIBrowserTabBarRightView>& rightView() const { return rightView_; }

    void setupViews() override;
    void setupViewsLayout() override;
    bool showsAddButtonOfTabBar() override { return false; }
    double rightMarginOfTabBar() override { return -150.0; }

    void showWindowAndCreateNewTabWithUrl(const std::string& url);
    void createDefaultTab(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo) override;
    void removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) override;
    bool windowShouldClose(kit::Window& window) override;
    void __removeAllItemsAndModels();

    void didClickRereshButton();
    void didClickCopyButton() const;
    void didClickExternalButton() const;
    // The hover state of the copy and open-in-browser buttons; nothing is shown for it.
    void showCopyGuideBubble(bool hovered) { (void)hovered; }
    void showExternalGuideBubble(bool hovered) { (void)hovered; }

    // The selected tab's page address: the one it shows now, else the one it was opened with.
    std::string selectedPageAddress() const;

private:
    void destroyWindow();

    std::shared_ptr<KZAIBrowserTabBarRightView> rightView_;
};
