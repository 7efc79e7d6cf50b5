#include "app/tools/KZAIImageWindowController.h"

#include <algorithm>

#include "app/core/KZBundleInfo.h"
#include "app/tools/KZTabWndConfirmCloseWindowController.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWebTypes.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Create.h"
#include "kit/ui/Text.h"

KZAIImageWindowController::~KZAIImageWindowController() { endWindowClose(false); }

void KZAIImageWindowController::createDefaultTab(const std::optional<std::string>& url,
                                                 const std::optional<kit::Dictionary>& actionInfo) {
    auto model = std::make_shared<KZAIWindowTitleTabBarItemModel>();
    model->setIconName(KZAIImageWebViewController::kDefaultIconName);
    model->setTitle(KZLocalizedString(KZAIImageWebViewController::kDefaultTitle));
    model->setWebUrlString(url ? *url : KZBundleInfo::aiPageURL(kPageFormat, KZWebPageVersion));
    setHandlers<KZAIImageWindowController>(model, &KZAIImageWindowController::removeTabBarModelByClickWindowClose);
    auto controller = kit::create<KZAIImageWebViewController>();
    controller->setTempWebActionInfo(actionInfo);
    controller->setCurrentModel(model);
    controller->setDelegate(std::static_pointer_cast<KZAIImageWebViewControllerDelegate>(self<KZAIImageWindowController>()));
    addTab(model, controller);
}

std::string KZAIImageWindowController::confirmTextFor(const std::string& title) {
    std::string format = KZLocalizedString(kConfirmFormat);
    const std::size_t at = format.find("%@");
    if (at == std::string::npos) return format;
    std::string text(format.substr(0, at));
    text += kit::isolatedText(title);
    text += format.substr(at + 2);
    return text;
}

bool KZAIImageWindowController::hasOpenFiles() const {
    return std::ranges::any_of(titleBarItemModels(), tabHasOpenFile);
}

// ---- Pending closes -------------------------------------------------------------------------------

KZAIImageWindowController::PendingClose* KZAIImageWindowController::pendingFor(
    const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    for (auto& p : pending_)
        if (p.model.lock() == model) return &p;
    return nullptr;
}

void KZAIImageWindowController::forget(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    std::erase_if(pending_, [&](const PendingClose& p) {
        auto m = p.model.lock();
        return !m || m == model;
    });
}

std::vector<std::shared_ptr<KZWindowTitleTabBarItemModel>> KZAIImageWindowController::pendingCloses() const {
    std::vector<std::shared_ptr<KZWindowTitleTabBarItemModel>> models;
    for (const auto& p : pending_)
        if (auto m = p.model.lock()) models.push_back(m);
    return models;
}

// ---- Closing tabs ---------------------------------------------------------------------------------

void KZAIImageWindowController::removeTabBarModelByClickWindowClose(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    // The user's own close of one tab: it leaves a window close in progress (unless that is
    // closing it right now) and goes its own way, with its own question.
    if (windowClose_) std::erase_if(windowClose_->remaining, [&](const auto& m) { return m.lock() == model; });
    __removeModel(model, CloseTypeTab);
}

void KZAIImageWindowController::removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference) {
    // A copy: the caller may pass an element of the list this removes it from.
    const auto model = modelReference;
    forget(model);
    KZAITabWindowController::removeTabBarModel(model);
    if (titleBarItemModels().empty()) {
        endWindowClose(true);
        destroyWindow();
    }
}

void KZAIImageWindowController::destroyWindow() {
    auto& manager = KZWindowControllerManager::manager();
    if (manager.imageWindowController().get() == this) {
        manager.destoryAIImageWindowController();
    } else if (auto w = window()) {
        w->close();
    }
}

