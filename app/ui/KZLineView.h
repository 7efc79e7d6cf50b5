#pragma once
// Divider lines.

#include "app/ui/KZView.h"

// In the theme's divider colour; the colour block runs first, then the divider colour is applied.
class KZLineView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZLineView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};

// The side window's title-bar divider, with its own colours (no colour block).
class KZTabWindowLineView : public KZLineView {
public:
    using KZLineView::KZLineView;
    std::string className() const override { return "KZTabWindowLineView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};
