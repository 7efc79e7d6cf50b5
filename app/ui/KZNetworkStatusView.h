#pragma once
// The full-size view laid over a page whose load failed: a picture, one line of text and, in
// style 1, a button (the page's refresh). The style is fixed when the view is made; picture,
// text and button title are set afterwards, and a click on the button runs `clickEvent`. Clicks
// on the view's empty area stop here and never reach the page beneath.
//
//   auto view = KZNetworkStatusView::initWithStyle(KZNetworkStatusViewStyleImageTextButton);
//   view->setImageName("tips_no_net_placeholder");
//   view->setDescText(text);
//   view->setClickEvent([weak](KZNetworkStatusView&) { ... });

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kit/ui/View.h"

namespace kit {
class StackView;
class ImageView;
class Label;
}  // namespace kit
class KZCustomViewButton;

enum KZNetworkStatusViewStyle : std::uint64_t {
    KZNetworkStatusViewStyleImageText = 0,
    KZNetworkStatusViewStyleImageTextButton = 1,
};

class KZNetworkStatusView : public kit::View {
public:
    using ClickEvent = std::function<void(KZNetworkStatusView& view)>;

    explicit KZNetworkStatusView(std::uint64_t style, kit::Rect frame = {});
    // Builds the parts for the style: setupSubviews, setupStyle, setupLayout.
    void init() override;
    std::string className() const override { return "KZNetworkStatusView"; }

    static std::shared_ptr<KZNetworkStatusView> initWithStyle(std::uint64_t style);

    std::uint64_t style() const { return style_; }

    const std::shared_ptr<kit::StackView>& stackView();
    const std::shared_ptr<kit::ImageView>& imageView();
    const std::shared_ptr<kit::Label>& descTF();
    // The button exists only in style 1.
    const std::shared_ptr<KZCustomViewButton>& button();
    bool hasButton() const { return button_ != nullptr; }

    const std::string& imageName() const { return imageName_; }
    // Shows the application image of that name; an unknown or empty name shows none.
    void setImageName(std::string imageName);
    const std::string& descText() const { return descText_; }
    void setDescText(std::string descText);
    const std::string& buttonTitle() const { return buttonTitle_; }
    // Stored in every style; shown only by the button of style 1.
    void setButtonTitle(std::string buttonTitle);
    const ClickEvent& clickEvent() const { return clickEvent_; }
    void setClickEvent(ClickEvent clickEvent) { clickEvent_ = std::move(clickEvent); }

    // Sizes of the parts.
    static constexpr kit::Size kImageSizeStyle0{188, 140};
    static constexpr kit::Size kImageSizeStyle1{250, 188};
    static constexpr kit::Size kButtonSize{92, 36};
    static constexpr double kSpacingAfterImage = 10;
    static constexpr double kSpacingAfterText = 51;

    // Swallowed: the page beneath must not get clicks through the error view.
    void mouseDown(const kit::Event& event) override;

protected:
    virtual void setupSubviews();
    virtual void setupStyle();
    virtual void setupLayout();

private:
    void clickBtnAction(KZCustomViewButton& sender);

    std::uint64_t style_;
    std::shared_ptr<kit::StackView> stackView_;
    std::shared_ptr<kit::ImageView> imageView_;
    std::shared_ptr<kit::Label> descTF_;
    std::shared_ptr<KZCustomViewButton> button_;
    std::string imageName_;
    std::string descText_;
    std::string buttonTitle_;
    ClickEvent clickEvent_;
};
