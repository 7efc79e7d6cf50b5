#pragma once
// Two small text bubbles that size themselves to their text (at most 300 points wide, one line
// for language type 1, else up to two). The permission tip says the text-selection function is
// not working; the login tip, derived from it, shows the user's name or a prompt to log in once
// its owner sets the label (until then it holds the permission text).
//
// Made with kit::create<KZAIPermissionDisableTipView>() (or the login tip's class); they draw
// nothing themselves: the bubble, the arrow and the text follow the appearance on their own.

#include <memory>
#include <string>

#include "app/ui/KZThemedTextField.h"
#include "app/ui/KZView.h"

class KZImageView;

class KZAIPermissionDisableTipView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZAIPermissionDisableTipView"; }

    virtual double textFieldMaxWidth() const { return 300; }
    virtual bool hasArrow() const { return false; }
    virtual double arrowOffsetLeft() const { return 20; }
    virtual std::string textString() const;
    double __arrowHalfHeight() const { return hasArrow() ? 13 : 0; }

    // The label's size (at most textFieldMaxWidth wide) with 12 points left and right, 10 above
    // and below, and the arrow's half height all round.
    kit::Size intrinsicContentSize() const override;

    void setupSubviews() override;
    void setupSubviewsLayout() override;
    // The tip paints nothing; its parts follow the appearance by their own blocks.
    void setupSubviewsColorWithDark(bool) override {}

    const std::shared_ptr<KZImageView>& arrowImageView();
    const std::shared_ptr<KZView>& contentView();
    const std::shared_ptr<KZView>& bgView();
    const std::shared_ptr<KZThemedTextField>& titleLabel();

private:
    std::shared_ptr<KZImageView> arrowImageView_;
    std::shared_ptr<KZView> contentView_;
    std::shared_ptr<KZView> bgView_;
    std::shared_ptr<KZThemedTextField> titleLabel_;
};

class KZAIUserLoginInfoTipView : public KZAIPermissionDisableTipView {
public:
    using KZAIPermissionDisableTipView::KZAIPermissionDisableTipView;
    std::string className() const override { return "KZAIUserLoginInfoTipView"; }
    double textFieldMaxWidth() const override { return 300; }
    bool hasArrow() const override { return false; }
};
