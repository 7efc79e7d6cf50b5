#pragma once
// The host family's switch control: a rounded track with a knob that slides to the right when
// the switch is on. A click (press and release inside) or an accessibility press toggles it and
// sends the action.

#include <string>

#include "kit/ui/Control.h"

class COSwitch : public kit::Control {
public:
    explicit COSwitch(kit::Rect frame = {});
    void init() override;
    std::string className() const override { return "COSwitch"; }

    bool isOn() const { return on_; }
    // Changes the state without sending the action.
    void setOn(bool on);

    kit::Size intrinsicContentSize() const override { return {38, 22}; }
    void draw(kit::GraphicsContext& context, const kit::Rect& dirtyRect) override;
    void mouseDown(const kit::Event& event) override;
    void mouseDragged(const kit::Event& event) override;
    void mouseUp(const kit::Event& event) override;
    bool accessibilityPerformPress() override;
    void viewDidChangeEffectiveAppearance() override { setNeedsDisplay(); }

private:
    bool pointInside(const kit::Event& event) const;
    // Toggles and sends the action; false when disabled.
    bool toggleFromUser();

    bool on_ = false;
    bool tracking_ = false;
};
