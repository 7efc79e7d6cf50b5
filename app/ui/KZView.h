#pragma once
// The application's base view: layer-backed, built by four hooks called in a fixed order when it
// is made (setupConfig, setupSubviews, setupSubviewsLayout, setupSubviewsColorWithDark), and
// re-coloured through setupSubviewsColorWithDark whenever the appearance turns light or dark.
// It takes the first click on an inactive window. Made with kit::create<KZView>(frame).

#include <functional>
#include <memory>
#include <string>

#include "kit/ui/View.h"

class KZView : public kit::View {
public:
    using MouseUpBlock = std::function<void(KZView& view)>;
    using ColorBlock = std::function<void(KZView& view, bool dark)>;

    explicit KZView(kit::Rect frame = {});
    // initWithFrame: the hooks in order, the colour hook with the current theme.
    void init() override;
    std::string className() const override { return "KZView"; }

    void viewDidChangeEffectiveAppearance() override;

    // Hooks; overrides of setupConfig call the base (it makes the view layer-backed).
    virtual void setupConfig();
    virtual void setupSubviews() {}
    virtual void setupSubviewsLayout() {}
    // Runs the colour block when set.
    virtual void setupSubviewsColorWithDark(bool dark);

    void mouseDown(const kit::Event& event) override;
    // Passes the event on, logs, then runs the mouse-up block (wherever the pointer is).
    void mouseUp(const kit::Event& event) override;
    bool acceptsFirstMouse(const kit::Event* event) override;

    const MouseUpBlock& mouseUpBlock() const { return mouseUpBlock_; }
    void setMouseUpBlock(MouseUpBlock block) { mouseUpBlock_ = std::move(block); }
    const ColorBlock& setupSubviewsColorBlock() const { return colorBlock_; }
    // Stores the block and runs it at once with the current theme (a null block only clears).
    void setSetupSubviewsColorBlock(ColorBlock block);

    // The theme's dark flag, as every hook receives it.
    static bool isDarkMode();

protected:
    // Runs the mouse-up block, keeping the view alive until the current event is over even
    // when the block closes its window or removes the view.
    void runMouseUpBlock();

private:
    MouseUpBlock mouseUpBlock_;
    ColorBlock colorBlock_;
};
