#pragma once
// The small window a dragged file is dropped on. It borrows the side window's web view: the view
// moves into the drop view, under a mask that leaves the drop to the page, and stays there until
// the side window takes it back. Window type 5 (file drop).
//
// Made with kit::create<KZDropWindController>(hasTitleBar, size).

#include <memory>
#include <string>

#include "app/windows/KZBaseWindowController.h"

class KZAIWebView;
class KZView;

class KZDropWindController : public KZBaseWindowController {
public:
    // initWithTitleStyle:windowSize:
    KZDropWindController(bool hasTitleBar, kit::Size windowSize);

    int customWindowType() override { return 5; }
    void customInit() override;
    void setupViews() override;

    // Moves the web view into the drop view, under the mask.
    void injectWebView(const std::shared_ptr<KZAIWebView>& webView);
    std::shared_ptr<KZAIWebView> injectedWebView() const { return webView_.lock(); }

    // The drop view controller's view and the mask over the page.
    const std::shared_ptr<KZView>& dropView() const { return dropView_; }
    const std::shared_ptr<KZView>& dropMaskView() const { return dropMaskView_; }

private:
    std::shared_ptr<KZView> dropView_;
    std::shared_ptr<KZView> dropMaskView_;
    std::weak_ptr<KZAIWebView> webView_;
};
