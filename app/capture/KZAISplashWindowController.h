#pragma once
// The first-run onboarding window, 780 x 482, in four pages:
//   1. welcome: what the assistant does;
//   2. status item: a switch that shows or hides the status item through the window-controller
//      manager (and, when turned on, the guide tip under it);
//   3. text tool: a switch that turns the text-grabbing tool on or off through the shared
//      settings and tells the tool; turning it on without the accessibility permission brings
//      the permission tip alone;
//   4. done: how to open the side window (the saved hot key, the status item, or where to set
//      one up), and the button that closes the window.
// Next and back step through the pages; Return presses the page's default button (next, or
// start on the last page), Space flips the page's switch and Escape closes the window. Closing it on any page marks the guide
// as shown in the shared settings (when it was not yet) and then runs the will-close block.
//
// Made with kit::create<KZAISplashWindowController>(hasTitleBar, size). Main thread only.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/windows/KZBaseWindowController.h"
#include "kit/ui/Window.h"

class COSwitch;
class KZCustomViewButton;
class KZSplashKeyView;
namespace kit {
class ImageView;
class Label;
class View;
}

// The status-item choice stored with db_setGuideWindowChoosedAIShowIndex: 0 none made yet.
enum KZGuideWindowAIShowChoice : int {
    KZGuideWindowAIShowChoiceNone = 0,
    KZGuideWindowAIShowChoiceShow = 1,
    KZGuideWindowAIShowChoiceHide = 2,
};

class KZAISplashWindowController : public KZBaseWindowController, public kit::WindowDelegate {
public:
    using WillCloseBlock = std::function<void()>;

    static constexpr double kWidth = 780;
    static constexpr double kHeight = 482;
    static constexpr int kPageCount = 4;
    enum Page : int { PageWelcome = 0, PageStatusItem = 1, PageTextTool = 2, PageDone = 3 };

    KZAISplashWindowController(bool hasTitleBar, kit::Size windowSize);

    void customInit() override;
    void setupViews() override;
    void setupViewsLayout() override;
    bool canMovableByWindowBackground() override { return true; }
    kit::Size windowButtonOffsetSize() override { return {12.0, 12.0}; }
    std::string windowTitle() override;

    // Shows the window on its first page with the key focus for Return and Escape.
    void showWindow() override;

    void setWindowWillCloseBlock(WillCloseBlock block) { windowWillCloseBlock_ = std::move(block); }
    void windowWillClose(kit::Window& closing) override;

    // ---- Pages. --------------------------------------------------------------------------------
    int currentPage() const { return currentPage_; }
    void showPage(int page);
    void goNext();
    void goBack();
    // Return, Space and Escape (virtual key codes); false for any other key.
    bool handleKey(unsigned short keyCode);

    // ---- What the pages change. -----------------------------------------------------------------
    // Shows or hides the status item through the manager; turning it on shows the guide tip under
    // the item once the desktop has placed it (at once when it already has a place).
    void onStatusItemSwitchChanged(bool on);
    void onTextToolSwitchChanged(bool on);
    // The last page's text for the current hot key and status item.
    static std::string openSideWindowHint();

    // ---- Views (tests look at them). --------------------------------------------------------------
    const std::shared_ptr<KZCustomViewButton>& nextButton() const { return nextButton_; }
    const std::shared_ptr<KZCustomViewButton>& backButton() const { return backButton_; }
    // The last page's button (the same view as nextButton, titled to start).
    const std::shared_ptr<KZCustomViewButton>& startButton() const { return nextButton_; }
    const std::shared_ptr<COSwitch>& statusItemSwitch() const { return statusItemSwitch_; }
    const std::shared_ptr<COSwitch>& textToolSwitch() const { return textToolSwitch_; }
    const std::shared_ptr<kit::View>& pageView(int page) const { return pages_.at(static_cast<std::size_t>(page)).view; }
    // Every label of a page, title first.
    std::vector<std::shared_ptr<kit::Label>> labelsOfPage(int page) const;

private:
    struct PageViews {
        std::shared_ptr<kit::View> view;
        std::shared_ptr<kit::ImageView> picture;
        std::shared_ptr<kit::Label> title;
        std::shared_ptr<kit::Label> detail;
        std::shared_ptr<kit::Label> switchLabel;
    };

    PageViews makePage(const char* imageName, const std::string& title, const std::string& detail);
    std::shared_ptr<COSwitch> addSwitchRow(PageViews& page, const std::string& label);
    void updateControls();
    void refreshSwitches();

    WillCloseBlock windowWillCloseBlock_;
    int currentPage_ = PageWelcome;
    std::array<PageViews, kPageCount> pages_;
    std::array<std::shared_ptr<kit::View>, kPageCount> dots_;
    std::shared_ptr<KZSplashKeyView> keyView_;
    std::shared_ptr<COSwitch> statusItemSwitch_;
    std::shared_ptr<COSwitch> textToolSwitch_;
    std::shared_ptr<KZCustomViewButton> nextButton_;
    std::shared_ptr<KZCustomViewButton> backButton_;
    // The guide tip waits until the desktop has placed the status item it points at.
    std::shared_ptr<void> statusItemObserver_;
    bool guideTipWaiting_ = false;
};
