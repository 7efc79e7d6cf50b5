#include "app/tools/KZTranslatePanelController.h"

#include "app/core/KZAIIPCClient.h"
#include "app/core/KZBundleInfo.h"
#include "frameworks/LanguageHelper.h"

std::string KZTranslatePanelController::webURL() const { return KZBundleInfo::aiPageURL(kPagePath, KZWebPageVersion); }

std::string KZTranslatePanelController::panelTitle() const { return KZLocalizedString("翻译"); }

void KZTranslatePanelController::webviewDidChangeSizeTo(KZAIWebView&, kit::Size size) {
    KZAIIPCClient::shared().ai2text_panelWindowSizeChanged(kPanelType, size);
}