void KZAIImageWindowController::__removeModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference, int closeType) {
    const auto model = modelReference;
    if (!indexOf(model)) return;
    // Already being closed: no second question. A window close reaching it waits for its end.
    if (pendingFor(model)) return;
    if (tabHasOpenFile(model)) {
        pending_.push_back({model, PendingState::AskingPage});
        std::static_pointer_cast<KZAIWebView>(model->associateWebView())->native2js_currentPageIsSaved();
        return;
    }
    removeTabBarModel(model);
    if (closeType == CloseTypeWindow) __removeModelNext();
}

// ---- Window close ---------------------------------------------------------------------------------

void KZAIImageWindowController::beginWindowClose(std::function<void(bool closedAll)> done) {
    if (windowClose_) {
        if (done) windowClose_->waiters.push_back(std::move(done));
        return;
    }
    WindowClose close;
    close.id = ++lastWindowCloseId_;
    for (const auto& model : titleBarItemModels()) close.remaining.push_back(model);
    if (done) close.waiters.push_back(std::move(done));
    windowClose_ = std::move(close);
    __removeModelNext();
}

void KZAIImageWindowController::endWindowClose(bool closedAll) {
    if (!windowClose_) return;
    WindowClose close = std::move(*windowClose_);
    windowClose_.reset();
    if (!closedAll) {
        // The tab it was closing stays; a question still on its way to the user goes with it.
        if (auto current = close.current.lock()) {
            auto* pending = pendingFor(current);
            if (pending && pending->state != PendingState::Confirming) forget(current);
        }
    }
    kit::logf("[IMG] window close %s", closedAll ? "done" : "cancelled");
    for (auto& waiter : close.waiters)
        kit::RunLoop::main().post([waiter = std::move(waiter), closedAll] { waiter(closedAll); });
}

void KZAIImageWindowController::__removeModelNext() {
    if (!windowClose_) return;
    WindowClose& close = *windowClose_;
    if (auto current = close.current.lock(); current && indexOf(current) && pendingFor(current)) return;
    close.current.reset();
    std::erase_if(close.remaining, [&](const auto& weak) {
        auto m = weak.lock();
        return !m || !indexOf(m);
    });
    if (close.remaining.empty()) {
        // Done once the tabs the user closed meanwhile have had their answers too (a kept one ends
        // it as kept). Tabs opened meanwhile keep the window open.
        std::erase_if(pending_, [&](const PendingClose& p) {
            auto m = p.model.lock();
            return !m || !indexOf(m);
        });
        if (pending_.empty()) endWindowClose(true);
        return;
    }
    // The selected tab first, as before the user; else the first of the strip.
    auto next = close.remaining.front().lock();
    if (auto selected = selectedTitleBarItemModel())
        for (const auto& weak : close.remaining)
            if (weak.lock() == selected) next = selected;
    std::erase_if(close.remaining, [&](const auto& weak) { return weak.lock() == next; });
    close.current = next;
    __removeModel(next, CloseTypeWindow);
}

void KZAIImageWindowController::recieveJSIsSavedResult(bool saved, const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference) {
    const auto model = modelReference;
    auto* pending = model ? pendingFor(model) : nullptr;
    if (!pending || pending->state != PendingState::AskingPage) {
        kit::logf("[IMG] saved answer for a tab that is not being closed: %s", model ? model->title().c_str() : "(null)");
        return;
    }
    if (!indexOf(model)) {
        forget(model);
        return;
    }
    if (saved) {
        removeTabBarModel(model);
        __removeModelNext();
        return;
    }
    pending->state = PendingState::WaitingForSheet;
    showNextConfirmSheet();
}

