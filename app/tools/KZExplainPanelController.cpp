#include "app/tools/KZExplainPanelController.h"

#include "app/core/KZAIIPCClient.h"
#include "app/core/KZBundleInfo.h"
#include "frameworks/LanguageHelper.h"

std::string KZExplainPanelController::webURL() const { return KZBundleInfo::aiPageURL(kPagePath, KZWebPageVersion); }

std::string KZExplainPanelController::panelTitle() const { return KZLocalizedString("解释"); }

void KZExplainPanelController::webviewDidChangeSizeTo(KZAIWebView&, kit::Size size) {
    KZAIIPCClient::shared().ai2text_panelWindowSizeChanged(kPanelType, size);
}
