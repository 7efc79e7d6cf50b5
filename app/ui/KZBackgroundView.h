#pragma once
// Background views: their layer is filled with a fixed colour per appearance. Their colour hook
// does not run the colour block, so a block set on them runs once, when it is set.

#include "app/ui/KZView.h"

class KZBackgroundView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZBackgroundView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};

// The background of the settings and login-state popovers.
class KZWindowLoginBackgroundView : public KZBackgroundView {
public:
    using KZBackgroundView::KZBackgroundView;
    std::string className() const override { return "KZWindowLoginBackgroundView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};