void KZAIImageWindowController::showNextConfirmSheet() {
    auto w = window();
    if (!w || w->isClosed()) return;
    std::erase_if(pending_, [&](const PendingClose& p) {
        auto m = p.model.lock();
        return !m || !indexOf(m);
    });
    for (auto& p : pending_) {
        if (p.state == PendingState::Confirming) return;
    }
    for (auto& p : pending_) {
        if (p.state != PendingState::WaitingForSheet) continue;
        p.state = PendingState::Confirming;
        std::weak_ptr<KZAIImageWindowController> weak = self<KZAIImageWindowController>();
        std::weak_ptr<KZWindowTitleTabBarItemModel> weakModel = p.model;
        __showConfirmCloseWindowWithHandler(
            [weak, weakModel](bool confirmed) {
                auto me = weak.lock();
                auto model = weakModel.lock();
                if (!me || !model) return;
                me->forget(model);
                if (!confirmed) {
                    // Cancel anywhere ends a window close: the user keeps this tab, and the ones
                    // not reached yet stay.
                    me->endWindowClose(false);
                    return;
                }
                me->removeTabBarModel(model);
                if (!me->windowClose_) return;
                const std::uint64_t id = me->windowClose_->id;
                kit::RunLoop::main().postAfter(kNextCloseDelay, [weak, id] {
                    auto again = weak.lock();
                    if (again && again->windowClose_ && again->windowClose_->id == id) again->__removeModelNext();
                });
            },
            p.model.lock());
        return;
    }
}

const std::shared_ptr<KZTabWndConfirmCloseWindowController>& KZAIImageWindowController::confirmCloseWindowController() {
    if (!confirmCloseWindowController_)
        confirmCloseWindowController_ = KZTabWndConfirmCloseWindowController::makeSheet();
    return confirmCloseWindowController_;
}

void KZAIImageWindowController::__showConfirmCloseWindowWithHandler(
    const std::function<void(bool)>& handler, const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    auto dialog = confirmCloseWindowController();
    std::weak_ptr<KZAIImageWindowController> weak = self<KZAIImageWindowController>();
    dialog->setOnClickHandler([weak, handler](bool confirmed) {
        auto me = weak.lock();
        if (!me) return;
        // The sheet ends first: the tab's removal may take the whole window away.
        if (auto w = me->window()) w->endSheet(me->confirmCloseWindowController_->window());
        if (handler) handler(confirmed);
        // Other tabs may wait for their own sheet: after this one has closed.
        kit::RunLoop::main().post([weak] {
            if (auto again = weak.lock()) again->showNextConfirmSheet();
        });
    });
    const std::string text = confirmTextFor(model ? model->title() : std::string());
    kit::logf("[IMG] confirm close: %s", text.c_str());
    dialog->titleLabel()->setString(text);
    beginQuestionSheet(dialog->window(), "[IMG]");
}

// ---- Window ---------------------------------------------------------------------------------------

bool KZAIImageWindowController::windowShouldClose(kit::Window&) {
    if (KZWindowControllerManager::manager().quitQuestionWaitsFor(*this)) return false;
    report(24053, std::to_string(titleBarItemModels().size()));
    if (titleBarItemModels().empty()) return true;
    beginWindowClose(nullptr);
    return false;
}

void KZAIImageWindowController::closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) {
    kit::logLine("[IMG] closing the window's files before quitting");
    showWindow();
    beginWindowClose(std::move(done));
}

void KZAIImageWindowController::probeUnsavedWork(std::function<void(bool unsaved)> answer) {
    std::vector<std::shared_ptr<KZAITabWebViewController>> pages;
    for (const auto& child : tabViewController().childViewControllers())
        if (auto page = std::dynamic_pointer_cast<KZAITabWebViewController>(child);
            page && page->currentModel() && tabHasOpenFile(page->currentModel()))
            pages.push_back(page);
    probePages(pages, std::move(answer));
}

void KZAIImageWindowController::windowWillClose(kit::Window& window) {
    if (isOwnWindow(window)) report(24051, kReportValue);
}

void KZAIImageWindowController::windowDidMiniaturize(kit::Window& window) {
    if (isOwnWindow(window)) report(24050, kReportValue);
}

void KZAIImageWindowController::windowWillEnterFullScreen(kit::Window& window) {
    if (isOwnWindow(window)) report(24052, kReportValue);
}

void KZAIImageWindowController::windowWillExitFullScreen(kit::Window& window) {
    if (isOwnWindow(window)) report(24052, kReportValue);
}
