#pragma once
// The confirm-close dialog of the tool windows: a fixed 412 x 140 window with an icon, a message
// of up to four lines and the buttons "取消" (cancel) and "确认关闭" (confirm close). The image,
// document and writing windows show it as a sheet and act on the answer; each click runs the
// handler first (its users end the sheet there) and then closes the dialog's window.
//
// Made with kit::create<KZTabWndConfirmCloseWindowController>(false, kit::Size{412, 140}), or
// centred, as the tool windows make it, with makeSheet().
// Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "app/windows/KZBaseWindowController.h"
#include "kit/ui/Label.h"
#include "kit/ui/Window.h"

class KZCustomViewButton;
namespace kit {
class ImageView;
class View;
}  // namespace kit

// The message: always 312 points wide, as high as its text (at most four lines) plus 12.
class KZTabWndConfirmCloseTextView : public kit::Label {
public:
    static constexpr double kWidth = 312;
    static constexpr int kMaximumLines = 4;

    explicit KZTabWndConfirmCloseTextView(kit::Rect frame = {});
    void init() override;
    std::string className() const override { return "KZTabWndConfirmCloseTextView"; }

    kit::Size size() const { return size_; }
    void setString(std::string text);
    void calculateTextSize();
    kit::Size intrinsicContentSize() const override { return size_; }
    double intrinsicHeightForWidth(double) const override { return size_.height; }
    // The text laid out in the font at the width, at most four lines, rounded up to whole points.
    static kit::Size calculateTextSize(const std::string& text, const kit::Font& font, double width);
    // Told when the measured size changes (the dialog places its views anew).
    void setSizeDidChange(std::function<void()> block) { sizeDidChange_ = std::move(block); }

private:
    kit::Size size_{kWidth, 17};
    std::function<void()> sizeDidChange_;
};

class KZTabWndConfirmCloseWindowController : public KZBaseWindowController, public kit::WindowDelegate {
public:
    using ClickHandler = std::function<void(bool confirmed)>;
    static constexpr kit::Size kSize{412, 140};

    using KZBaseWindowController::KZBaseWindowController;

    // The dialog as a tool window first makes it: centred, with `message` when one is given.
    static std::shared_ptr<KZTabWndConfirmCloseWindowController> makeSheet(std::string message = {});

    const ClickHandler& onClickHandler() const { return onClickHandler_; }
    void setOnClickHandler(ClickHandler handler) { onClickHandler_ = std::move(handler); }

    const std::shared_ptr<KZTabWndConfirmCloseTextView>& titleLabel();
    const std::shared_ptr<kit::ImageView>& imageView();
    const std::shared_ptr<KZCustomViewButton>& okButton();
    const std::shared_ptr<KZCustomViewButton>& cancelButton();
    const std::shared_ptr<kit::View>& textContent() const { return textContent_; }

    void init() override;
    void customInit() override;
    // The window's own close button answers as "取消" does: a dialog never ends unanswered.
    bool windowShouldClose(kit::Window& window) override;
    void setupViews() override;
    kit::Size windowButtonOffsetSize() override { return {0, 0}; }

    void onClickOKButton();
    void onClickCancelButton();
    // Places the views for the message's current height.
    void layoutDialog();

private:
    void answer(bool confirmed);

    ClickHandler onClickHandler_;
    std::shared_ptr<KZTabWndConfirmCloseTextView> titleLabel_;
    std::shared_ptr<kit::ImageView> imageView_;
    std::shared_ptr<KZCustomViewButton> okButton_;
    std::shared_ptr<KZCustomViewButton> cancelButton_;
    std::shared_ptr<kit::View> textContent_;
};
