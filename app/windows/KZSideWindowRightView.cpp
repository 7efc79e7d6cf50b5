#include "app/windows/KZSideWindowRightView.h"

#include "app/core/KZSharedPlistManager.h"

KZSideWindowRightView::KZSideWindowRightView(std::weak_ptr<KZSideWindowRightViewDelegate> delegate)
    : delegate_(std::move(delegate)) {}

void KZSideWindowRightView::init() {
    KZView::init();
    setupViews();
    onUserLoginStateChanged();
}

void KZSideWindowRightView::setupViews() {
    setWantsLayer(true);
    isPinned_ = KZSharedPlistManager::sharedManager().db_qaWindowPinState();
}
