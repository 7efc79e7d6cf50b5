#pragma once
// What covers a page while its request is under way: a white view with a spinner and the text
// "loading, please wait" side by side in the middle.

#include <memory>
#include <string>

#include "kit/ui/View.h"

namespace kit {
class Label;
}
class HXLoadingView;

class KZWebLoadingView : public kit::View {
public:
    using kit::View::View;
    void init() override;
    std::string className() const override { return "KZWebLoadingView"; }

    const std::shared_ptr<kit::Label>& loadingLabel();
    const std::shared_ptr<HXLoadingView>& loadingView();

    void startAnimation();
    void stopAnimation();

    static constexpr double kSpinnerSize = 16;
    static constexpr double kSpinnerGap = 5;

private:
    std::shared_ptr<kit::Label> loadingLabel_;
    std::shared_ptr<HXLoadingView> loadingView_;
};
