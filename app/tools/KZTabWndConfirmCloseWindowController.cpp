#include "app/tools/KZTabWndConfirmCloseWindowController.h"

#include <cmath>
#include <utility>

#include "app/ui/KZCustomViewButton.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Text.h"
#include "kit/ui/Window.h"

namespace {

// Holds the dialog's key focus: Return answers as "确认关闭", Escape as "取消".
class KZConfirmCloseKeyView : public kit::View {
public:
    using Handler = std::function<void(bool confirmed)>;
    explicit KZConfirmCloseKeyView(Handler handler) : handler_(std::move(handler)) {}
    bool acceptsFirstResponder() const override { return true; }
    void keyDown(const kit::Event& event) override {
        if (event.keyCode == kit::kVK_Return || event.keyCode == kit::kVK_ANSI_KeypadEnter) {
            handler_(true);
        } else if (event.keyCode == kit::kVK_Escape) {
            handler_(false);
        } else {
            kit::View::keyDown(event);
        }
    }

private:
    Handler handler_;
};

}  // namespace

// ---- Message --------------------------------------------------------------------------------------

KZTabWndConfirmCloseTextView::KZTabWndConfirmCloseTextView(kit::Rect frame) : kit::Label(frame) {}

void KZTabWndConfirmCloseTextView::init() {
    kit::Label::init();
    size_ = {kWidth, 17};
}

void KZTabWndConfirmCloseTextView::setString(std::string text) {
    setStringValue(std::move(text));
    calculateTextSize();
}

void KZTabWndConfirmCloseTextView::calculateTextSize() {
    const kit::Size measured = calculateTextSize(stringValue(), font(), kWidth);
    const kit::Size size{kWidth, measured.height + 12};
    const bool changed = size != size_;
    size_ = size;
    invalidateIntrinsicContentSize();
    if (changed && sizeDidChange_) {
        auto block = sizeDidChange_;
        block();
    }
}

kit::Size KZTabWndConfirmCloseTextView::calculateTextSize(const std::string& text, const kit::Font& font, double width) {
    kit::TextLayoutOptions options;
    options.width = width;
    options.maximumNumberOfLines = kMaximumLines;
    options.lineBreakMode = kit::LineBreakMode::WordWrapping;
    const kit::TextMetrics metrics = kit::measureText(text, font, options);
    return {std::ceil(metrics.size.width), std::ceil(metrics.size.height)};
}

// ---- Dialog ---------------------------------------------------------------------------------------

const std::shared_ptr<KZTabWndConfirmCloseTextView>& KZTabWndConfirmCloseWindowController::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = kit::create<KZTabWndConfirmCloseTextView>();
        titleLabel_->setEditable(false);
        titleLabel_->setFont(kit::Font::systemFont(14));
        titleLabel_->setAlignment(kit::TextAlignment::Left);
        titleLabel_->setTextColor(kit::Color::black());
        titleLabel_->setDrawsBackground(false);
        titleLabel_->setMaximumNumberOfLines(KZTabWndConfirmCloseTextView::kMaximumLines);
        titleLabel_->setLineBreakMode(kit::LineBreakMode::TruncatingMiddle);
        titleLabel_->calculateTextSize();
    }
    return titleLabel_;
}

const std::shared_ptr<kit::ImageView>& KZTabWndConfirmCloseWindowController::imageView() {
    if (!imageView_) {
        imageView_ = kit::create<kit::ImageView>();
        imageView_->setImage(kit::Image::named("kz_window_confirm_close_icon"));
        imageView_->setWantsLayer(true);
        imageView_->setCornerRadius(10);
        imageView_->setMasksToBounds(true);
        imageView_->setImageScaling(kit::ImageScaling::ProportionallyUpOrDown);
    }
    return imageView_;
}

const std::shared_ptr<KZCustomViewButton>& KZTabWndConfirmCloseWindowController::okButton() {
    if (!okButton_) {
        okButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
        okButton_->setButtonTitle(KZLocalizedString("确认关闭"));
        okButton_->setTitleFont(kit::Font::systemFont(12));
        std::weak_ptr<kit::WindowController> weak = weak_from_this();
        okButton_->setActionBlock([weak](KZCustomViewButton&) {
            if (auto self = std::static_pointer_cast<KZTabWndConfirmCloseWindowController>(weak.lock())) self->onClickOKButton();
        });
    }
    return okButton_;
}

