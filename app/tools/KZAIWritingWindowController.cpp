#include "app/tools/KZAIWritingWindowController.h"

#include <utility>

#include "app/core/KZBundleInfo.h"
#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZTabWndConfirmCloseWindowController.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWebTypes.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Create.h"

KZAIWritingWindowController::~KZAIWritingWindowController() {
    for (auto& waiter : quitWaiters_) kit::RunLoop::main().post([waiter = std::move(waiter)] { waiter(false); });
}

void KZAIWritingWindowController::createDefaultTab(const std::optional<std::string>& url,
                                                   const std::optional<kit::Dictionary>& actionInfo) {
    auto model = std::make_shared<KZAIWindowTitleTabBarItemModel>();
    model->setWebUrlString(url ? *url : KZBundleInfo::aiPageURL(kPageFormat, KZWebPageVersion));
    auto controller = kit::create<KZAIWritingWebViewController>();
    controller->setTempWebActionInfo(actionInfo);
    controller->setCurrentModel(model);
    controller->setDelegate(
        std::static_pointer_cast<KZAIImageWebViewControllerDelegate>(self<KZAIWritingWindowController>()));
    addTab(model, controller);
}

std::shared_ptr<KZAITabWebViewController> KZAIWritingWindowController::tab() {
    // The page shown: the selected tab's.
    const auto selected = selectedTitleBarItemModel();
    for (const auto& child : tabViewController().childViewControllers())
        if (child->currentModel() == selected) return std::dynamic_pointer_cast<KZAITabWebViewController>(child);
    return nullptr;
}

bool KZAIWritingWindowController::hasUnsavedWork() {
    auto page = tab();
    return page && page->canAskPage();
}

void KZAIWritingWindowController::closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) {
    quitWaiters_.push_back(std::move(done));
    if (quitWaiters_.size() > 1) return;  // already asking
    auto page = tab();
    if (!page || !page->canAskPage()) {
        answerQuit(true);
        return;
    }
    kit::logLine("[WRITE] asking the page whether its work is saved before quitting");
    page->aiWebView()->native2js_currentPageIsSaved();
}

void KZAIWritingWindowController::probeUnsavedWork(std::function<void(bool unsaved)> answer) {
    std::vector<std::shared_ptr<KZAITabWebViewController>> pages;
    if (auto page = tab(); page && page->canAskPage()) pages.push_back(page);
    probePages(pages, std::move(answer));
}

void KZAIWritingWindowController::recieveJSIsSavedResult(bool saved,
                                                         const std::shared_ptr<KZWindowTitleTabBarItemModel>&) {
    if (quitWaiters_.empty()) return;
    if (saved) {
        answerQuit(true);
        return;
    }
    showWindow();
    auto w = window();
    if (!w) {
        kit::logLine("[WRITE] the window is gone: its work is kept, and the quit does not go on");
        answerQuit(false);
        return;
    }
    kit::logf("[WRITE] confirm close: %s", kConfirmText);
    beginQuestionSheet(confirmCloseWindowController()->window(), "[WRITE]");
}

const std::shared_ptr<KZTabWndConfirmCloseWindowController>&
KZAIWritingWindowController::confirmCloseWindowController() {
    if (!confirmCloseWindowController_) {
        confirmCloseWindowController_ =
            KZTabWndConfirmCloseWindowController::makeSheet(KZLocalizedString(kConfirmText));
        std::weak_ptr<KZAIWritingWindowController> weak = self<KZAIWritingWindowController>();
        confirmCloseWindowController_->setOnClickHandler([weak](bool confirmed) {
            auto me = weak.lock();
            if (!me) return;
            if (auto w = me->window()) w->endSheet(me->confirmCloseWindowController_->window());
            me->answerQuit(confirmed);
        });
    }
    return confirmCloseWindowController_;
}

void KZAIWritingWindowController::answerQuit(bool proceed) {
    kit::logf("[WRITE] the page's work %s", proceed ? "may go" : "is kept");
    for (auto& waiter : std::exchange(quitWaiters_, {}))
        kit::RunLoop::main().post([waiter = std::move(waiter), proceed] { waiter(proceed); });
}

void KZAIWritingWindowController::windowWillClose(kit::Window& window) {
    if (!isOwnWindow(window)) return;
    if (auto model = selectedAIModel())
        if (auto web = model->aiWebView()) web->native2js_webShow(KZWebWindowTypeSearch, false);
    report(24051, kReportValue);
}

void KZAIWritingWindowController::windowDidMiniaturize(kit::Window& window) {
    if (isOwnWindow(window)) report(24050, kReportValue);
}

void KZAIWritingWindowController::windowWillEnterFullScreen(kit::Window& window) {
    if (isOwnWindow(window)) report(24052, kReportValue);
}

void KZAIWritingWindowController::windowWillExitFullScreen(kit::Window& window) {
    if (isOwnWindow(window)) report(24052, kReportValue);
}
