#pragma once
// The top bar of a floating panel: the logo and the panel's title. The panels give it no height,
// so it lays out its parts in whatever room it gets and shows nothing today.
//
// Made with kit::create<KZPanelTopView>(frame, title) (initWithFrame:title:).

#include <memory>
#include <optional>
#include <string>

#include "kit/ui/View.h"

namespace kit {
class ImageView;
class Label;
}

class KZPanelTopView : public kit::View {
public:
    static constexpr double kLogoSize = 18;
    static constexpr double kLogoInset = 16;
    static constexpr double kTitleGap = 2;

    KZPanelTopView(kit::Rect frame, std::optional<std::string> title);
    void init() override;
    std::string className() const override { return "KZPanelTopView"; }

    // Made on first use.
    const std::shared_ptr<kit::ImageView>& iconImageView();
    const std::shared_ptr<kit::Label>& titleTF();

    void setupSubviews();
    void setupLayout();

private:
    std::optional<std::string> title_;
    std::shared_ptr<kit::ImageView> iconImageView_;
    std::shared_ptr<kit::Label> titleTF_;
};
