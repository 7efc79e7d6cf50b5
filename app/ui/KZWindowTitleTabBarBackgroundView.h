#pragma once
// The 40-point title area of the tabbed windows and of the side window.

#include "app/ui/KZBackgroundView.h"

class KZWindowTitleTabBarBackgroundView : public KZBackgroundView {
public:
    using KZBackgroundView::KZBackgroundView;
    std::string className() const override { return "KZWindowTitleTabBarBackgroundView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};
