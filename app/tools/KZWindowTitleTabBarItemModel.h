#pragma once
// One tab of a tool window: what the tab shows (icon, title, selection), the page it holds, and
// what a click on it or on its close button does. The window owns its models in strip order; the
// tab item view that shows a model holds it strongly and the model points back weakly, so the
// model forgets its item when the item goes. Setting the icon, the title or the selection
// refreshes the item at once. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "frameworks/LanguageHelper.h"

class KZBaseWebView;
class KZAIWebView;
class KZWindowTitleTabBarItem;

class KZWindowTitleTabBarItemModel : public std::enable_shared_from_this<KZWindowTitleTabBarItemModel> {
public:
    using Handler = std::function<void()>;
    static constexpr const char* kDefaultTitle = KZLocalizableKey("新标签页");

    KZWindowTitleTabBarItemModel() = default;
    virtual ~KZWindowTitleTabBarItemModel() = default;
    KZWindowTitleTabBarItemModel(const KZWindowTitleTabBarItemModel&) = delete;
    KZWindowTitleTabBarItemModel& operator=(const KZWindowTitleTabBarItemModel&) = delete;

    // A resource image: the tab's icon, and the placeholder while iconURL loads.
    const std::string& iconName() const { return iconName_; }
    void setIconName(std::string name);
    // A remote icon (a page's favicon); empty for none.
    const std::string& iconURL() const { return iconURL_; }
    void setIconURL(std::string url);
    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    // The tab's page, read by its web view controller when it loads; refreshes nothing.
    const std::string& webUrlString() const { return webUrlString_; }
    void setWebUrlString(std::string url) { webUrlString_ = std::move(url); }
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool selected);

    std::shared_ptr<KZBaseWebView> associateWebView() const { return associateWebView_.lock(); }
    void setAssociateWebView(const std::shared_ptr<KZBaseWebView>& webView) { associateWebView_ = webView; }
    std::shared_ptr<KZWindowTitleTabBarItem> associateTabBarItem() const { return associateTabBarItem_.lock(); }
    void setAssociateTabBarItem(const std::shared_ptr<KZWindowTitleTabBarItem>& item) { associateTabBarItem_ = item; }

    const Handler& selectHandler() const { return selectHandler_; }
    void setSelectHandler(Handler handler) { selectHandler_ = std::move(handler); }
    const Handler& removeHandler() const { return removeHandler_; }
    void setRemoveHandler(Handler handler) { removeHandler_ = std::move(handler); }

    // Run the handlers when set (a click on the tab, on its close button).
    void didSelect();
    void didRemove();

private:
    void refreshItem() const;

    std::string iconName_;
    std::string iconURL_;
    std::string title_ = KZLocalizedString(kDefaultTitle);
    std::string webUrlString_;
    bool isSelected_ = false;
    std::weak_ptr<KZBaseWebView> associateWebView_;
    std::weak_ptr<KZWindowTitleTabBarItem> associateTabBarItem_;
    Handler selectHandler_;
    Handler removeHandler_;
};

// The tab of an AI tool window, whose page is an AI web view.
class KZAIWindowTitleTabBarItemModel : public KZWindowTitleTabBarItemModel {
public:
    std::shared_ptr<KZAIWebView> aiWebView() const;
};