const std::shared_ptr<KZCustomViewButton>& KZTabWndConfirmCloseWindowController::cancelButton() {
    if (!cancelButton_) {
        cancelButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleSecondary);
        cancelButton_->setButtonTitle(KZLocalizedString("取消"));
        cancelButton_->setTitleAlignment(kit::TextAlignment::Center);
        cancelButton_->setTitleFont(kit::Font::systemFont(12));
        cancelButton_->setSetupSubviewsColorBlock([](KZView& view, bool) {
            auto& button = static_cast<KZCustomViewButton&>(view);
            button.setDefaultTitleColor(JWAppThemeHelper::getColor(11, true));
            button.setDefaultBorderColor(JWAppThemeHelper::getColor(15, true));
        });
        std::weak_ptr<kit::WindowController> weak = weak_from_this();
        cancelButton_->setActionBlock([weak](KZCustomViewButton&) {
            if (auto self = std::static_pointer_cast<KZTabWndConfirmCloseWindowController>(weak.lock()))
                self->onClickCancelButton();
        });
    }
    return cancelButton_;
}

std::shared_ptr<KZTabWndConfirmCloseWindowController> KZTabWndConfirmCloseWindowController::makeSheet(
    std::string message) {
    auto dialog = kit::create<KZTabWndConfirmCloseWindowController>(false, kSize);
    dialog->window()->center();
    if (!message.empty()) dialog->titleLabel()->setString(std::move(message));
    return dialog;
}

void KZTabWndConfirmCloseWindowController::init() {
    KZBaseWindowController::init();
    window()->setDelegate(std::static_pointer_cast<kit::WindowDelegate>(
        std::static_pointer_cast<KZTabWndConfirmCloseWindowController>(shared_from_this())));
}

bool KZTabWndConfirmCloseWindowController::windowShouldClose(kit::Window&) {
    onClickCancelButton();
    return false;
}

void KZTabWndConfirmCloseWindowController::customInit() {
    auto w = window();
    if (auto zoom = w->standardWindowButton(kit::WindowButton::Zoom)) zoom->setHidden(true);
    w->setMinSize(w->frame().size);
    w->setMaxSize(w->frame().size);
}

void KZTabWndConfirmCloseWindowController::setupViews() {
    auto content = window()->contentView();
    textContent_ = kit::create<kit::View>();
    content->addSubview(imageView());
    content->addSubview(textContent_);
    textContent_->addSubview(titleLabel());
    content->addSubview(okButton());
    content->addSubview(cancelButton());
    std::weak_ptr<kit::WindowController> weak = weak_from_this();
    auto keys = kit::create<KZConfirmCloseKeyView>([weak](bool confirmed) {
        if (auto self = std::static_pointer_cast<KZTabWndConfirmCloseWindowController>(weak.lock())) {
            if (confirmed) {
                self->onClickOKButton();
            } else {
                self->onClickCancelButton();
            }
        }
    });
    content->addSubview(keys, kit::View::Ordering::Below, nullptr);
    window()->makeFirstResponder(keys);
    titleLabel()->setSizeDidChange([weak] {
        if (auto self = std::static_pointer_cast<KZTabWndConfirmCloseWindowController>(weak.lock())) self->layoutDialog();
    });
    layoutDialog();
}

void KZTabWndConfirmCloseWindowController::layoutDialog() {
    auto content = window() ? window()->contentView() : nullptr;
    if (!content || !textContent_) return;
    // Points from the top-left corner, turned into the content view's bottom-up frames.
    const double height = content->bounds().height();
    const double width = content->bounds().width();
    auto fromTop = [height](double x, double top, double w, double h) { return kit::Rect{x, height - top - h, w, h}; };
    imageView()->setFrame(fromTop(20, 40, 40, 40));
    const kit::Size message = titleLabel()->size();
    const double centreFromTop = 40 + 20 + 6;
    textContent_->setFrame(fromTop(20 + 40 + 10, std::round(centreFromTop - message.height / 2), message.width, message.height));
    titleLabel()->setFrame({{0, 0}, message});
    okButton()->setFrame({width - 20 - 72, 20, 72, 24});
    cancelButton()->setFrame({width - 20 - 72 - 10 - 72, 20, 72, 24});
}

void KZTabWndConfirmCloseWindowController::answer(bool confirmed) {
    // The handler may release this controller's owner: keep the dialog until the click is over.
    auto self = shared_from_this();
    if (onClickHandler_) {
        auto handler = onClickHandler_;
        handler(confirmed);
    }
    if (auto w = window()) w->close();
}

void KZTabWndConfirmCloseWindowController::onClickOKButton() { answer(true); }

void KZTabWndConfirmCloseWindowController::onClickCancelButton() { answer(false); }
