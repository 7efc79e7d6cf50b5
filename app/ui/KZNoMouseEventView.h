#pragma once
// A view that swallows clicks: mouse-down and mouse-up reach neither its superview nor the views
// behind it, and its mouse-up block never runs.

#include "app/ui/KZView.h"

class KZNoMouseEventView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZNoMouseEventView"; }
    void mouseDown(const kit::Event&) override {}
    void mouseUp(const kit::Event&) override {}
};
