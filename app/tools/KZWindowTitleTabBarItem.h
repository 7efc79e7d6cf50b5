#pragma once
// The view of one tab in a tool window's title strip: its base colour, the selected face, a hover
// highlight, the icon, a title that fades out at its right end, a divider and a close button. It
// shows one KZWindowTitleTabBarItemModel and turns a click on the tab into the model's didSelect
// and a click on the close button into the model's didRemove.
//
// Also here: the colour views of the title area (the title background of KZUI lives in app/ui).
// Made with kit::create<KZWindowTitleTabBarItem>(). The item holds its model strongly; the model
// points back weakly. Main thread only.

#include <memory>
#include <string>

#include "app/ui/KZView.h"
#include "kit/ui/Label.h"

class KZHoverView;
class KZWindowTitleTabBarItemModel;
namespace kit {
class ImageView;
}

// Base of every tab: the title area's colour, so unselected tabs blend into it.
class KZWindowTitleTabBgView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZWindowTitleTabBgView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};

// Face of the selected tab.
class KZWindowTitleTabSelectView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZWindowTitleTabSelectView"; }
    void setupSubviewsColorWithDark(bool dark) override;
};

// The tab's title: one clipped line whose last 15 % fades to nothing through a gradient mask.
class KZWindowTitleTabTextField : public kit::Label {
public:
    using kit::Label::Label;
    void init() override;
    std::string className() const override { return "KZWindowTitleTabTextField"; }
};

// The close button of a tab: an image over a hover highlight, one accessibility element. It acts
// on a mouse-up inside it only, and does not pass the mouse-up on.
class KZWindowTitleTabButton : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZWindowTitleTabButton"; }

    const std::shared_ptr<kit::ImageView>& imageView();
    const std::shared_ptr<KZHoverView>& hoverView();
    bool isSelected() const { return select_; }
    void setSelect(bool select) { select_ = select; }

    void setupSubviews() override;
    void setupSubviewsLayout() override;
    void setupSubviewsColorWithDark(bool dark) override;
    void layout() override;
    // The button takes every click inside it, whatever part of it lies under the pointer.
    std::shared_ptr<kit::View> hitTest(kit::Point point) override;
    void mouseUp(const kit::Event& event) override;
    bool accessibilityPerformPress() override;
    std::string accessibilityRole() const override { return "button"; }

private:
    std::shared_ptr<kit::ImageView> imageView_;
    std::shared_ptr<KZHoverView> hoverView_;
    bool select_ = false;
};

class KZWindowTitleTabBarItem : public kit::View {
public:
    static constexpr double kStackInset = 12;
    static constexpr double kStackSpacing = 5;
    static constexpr double kIconSize = 20;
    static constexpr double kCloseSize = 20;

    explicit KZWindowTitleTabBarItem(kit::Rect frame = {});
    void init() override;
    std::string className() const override { return "KZWindowTitleTabBarItem"; }

    const std::shared_ptr<KZWindowTitleTabBarItemModel>& model() const { return model_; }
    void setModel(std::shared_ptr<KZWindowTitleTabBarItemModel> model);
    // Shows the model's icon, title and selection.
    void refresh();
    void setIsHovered(bool hovered);
    void onClickRemoveButton(KZView& sender);

    const std::shared_ptr<KZWindowTitleTabBgView>& bgView();
    const std::shared_ptr<KZWindowTitleTabSelectView>& selectView();
    const std::shared_ptr<KZView>& actionView();
    const std::shared_ptr<KZHoverView>& hoverView();
    const std::shared_ptr<kit::View>& lineView();
    const std::shared_ptr<kit::View>& stackView();
    const std::shared_ptr<kit::ImageView>& iconView();
    const std::shared_ptr<KZWindowTitleTabTextField>& titleLabel();
    const std::shared_ptr<KZWindowTitleTabButton>& closeButton();

    void layout() override;
    // Clicks on the icon or the title reach the tab's cover; the close button keeps its own.
    std::shared_ptr<kit::View> hitTest(kit::Point point) override;
    void viewDidChangeEffectiveAppearance() override;

private:
    void setupViews();

    std::shared_ptr<KZWindowTitleTabBarItemModel> model_;
    std::shared_ptr<KZWindowTitleTabBgView> bgView_;
    std::shared_ptr<KZWindowTitleTabSelectView> selectView_;
    std::shared_ptr<KZView> actionView_;
    std::shared_ptr<KZHoverView> hoverView_;
    std::shared_ptr<kit::View> lineView_;
    std::shared_ptr<kit::View> stackView_;
    std::shared_ptr<kit::ImageView> iconView_;
    std::shared_ptr<KZWindowTitleTabTextField> titleLabel_;
    std::shared_ptr<KZWindowTitleTabButton> closeButton_;
};
