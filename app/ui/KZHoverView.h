#pragma once
// A background that repaints itself from colour blocks as the mouse enters, leaves, presses and
// releases it: pressed colour, else hovered colour, else default colour, else clear. The blocks
// get the theme's dark flag each time the view paints. Hover changes are told to an optional
// block with the event.

#include <functional>
#include <memory>
#include <string>

#include "app/ui/KZView.h"
#include "kit/base/Color.h"

class KZHoverView : public KZView {
public:
    using ColorProvider = std::function<kit::Color(bool dark)>;
    using HoverChangeBlock = std::function<void(KZHoverView& view, const kit::Event& event)>;

    using KZView::KZView;
    std::string className() const override { return "KZHoverView"; }

    bool isHovered() const { return hovered_; }
    void setIsHovered(bool hovered);
    bool isPressed() const { return pressed_; }
    void setIsPressed(bool pressed);

    const ColorProvider& getDefaultColor() const { return defaultColor_; }
    void setGetDefaultColor(ColorProvider provider);
    const ColorProvider& getHoverColor() const { return hoverColor_; }
    void setGetHoverColor(ColorProvider provider);
    const ColorProvider& getPressColor() const { return pressColor_; }
    void setGetPressColor(ColorProvider provider);
    const HoverChangeBlock& hoverChangeStatusBlock() const { return hoverChangeBlock_; }
    void setHoverChangeStatusBlock(HoverChangeBlock block) { hoverChangeBlock_ = std::move(block); }

    // The colour the state calls for now; nullopt when no block applies (clear).
    std::optional<kit::Color> currentStateColor() const;

    void updateTrackingAreas() override;
    void layout() override;
    void mouseDown(const kit::Event& event) override;
    void mouseUp(const kit::Event& event) override;
    void mouseEntered(const kit::Event& event) override;
    void mouseExited(const kit::Event& event) override;
    void draw(kit::GraphicsContext& context, const kit::Rect& dirtyRect) override;
    void viewDidChangeEffectiveAppearance() override;

private:
    // Puts the state's colour on the layer. Also done when painting; doing it on every change
    // as well means the layer already holds the right colour when the window is next drawn.
    void applyStateColor();

    bool hovered_ = false;
    bool pressed_ = false;
    ColorProvider defaultColor_;
    ColorProvider hoverColor_;
    ColorProvider pressColor_;
    HoverChangeBlock hoverChangeBlock_;
};
