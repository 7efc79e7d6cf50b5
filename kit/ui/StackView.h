#pragma once
// A stack view: arranged subviews in a row or column with spacing (and custom spacing after
// given views), edge insets and cross-axis alignment. Each arranged view takes its width or height
// constraint, else its intrinsic size, else its current size; when the stack is larger or smaller
// than that, the arranged view with the lowest hugging (or compression-resistance) priority below
// the default takes up the difference. Hidden views take no room.

#include <memory>
#include <vector>

#include "kit/ui/EdgeInsets.h"
#include "kit/ui/View.h"

namespace kit {

enum class StackOrientation { Horizontal = 0, Vertical = 1 };

// Cross-axis placement of the arranged views.
enum class StackAlignment { Leading, Center, Trailing, Fill };

enum class StackDistribution { GravityAreas = -1, Fill = 0, FillEqually = 1, EqualSpacing = 3 };

class StackView : public View {
public:
    explicit StackView(Rect frame = {});
    std::string className() const override { return "StackView"; }

    static std::shared_ptr<StackView> withViews(const std::vector<std::shared_ptr<View>>& views,
                                                StackOrientation orientation = StackOrientation::Horizontal);

    StackOrientation orientation() const { return orientation_; }
    void setOrientation(StackOrientation orientation);
    double spacing() const { return spacing_; }
    void setSpacing(double spacing);
    StackAlignment alignment() const { return alignment_; }
    void setAlignment(StackAlignment alignment);
    StackDistribution distribution() const { return distribution_; }
    void setDistribution(StackDistribution distribution);
    EdgeInsets edgeInsets() const { return insets_; }
    void setEdgeInsets(EdgeInsets insets);
    bool detachesHiddenViews() const { return detachesHidden_; }
    void setDetachesHiddenViews(bool detaches);

    const std::vector<std::shared_ptr<View>>& arrangedSubviews() const { return arranged_; }
    void addArrangedSubview(const std::shared_ptr<View>& view);
    void insertArrangedSubview(const std::shared_ptr<View>& view, std::size_t index);
    // Removes it from the arrangement (it stays a subview, as on the platform).
    void removeArrangedSubview(const std::shared_ptr<View>& view);
    void setCustomSpacing(double spacing, const std::shared_ptr<View>& afterView);
    double customSpacingAfterView(const std::shared_ptr<View>& view) const;

    Size intrinsicContentSize() const override;
    void layout() override;
    void willRemoveSubview(View& subview) override;

    // Natural size of one arranged view.
    static Size naturalSize(const View& view);

private:
    struct Custom {
        std::weak_ptr<View> view;
        double spacing;
    };
    std::vector<const View*> visibleArranged() const;
    double spacingAfter(const View& view) const;

    std::vector<std::shared_ptr<View>> arranged_;
    std::vector<Custom> custom_;
    StackOrientation orientation_ = StackOrientation::Horizontal;
    double spacing_ = 8;
    StackAlignment alignment_ = StackAlignment::Center;
    StackDistribution distribution_ = StackDistribution::GravityAreas;
    EdgeInsets insets_;
    bool detachesHidden_ = true;
};

}  // namespace kit
