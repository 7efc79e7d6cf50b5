#include "app/capture/KZScreenshotManager.h"

#include "app/windows/KZSideMainWindowController.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/sys/ScreenCapture.h"

namespace {
std::shared_ptr<KZScreenshotManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::shared_ptr<KZScreenshotManager>;
    return *manager;
}
}  // namespace

KZScreenshotManager& KZScreenshotManager::shared() {
    auto& s = slot();
    if (!s) s = std::make_shared<KZScreenshotManager>();
    return *s;
}

void KZScreenshotManager::resetShared() { slot().reset(); }

void KZScreenshotManager::startScreenshotWithCompleteHandler(const CompleteHandler& handler) {
    if (selecting_) {
        kit::logLine("[SD] screenshot already selecting");
        if (handler) handler(nullptr, KZScreenshotResultCodeSelecting);
        return;
    }
    auto& capture = kit::ScreenCapture::shared();
    if (!capture.hasPermission()) {
        kit::logLine("[SD] screenshot without screen recording permission");
        if (handler) handler(nullptr, KZScreenshotResultCodeNoPermission);
        capture.requestPermission();
        auto& manager = KZWindowControllerManager::manager();
        if (auto side = manager.sideMainWindowController()) {
            std::weak_ptr<KZSideMainWindowController> weakSide = side;
            side->showWithCompletionHandler([weakSide] {
                auto s = weakSide.lock();
                if (!s) return;
                KZWindowControllerManager::manager().showScreenshotPermissionWindowOnWindow(s->window());
            });
        }
        return;
    }
    selecting_ = true;
    capture.setSelectionHint(KZLocalizedString("拖动鼠标选择区域，按回车键截取，按Esc键取消。"));
    std::weak_ptr<KZScreenshotManager> weak = weak_from_this();
    capture.selectRegion([weak, handler](std::optional<std::vector<std::uint8_t>> png) {
        auto self = weak.lock();
        if (!self) return;
        self->selecting_ = false;
        std::shared_ptr<kit::Image> image;
        if (png) {
            auto decoded = kit::Image::fromData(*png);
            if (decoded) {
                image = std::make_shared<kit::Image>(std::move(*decoded));
            } else {
                kit::logf("[SD] screenshot image unreadable: %s", decoded.error().c_str());
            }
        }
        if (handler) handler(image, KZScreenshotResultCodeFinished);
    });
}
