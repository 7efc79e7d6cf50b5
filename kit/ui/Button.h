#pragma once
// A plain push or toggle button: a title and/or an image, tracked like the platform's: the
// mouse-down highlights it, dragging out and in follows, the mouse-up inside sends the action.

#include <string>

#include "kit/base/Color.h"
#include "kit/ui/Control.h"
#include "kit/ui/Font.h"
#include "kit/ui/Image.h"

namespace kit {

enum class ButtonType { MomentaryPushIn, Toggle, Switch };

class Button : public Control {
public:
    explicit Button(Rect frame = {});
    void init() override;
    std::string className() const override { return "Button"; }

    static std::shared_ptr<Button> withTitle(std::string title, Action action = {});
    static std::shared_ptr<Button> withImage(Image image, Action action = {});

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    const Image& image() const { return image_; }
    void setImage(Image image);
    Font font() const { return font_; }
    void setFont(Font font);
    Color titleColor() const { return titleColor_; }
    void setTitleColor(Color color);
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered);
    ButtonType buttonType() const { return type_; }
    void setButtonType(ButtonType type) { type_ = type; }
    // 0 off, 1 on (toggle and switch buttons).
    int state() const { return state_; }
    void setState(int state);

    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;
    std::string accessibilityLabel() const override;
    bool accessibilityPerformPress() override;

    // A closing, miniaturising or zooming title-bar button draws as a coloured circle.
    void setTitleBarButtonColor(std::optional<Color> color) { circleColor_ = color; }
    bool acceptsFirstMouse(const Event*) override { return circleColor_.has_value(); }

private:
    bool trackingInside(const Event& event) const;

    std::string title_;
    Image image_;
    Font font_ = Font::systemFont(13);
    Color titleColor_ = Color::black();
    bool bordered_ = true;
    ButtonType type_ = ButtonType::MomentaryPushIn;
    int state_ = 0;
    bool tracking_ = false;
    std::optional<Color> circleColor_;
};

}  // namespace kit
