#pragma once
// The tool windows' test bed: the window layer's (a 1440 x 900 screen, scripted pages, the AI
// service at https://ai.quarn.test/) with helpers to reach a tool window's tabs and their pages.

#include <memory>
#include <string>
#include <vector>

#include "app/tools/KZAIDocumentWindowController.h"
#include "app/tools/KZAIImageWindowController.h"
#include "app/tools/KZAIWritingWindowController.h"
#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZTabWndConfirmCloseWindowController.h"
#include "app/tools/KZWindowTitleTabBar.h"
#include "app/tools/KZWindowTitleTabBarItem.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/ui/KZAppearanceFollower.h"
#include "app/ui/KZCustomViewButton.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace tooltest {

// A name as tabs and sentences show it: set apart (isolated) from the text around it.
inline std::string isolated(const std::string& name) { return "\u2068" + name + "\u2069"; }

using Model = KZWindowTitleTabBarItemModel;
using ModelPtr = std::shared_ptr<KZWindowTitleTabBarItemModel>;

class ToolWindowsTest : public apptest::AppWindowsTest {
protected:
    ToolWindowsTest() {
        JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light);
        KZAppearanceFollower::start();
    }
    ~ToolWindowsTest() override { KZAppearanceFollower::stop(); }

    void setDark(bool dark) {
        JWAppThemeHelper::setApplicationAppearance(dark ? kit::AppearancePreference::Dark : kit::AppearancePreference::Light);
        env.runUntilIdle();
    }

    std::shared_ptr<KZAIImageWindowController> image() {
        return std::dynamic_pointer_cast<KZAIImageWindowController>(manager().imageWindowController());
    }
    std::shared_ptr<KZAIDocumentWindowController> document() {
        return std::dynamic_pointer_cast<KZAIDocumentWindowController>(manager().documentWindowController());
    }
    std::shared_ptr<KZAIWritingWindowController> writing() {
        return std::dynamic_pointer_cast<KZAIWritingWindowController>(manager().writingWindowController());
    }

    static KZAIWebView& pageView(const ModelPtr& model) {
        auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView());
        if (!web) throw std::runtime_error("the tab has no AI web view");
        return *web;
    }

    // Opens `count` image tabs whose pages are ready and, when `files` is given, have opened it.
    std::shared_ptr<KZAIImageWindowController> openImageTabs(const std::vector<std::string>& files) {
        for (std::size_t i = 0; i < files.size(); ++i) manager().showAIImageWindowControllerAndCreateNewTab();
        auto window = image();
        const std::size_t first = window->titleBarItemModels().size() - files.size();
        for (std::size_t i = 0; i < files.size(); ++i) {
            auto& view = pageView(window->titleBarItemModels()[first + i]);
            makeReady(view, "image");
            if (!files[i].empty()) pageCalls(view, "OpenFileNotify", kit::Dictionary{{"path", files[i]}});
            pageOf(view).takeBridgeMessages();
        }
        return window;
    }

    // The page answers the saved question.
    void answerSaved(const ModelPtr& model, bool saved) {
        pageCalls(pageView(model), "ClientIsSaved", kit::Dictionary{{"data", saved}});
    }
    bool wasAskedIfSaved(const ModelPtr& model) {
        // Held here: a closed tab's page goes on the next turn of the loop.
        auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView());
        if (!web) return false;
        for (const auto& name : callNamesToPage(*web))
            if (name == "IsSaved") return true;
        return false;
    }

    std::vector<std::string> titles(const KZBaseTabWindowController& window) {
        std::vector<std::string> out;
        for (const auto& m : window.titleBarItemModels()) out.push_back(m->title());
        return out;
    }

    // The confirm sheet up on a window, or null.
    std::shared_ptr<KZTabWndConfirmCloseWindowController> sheetOf(kit::Window& window) {
        auto sheet = window.attachedSheet();
        return sheet ? std::dynamic_pointer_cast<KZTabWndConfirmCloseWindowController>(sheet->windowController()) : nullptr;
    }
    void answerSheet(kit::Window& window, bool confirm) {
        auto dialog = sheetOf(window);
        ASSERT_NE(dialog, nullptr) << "no confirm sheet";
        ui.clickView(confirm ? static_cast<const kit::View&>(*dialog->okButton())
                             : static_cast<const kit::View&>(*dialog->cancelButton()));
        env.runUntilIdle();
    }
};

}  // namespace tooltest
