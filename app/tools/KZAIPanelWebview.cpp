#include "app/tools/KZAIPanelWebview.h"

#include "frameworks/LanguageHelper.h"

void KZAIPanelWebview::init() {
    KZAIWebView::init();
    setShowsRefreshButtonInErrorView(false);
}

std::string KZAIPanelWebview::errorTextOfWaitingReadyTimeout() const {
    return KZLocalizedString("抱歉，查询超时，暂时无法查询到结果，请稍后再试");
}
