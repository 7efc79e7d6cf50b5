#include "app/tools/KZAIDocumentWindowController.h"

#include <algorithm>
#include <utility>

#include "app/core/KZBundleInfo.h"
#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZTabWndConfirmCloseWindowController.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/web/KZWebTypes.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Create.h"

KZAIDocumentWindowController::~KZAIDocumentWindowController() {
    for (auto& waiter : answerWaiters_) kit::RunLoop::main().post([waiter = std::move(waiter)] { waiter(false); });
}

void KZAIDocumentWindowController::customInit() {
    KZAITabWindowController::customInit();
    confirmCloseWindow_ = false;
}

void KZAIDocumentWindowController::showWindowAndCreateNewTabWithUrl(const std::string& url) {
    createDefaultTabIfNeeded(url, std::nullopt);
    showWindow();
}

void KZAIDocumentWindowController::createDefaultTab(const std::optional<std::string>& url,
                                                    const std::optional<kit::Dictionary>& actionInfo) {
    auto model = std::make_shared<KZAIWindowTitleTabBarItemModel>();
    model->setIconName(KZAIDocumentWebViewController::kDefaultIconName);
    model->setTitle(KZLocalizedString(KZAIDocumentWebViewController::kDefaultTitle));
    model->setWebUrlString(url ? *url : KZBundleInfo::aiPageURL(kPageFormat, KZWebPageVersion));
    setHandlers<KZAIDocumentWindowController>(model, &KZAIDocumentWindowController::removeTabBarModel);
    auto controller = kit::create<KZAIDocumentWebViewController>();
    controller->setTempWebActionInfo(actionInfo);
    controller->setCurrentModel(model);
    addTab(model, controller);
}

void KZAIDocumentWindowController::removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference) {
    const auto model = modelReference;
    KZAITabWindowController::removeTabBarModel(model);
    if (titleBarItemModels().empty()) destroyWindow();
}

void KZAIDocumentWindowController::__removeAllItemsAndModels() {
    removeAllTabsWithoutStrip();
    destroyWindow();
}

void KZAIDocumentWindowController::destroyWindow() {
    auto& manager = KZWindowControllerManager::manager();
    if (manager.documentWindowController().get() == this) {
        manager.destoryAIDocumentWindowController();
    } else if (auto w = window()) {
        w->close();
    }
}

const std::shared_ptr<KZTabWndConfirmCloseWindowController>& KZAIDocumentWindowController::confirmCloseWindowController() {
    if (!confirmCloseWindowController_) {
        confirmCloseWindowController_ =
            KZTabWndConfirmCloseWindowController::makeSheet(KZLocalizedString(kConfirmText));
        std::weak_ptr<KZAIDocumentWindowController> weak = self<KZAIDocumentWindowController>();
        confirmCloseWindowController_->setOnClickHandler([weak](bool confirmed) {
            auto me = weak.lock();
            if (!me) return;
            me->confirmCloseWindow_ = confirmed;
            if (!confirmed) me->tabCountAtCloseRequest_.reset();
            if (auto w = me->window()) w->endSheet(me->confirmCloseWindowController_->window());
            auto asked = std::exchange(me->askedTabs_, {});
            auto waiters = std::exchange(me->answerWaiters_, {});
            for (auto& waiter : waiters)
                kit::RunLoop::main().post([waiter = std::move(waiter), confirmed] { waiter(confirmed); });
            if (!confirmed) return;
            const bool onlyAskedTabs = std::ranges::all_of(me->titleBarItemModels(), [&](const auto& model) {
                return std::ranges::any_of(asked, [&](const auto& weakModel) { return weakModel.lock() == model; });
            });
            if (onlyAskedTabs) {
                me->__removeAllItemsAndModels();
                return;
            }
            // Tabs opened while the question was up stay, and so does the window.
            me->confirmCloseWindow_ = false;
            for (const auto& weakModel : asked)
                if (auto model = weakModel.lock(); model && me->indexOf(model)) me->removeTabBarModel(model);
        });
    }
    return confirmCloseWindowController_;
}

void KZAIDocumentWindowController::__showConfirmCloseWindow() {
    auto w = window();
    const auto& sheet = confirmCloseWindowController()->window();
    if (!w || sheet->sheetParent()) return;  // already asked, up or waiting
    askedTabs_.assign(titleBarItemModels().begin(), titleBarItemModels().end());
    kit::logf("[DOC] confirm close: %s", kConfirmText);
    beginQuestionSheet(sheet, "[DOC]");
}

bool KZAIDocumentWindowController::hasUnsavedWork() {
    const auto& models = titleBarItemModels();
    return models.size() >= 2 && std::ranges::any_of(models, tabHasOpenFile);
}

void KZAIDocumentWindowController::closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) {
    kit::logLine("[DOC] asking about the open files before quitting");
    auto w = window();
    if (!w || titleBarItemModels().size() < 2) {
        KZAITabWindowController::closeUnsavedWorkBeforeQuit(std::move(done));
        return;
    }
    showWindow();
    answerWaiters_.push_back(std::move(done));
    if (!askedTabs_.empty()) return;
    tabCountAtCloseRequest_ = titleBarItemModels().size();
    __showConfirmCloseWindow();
    if (!askedTabs_.empty()) return;
    kit::logLine("[DOC] the question could not be shown: the files stay open, and the quit does not go on");
    for (auto& waiter : std::exchange(answerWaiters_, {}))
        kit::RunLoop::main().post([waiter = std::move(waiter)] { waiter(false); });
}

bool KZAIDocumentWindowController::windowShouldClose(kit::Window&) {
    if (confirmCloseWindow_) return true;
    if (KZWindowControllerManager::manager().quitQuestionWaitsFor(*this)) return false;
    const std::size_t count = titleBarItemModels().size();
    tabCountAtCloseRequest_ = count;
    if (count >= 2) {
        __showConfirmCloseWindow();
        return false;
    }
    if (count == 1) {
        __removeAllItemsAndModels();
        return false;
    }
    return true;
}

void KZAIDocumentWindowController::windowWillClose(kit::Window& window) {
    if (!isOwnWindow(window)) return;
    report(24051, kReportValue);
    report(24053, std::to_string(tabCountAtCloseRequest_.value_or(titleBarItemModels().size())));
    tabCountAtCloseRequest_.reset();
}

void KZAIDocumentWindowController::windowDidMiniaturize(kit::Window& window) {
    if (isOwnWindow(window)) report(24050, kReportValue);
}

void KZAIDocumentWindowController::windowWillEnterFullScreen(kit::Window& window) {
    if (isOwnWindow(window)) report(24052, kReportValue);
}

void KZAIDocumentWindowController::windowWillExitFullScreen(kit::Window& window) {
    if (isOwnWindow(window)) report(24052, kReportValue);
}
