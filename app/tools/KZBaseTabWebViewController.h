#pragma once
// The page of one tab of a tool window: a view controller that owns the tab's web view, loads the
// tab's address into it once its view loads, ties the web view to the tab model, and answers the
// web view's callbacks for that tab.
//
//   KZBaseTabWebViewController      a KZBaseWebView           base of all
//   KZAITabWebViewController        a KZAIWebView             base of the AI tabs: hands a pending
//                                                             file action to the page once ready,
//                                                             asks the page whether it is saved
//   KZAIWritingWebViewController                              writing window
//   KZAIImageWebViewController                                image window
//   KZAIDocumentWebViewController                             document window
//
// Made with kit::create<Class>(). Each controller is the delegate of its own web view (held weakly
// by it) and holds its model weakly. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/web/KZAIWebViewDelegate.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/RunLoop.h"
#include "kit/base/Value.h"

class KZBaseWebView;
class KZAIWebView;
class KZWindowTitleTabBarItemModel;
class KZAIWindowTitleTabBarItemModel;
namespace kit {
class View;
}

class KZBaseTabWebViewController : public KZAIWebViewDelegate,
                                   public std::enable_shared_from_this<KZBaseTabWebViewController> {
public:
    KZBaseTabWebViewController() = default;
    ~KZBaseTabWebViewController() override;
    KZBaseTabWebViewController(const KZBaseTabWebViewController&) = delete;
    KZBaseTabWebViewController& operator=(const KZBaseTabWebViewController&) = delete;
    virtual void init() {}

    // The tab's web view, made on first use with this controller as its delegate.
    const std::shared_ptr<KZBaseWebView>& innerWebView();
    std::shared_ptr<KZWindowTitleTabBarItemModel> currentModel() const { return currentModel_.lock(); }
    // Stores the model weakly and makes this controller's web view the model's.
    void setCurrentModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);

    // The controller's view (loaded on first use: a plain view holding the web view, which then
    // loads the tab's address).
    const std::shared_ptr<kit::View>& view();
    bool isViewLoaded() const { return view_ != nullptr; }
    virtual void loadView();
    virtual void viewDidLoad();
    // Reloads a page whose content process has ended.
    virtual void viewWillAppear();
    void loadRequest();

protected:
    // The web view of this controller's kind.
    virtual std::shared_ptr<KZBaseWebView> makeWebView();

private:
    std::shared_ptr<KZBaseWebView> innerWebView_;
    std::weak_ptr<KZWindowTitleTabBarItemModel> currentModel_;
    std::shared_ptr<kit::View> view_;
};

// Hears a page's answer to "is your work saved?", with the tab it is about.
class KZAIImageWebViewControllerDelegate {
public:
    virtual ~KZAIImageWebViewControllerDelegate() = default;
    virtual void recieveJSIsSavedResult(bool saved, const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) = 0;
};

class KZAITabWebViewController : public KZBaseTabWebViewController {
public:
    static constexpr double kIsSavedTimeout = 3.0;

    ~KZAITabWebViewController() override;

    std::shared_ptr<KZAIWebView> aiWebView();
    std::shared_ptr<KZAIWindowTitleTabBarItemModel> currentAIModel() const;

    // A file action from the side window's page, sent to this tab's page once it is ready.
    const std::optional<kit::Dictionary>& tempWebActionInfo() const { return tempWebActionInfo_; }
    void setTempWebActionInfo(std::optional<kit::Dictionary> info) { tempWebActionInfo_ = std::move(info); }

    // The saved question ("IsSaved"): the delegate hears the page's answer. A page that does not
    // answer within kIsSavedTimeout counts as unsaved, so that the user decides; a page whose
    // content process has ended cannot answer and has nothing left to save: it counts as saved
    // at once, without waiting.
    std::shared_ptr<KZAIImageWebViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<KZAIImageWebViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }
    // 1 while a saved question to the page is open, 0 otherwise.
    int isAskingStatus() const { return isAskingStatus_; }
    // Whether the page can be asked: loaded, ready and with a live content process.
    bool canAskPage();
    // Asks the page whether its work is saved (joining a question already open) and tells
    // `answer` as well as the delegate; a tab that goes first answers saved (nothing of it is left).
    void askWhetherSaved(std::function<void(bool saved)> answer);

    void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) override;
    void webviewDidSendPageIsSaved(KZAIWebView& webview) override;
    void webviewClientIsSavedFromJS(KZAIWebView& webview, bool saved) override;

protected:
    std::shared_ptr<KZBaseWebView> makeWebView() override;

private:
    std::optional<kit::Dictionary> tempWebActionInfo_;
    std::weak_ptr<KZAIImageWebViewControllerDelegate> delegate_;
    int isAskingStatus_ = 0;
    // The open question's own fallback: an answer cancels it, and it answers only its question.
    kit::TaskId fallback_ = 0;
    std::uint64_t question_ = 0;
    // While a question is open: told when the page's content process ends.
    std::shared_ptr<void> processObservation_;
    std::vector<std::function<void(bool saved)>> savedWaiters_;
};

class KZAIWritingWebViewController : public KZAITabWebViewController {
public:
    void webviewDidReceiveWebRequestLogin(KZAIWebView& webview) override;
};

class KZAIImageWebViewController : public KZAITabWebViewController {
public:
    static constexpr const char* kDefaultTitle = KZLocalizableKey("打开新图片");
    static constexpr const char* kDefaultIconName = "title_bar_tab_icon_default_image";

    void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) override;
    void webviewDidOpenFilePath(KZAIWebView& webview, const std::optional<std::string>& path) override;
    std::optional<std::string> recommendedImageSaveNameForWebview(KZAIWebView& webview) override;
    void webviewDidReceiveWebRequestLogin(KZAIWebView& webview) override;

    static std::string __iconNameFromPath(const std::string& path);
    static std::string __titleFromPath(const std::string& path);
};

class KZAIDocumentWebViewController : public KZAITabWebViewController {
public:
    static constexpr const char* kDefaultTitle = KZLocalizableKey("打开新文档");
    static constexpr const char* kDefaultIconName = "title_bar_tab_icon_default_doc";

    void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) override;
    void webviewDidOpenFilePath(KZAIWebView& webview, const std::optional<std::string>& path) override;
    void webviewDidReceiveWebRequestLogin(KZAIWebView& webview) override;

    static std::string __iconNameFromPath(const std::string& path);
    static std::string __titleFromPath(const std::string& path);
};
