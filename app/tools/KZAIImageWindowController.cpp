#include "app/tools/KZAIImageWindowController.h"

#include <algorithm>

#include "app/core/KZBundleInfo.h"
#include "app/tools/KZTabWndConfirmCloseWindowController.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWebTypes.h"
#include "app/windows/KZWindowControllerManager.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Create.h"
#include "kit/ui/Text.h"

void KZAIImageWindowController::createDefaultTab(const std::optional<std::string>& url,
                                                 const std::optional<kit::Dictionary>& actionInfo) {
    auto model = std::make_shared<KZAIWindowTitleTabBarItemModel>();
    model->setIconName(KZAIImageWebViewController::kDefaultIconName);
    model->setTitle(KZAIImageWebViewController::kDefaultTitle);
    model->setWebUrlString(url ? *url : KZBundleInfo::aiPageURL(kPageFormat, KZWebPageVersion));
    setHandlers<KZAIImageWindowController>(model, &KZAIImageWindowController::removeTabBarModelByClickWindowClose);
    auto controller = kit::create<KZAIImageWebViewController>();
    controller->setTempWebActionInfo(actionInfo);
    controller->setCurrentModel(model);
    controller->setDelegate(std::static_pointer_cast<KZAIImageWebViewControllerDelegate>(self<KZAIImageWindowController>()));
    addTab(model, controller);
}

std::string KZAIImageWindowController::confirmTextFor(const std::string& title) {
    const std::string_view format = kConfirmFormat;
    const std::size_t at = format.find("%@");
    std::string text(format.substr(0, at));
    text += kit::isolatedText(title);
    text += format.substr(at + 2);
    return text;
}

bool KZAIImageWindowController::hasOpenFiles() const {
    for (const auto& model : titleBarItemModels()) {
        auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView());
        if (web && web->hasOpenFile()) return true;
    }
    return false;
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
    isClosingByClickWindowClose_ = false;
    __removeModel(model, CloseTypeTab);
}

void KZAIImageWindowController::removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference) {
    // A copy: the caller may pass an element of the list this removes it from.
    const auto model = modelReference;
    forget(model);
    KZAITabWindowController::removeTabBarModel(model);
    if (titleBarItemModels().empty()) destroyWindow();
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
    if (auto* pending = pendingFor(model)) {
        // Already being closed: no second question. Closing the window takes it into its sequence.
        if (closeType == CloseTypeWindow) pending->closeType = CloseTypeWindow;
        return;
    }
    auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView());
    if (web && web->hasOpenFile()) {
        pending_.push_back({model, closeType, PendingState::AskingPage});
        web->native2js_currentPageIsSaved();
        return;
    }
    removeTabBarModel(model);
    if (closeType == CloseTypeWindow) __removeModelNext();
}

void KZAIImageWindowController::__removeModelNext() {
    if (titleBarItemModels().empty()) return;
    if (auto selected = selectedTitleBarItemModel()) __removeModel(selected, CloseTypeWindow);
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
        const int closeType = pending->closeType;
        removeTabBarModel(model);
        if (closeType == CloseTypeWindow) __removeModelNext();
        return;
    }
    pending->state = PendingState::WaitingForSheet;
    showNextConfirmSheet();
}

void KZAIImageWindowController::showNextConfirmSheet() {
    auto w = window();
    if (!w || w->isClosed() || w->attachedSheet()) return;
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
                if (confirmed) me->removeTabBarModel(model);
            },
            p.model.lock());
        return;
    }
}

const std::shared_ptr<KZTabWndConfirmCloseWindowController>& KZAIImageWindowController::confirmCloseWindowController() {
    if (!confirmCloseWindowController_) {
        confirmCloseWindowController_ =
            kit::create<KZTabWndConfirmCloseWindowController>(false, KZTabWndConfirmCloseWindowController::kSize);
        confirmCloseWindowController_->window()->center();
    }
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
        if (confirmed && me->isClosingByClickWindowClose_) {
            kit::RunLoop::main().postAfter(kNextCloseDelay, [me] { me->__removeModelNext(); });
        } else if (!confirmed) {
            // Cancel stops a window close where it is; the tabs not yet reached stay.
            const bool wasClosingWindow = me->isClosingByClickWindowClose_;
            me->isClosingByClickWindowClose_ = false;
            for (auto& p : me->pending_) p.closeType = CloseTypeTab;
            if (wasClosingWindow && me->windowCloseCancelled_) {
                auto block = me->windowCloseCancelled_;
                block();
            }
        }
        // Other tabs may wait for their own sheet: after this one has closed.
        kit::RunLoop::main().post([weak] {
            if (auto again = weak.lock()) again->showNextConfirmSheet();
        });
    });
    const std::string text = confirmTextFor(model ? model->title() : std::string());
    kit::logf("[IMG] confirm close: %s", text.c_str());
    dialog->titleLabel()->setString(text);
    if (auto w = window()) w->beginSheet(dialog->window());
}

// ---- Window ---------------------------------------------------------------------------------------

bool KZAIImageWindowController::windowShouldClose(kit::Window&) {
    report(24053, std::to_string(titleBarItemModels().size()));
    if (titleBarItemModels().empty()) return true;
    isClosingByClickWindowClose_ = true;
    __removeModelNext();
    return false;
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
