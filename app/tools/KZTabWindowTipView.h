#pragma once
// The small white box with an icon and one line of text that a tabbed window floats over its
// content for a few seconds (at present when the user tries to open more tabs than it allows).
// It takes its size from its text: the text's width plus 62, its height plus 22. Its owner adds
// the shadow and places it. Made with kit::create<KZTabWindowTipView>(). Main thread only.

#include <memory>
#include <string>

#include "app/ui/KZView.h"
#include "kit/ui/Label.h"

namespace kit {
class ImageView;
}

class KZTabWindowTipView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZTabWindowTipView"; }

    const std::string& tipValue() const { return tipValue_; }
    void setTipValue(std::string value);

    const std::shared_ptr<kit::ImageView>& imageView();
    const std::shared_ptr<kit::Label>& titleLabel();
    const std::shared_ptr<KZView>& backgroundView();

    void setupSubviews() override;
    void setupSubviewsLayout() override;
    void layout() override;
    kit::Size intrinsicContentSize() const override;

private:
    std::string tipValue_;
    std::shared_ptr<kit::ImageView> imageView_;
    std::shared_ptr<kit::Label> titleLabel_;
    std::shared_ptr<KZView> backgroundView_;
};
