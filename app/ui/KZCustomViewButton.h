#pragma once
// The application's standard button, built of views: a hover view filling the button holds the
// title, an image view lies above it. A style (KZCustomViewButtonStyle) sets the colours per
// state, the border and the corners; the caller then gives a title and/or an image and a size.
// A press that is released inside the enabled button sends the action with the button.
//
// Ownership: the button owns its three subviews; the target is held weakly. A button whose
// action closes its window or removes the button stays alive until the event is over.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ui/KZView.h"
#include "kit/base/Color.h"
#include "kit/ui/EdgeInsets.h"
#include "kit/ui/Font.h"
#include "kit/ui/Image.h"

class KZHoverView;
class KZAcceptsFirstMouseImageView;
class KZAcceptsFirstMouseTextField;

enum KZCustomViewButtonStyle : std::uint64_t {
    KZCustomViewButtonStyleNone = 0,
    KZCustomViewButtonStylePrimary = 1,
    KZCustomViewButtonStyleSecondary = 2,
    KZCustomViewButtonStyleText = 3,
    KZCustomViewButtonStyleIcon = 4,
    KZCustomViewButtonStyleIconText = 5,
    KZCustomViewButtonStyleAvatar = 6,
    KZCustomViewButtonStyleIconWhite = 7,
};

class KZCustomViewButton : public KZView {
public:
    using Action = std::function<void(KZCustomViewButton& sender)>;
    using OptionalColor = std::optional<kit::Color>;

    explicit KZCustomViewButton(kit::Rect frame = {});
    void init() override;
    std::string className() const override { return "KZCustomViewButton"; }

    static std::shared_ptr<KZCustomViewButton> buttonWithStyle(std::uint64_t style);

    std::uint64_t buttonStyle() const { return buttonStyle_; }
    // Applies a style's setup once; the same style again does nothing, and values a style does
    // not set keep what the button had.
    void setButtonStyle(std::uint64_t style);
    void setButtonTitle(std::string title);
    // A named image of the application's resources.
    void setButtonImageName(std::string_view name);
    void setButtonImageName(std::string_view name, kit::EdgeInsets contentInset);
    void setButtonImage(kit::Image image);
    void setButtonImage(kit::Image image, kit::EdgeInsets contentInset);
    // A named image with a dark variant (imageNamedForAppearance): the variant of the current
    // appearance, picked again on every appearance change while the button still shows it.
    void setButtonThemedImageName(std::string_view name, kit::EdgeInsets contentInset = {});

    // The action as a member of a target held weakly.
    template <class T>
    void addTarget(const std::shared_ptr<T>& target, void (T::*action)(KZCustomViewButton&)) {
        std::weak_ptr<T> weak = target;
        action_ = [weak, action](KZCustomViewButton& sender) {
            if (auto strong = weak.lock()) ((*strong).*action)(sender);
        };
    }
    // The action as a block (which holds what it needs weakly).
    void setActionBlock(Action action) { action_ = std::move(action); }
    bool hasAction() const { return static_cast<bool>(action_); }

