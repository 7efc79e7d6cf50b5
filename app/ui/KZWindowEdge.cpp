#include "app/ui/KZWindowEdge.h"

#include "frameworks/JWAppThemeHelper.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Application.h"
#include "kit/ui/View.h"

void KZApplyWindowEdge(kit::View& surface) {
    const bool edged = !kit::Application::shared().drawsWindowShadows();
    const kit::Color color = JWAppThemeHelper::divideLineColor();
    surface.updateLayer([edged, color](kit::LayerStyle& layer) {
        layer.borderWidth = edged ? 1 : 0;
        layer.borderColor = color;
    });
}

void KZKeepWindowEdge(const std::shared_ptr<kit::View>& surface, const std::shared_ptr<const void>& owner) {
    KZApplyWindowEdge(*surface);
    std::weak_ptr<kit::View> weak = surface;
    for (const char* name : {kit::kApplicationDidChangeWindowShadowsNotification,
                             kit::kApplicationDidChangeEffectiveAppearanceNotification}) {
        kit::NotificationCenter::defaultCenter().addObserver(owner, name, nullptr, [weak](const kit::Notification&) {
            if (auto view = weak.lock()) KZApplyWindowEdge(*view);
        });
    }
}
