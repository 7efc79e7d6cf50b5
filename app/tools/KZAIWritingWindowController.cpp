#include "app/tools/KZAIWritingWindowController.h"

#include "app/core/KZBundleInfo.h"
#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWebTypes.h"
#include "kit/ui/Create.h"

void KZAIWritingWindowController::createDefaultTab(const std::optional<std::string>& url,
                                                   const std::optional<kit::Dictionary>& actionInfo) {
    auto model = std::make_shared<KZAIWindowTitleTabBarItemModel>();
    model->setWebUrlString(url ? *url : KZBundleInfo::aiPageURL(kPageFormat, KZWebPageVersion));
    auto controller = kit::create<KZAIWritingWebViewController>();
    controller->setTempWebActionInfo(actionInfo);
    controller->setCurrentModel(model);
    addTab(model, controller);
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