    // Applied at once. A colour set here replaces the theme colour a style put there.
    void setDefaultBorderColor(OptionalColor color);
    void setBorderCornerRadius(float radius);
    void setBorderWidth(float width);
    void setDefaultTitleColor(OptionalColor color);
    // The title's colour at rest is the theme's colour `index` (JWAppThemeHelper::getColor), as
    // the styles' are: fetched again on every appearance change, so an open menu never keeps
    // the text colour of the appearance it was made in.
    void setDefaultTitleThemeColor(int index) { setThemeColors({index, std::nullopt, std::nullopt}); }
    void setTitleAlignment(kit::TextAlignment alignment);
    void setTitleFont(kit::Font font);
    // Stored; they take effect at the next state change.
    void setHoverTitleColor(OptionalColor color);
    void setDownTitleColor(OptionalColor color) { downTitleColor_ = color; }
    void setHoverBorderColor(OptionalColor color);
    void setDownBorderColor(OptionalColor color) { downBorderColor_ = color; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

    OptionalColor defaultBorderColor() const { return defaultBorderColor_; }
    OptionalColor hoverBorderColor() const { return hoverBorderColor_; }
    OptionalColor downBorderColor() const { return downBorderColor_; }
    OptionalColor defaultTitleColor() const { return defaultTitleColor_; }
    OptionalColor hoverTitleColor() const { return hoverTitleColor_; }
    OptionalColor downTitleColor() const { return downTitleColor_; }
    float borderCornerRadius() const { return borderCornerRadius_; }
    float borderWidth() const { return borderWidth_; }
    const std::optional<kit::Font>& titleFont() const { return titleFont_; }
    std::optional<kit::TextAlignment> titleAlignment() const { return titleAlignment_; }
    bool isEnabled() const { return enabled_; }
    bool hover() const { return hover_; }
    bool down() const { return down_; }

    // The stored title; setTitle alone does not change the label (setButtonTitle does).
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    kit::EdgeInsets contentInset() const { return contentInset_; }

    const std::shared_ptr<KZHoverView>& hoverView();
    const std::shared_ptr<KZAcceptsFirstMouseImageView>& imageView();
    const std::shared_ptr<KZAcceptsFirstMouseTextField>& titleLabel();

    // One accessibility element, a button named by its title.
    std::string accessibilityLabel() const override;
    std::vector<std::shared_ptr<kit::View>> accessibilityChildren() const override { return {}; }
    bool accessibilityPerformPress() override;

    // Presses on the image or the title are the hover view's, so it shows its pressed colour
    // wherever the button is pressed and passes the event on to the button.
    std::shared_ptr<kit::View> hitTest(kit::Point point) override;
    void layout() override;
    void updateTrackingAreas() override;
    void mouseEntered(const kit::Event& event) override;
    void mouseExited(const kit::Event& event) override;
    void mouseDown(const kit::Event& event) override;
    void mouseUp(const kit::Event& event) override;
    bool mouseDownCanMoveWindow() const override { return false; }
    // Theme colours a style set are fetched again for the new appearance.
    void viewDidChangeEffectiveAppearance() override;

private:
    // The colours a style takes from the theme, by index, so that they follow the appearance.
    struct ThemeIndices {
        std::optional<int> defaultTitle;
        std::optional<int> hoverTitle;
        std::optional<int> hoverBorder;
    };
    void setThemeColors(ThemeIndices indices);

    void _setupButtonStylePrimary();
    void _setupButtonStyleSecondary();
    void _setupButtonStyleText();
    void _setupButtonStyleIcon();
    void _setupButtonStyleIconText();
    void _setupButtonStyleAvatar();
    void _setupButtonStyleIconWhite();
    void _setupSubviews();  // NOLINT(bugprone-virtual-near-miss): the button's own step, no override
    void _layoutSubviews();
    void _layoutImageView();
    void _layoutTitleLabel();
    void _updateViews();
    void _updateBorderColor();
    void _updateTitleColor();
    bool _mouseInView() const;
    void sendAction();

    bool hover_ = false;
    bool down_ = false;
    std::shared_ptr<kit::TrackingArea> trackingArea_;
    bool enabled_ = true;
    float borderCornerRadius_ = 0;
    float borderWidth_ = 0;
    std::uint64_t buttonStyle_ = KZCustomViewButtonStyleNone;
    std::shared_ptr<KZHoverView> hoverView_;
    std::shared_ptr<KZAcceptsFirstMouseImageView> imageView_;
    std::shared_ptr<KZAcceptsFirstMouseTextField> titleLabel_;
    std::optional<kit::Font> titleFont_;
    std::optional<kit::TextAlignment> titleAlignment_;
    OptionalColor defaultTitleColor_;
    OptionalColor downTitleColor_;
    OptionalColor hoverTitleColor_;
    OptionalColor defaultBorderColor_;
    OptionalColor downBorderColor_;
    OptionalColor hoverBorderColor_;
    std::string title_;
    Action action_;
    kit::EdgeInsets contentInset_;
    ThemeIndices themeIndices_;
};
