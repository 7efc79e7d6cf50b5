#include "app/tools/KZWindowTitleTabBarItemModel.h"

#include "app/tools/KZWindowTitleTabBarItem.h"
#include "app/web/KZAIWebView.h"

void KZWindowTitleTabBarItemModel::setIconName(std::string name) {
    iconName_ = std::move(name);
    refreshItem();
}

void KZWindowTitleTabBarItemModel::setIconURL(std::string url) {
    iconURL_ = std::move(url);
    refreshItem();
}

void KZWindowTitleTabBarItemModel::setTitle(std::string title) {
    title_ = std::move(title);
    refreshItem();
}

void KZWindowTitleTabBarItemModel::setIsSelected(bool selected) {
    isSelected_ = selected;
    refreshItem();
}

void KZWindowTitleTabBarItemModel::refreshItem() const {
    if (auto item = associateTabBarItem()) item->refresh();
}

void KZWindowTitleTabBarItemModel::didSelect() {
    if (!selectHandler_) return;
    // Copies: the handler may close the window that owns this model and its handlers.
    auto keep = shared_from_this();
    auto handler = selectHandler_;
    handler();
}

void KZWindowTitleTabBarItemModel::didRemove() {
    if (!removeHandler_) return;
    auto keep = shared_from_this();
    auto handler = removeHandler_;
    handler();
}

std::shared_ptr<KZAIWebView> KZAIWindowTitleTabBarItemModel::aiWebView() const {
    return std::dynamic_pointer_cast<KZAIWebView>(associateWebView());
}
