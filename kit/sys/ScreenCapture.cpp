#include "kit/sys/ScreenCapture.h"

#include <mutex>

#include "kit/base/RunLoop.h"

namespace kit {

namespace {

class DefaultScreenCapture final : public ScreenCapture {
public:
    bool hasPermission() override { return true; }
    bool requestPermission() override { return true; }
    void selectRegion(Completion completion) override {
        RunLoop::main().post([completion = std::move(completion)] {
            if (completion) completion(std::nullopt);
        });
    }
    void cancelSelection() override {}
    bool isSelecting() const override { return false; }
};

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<ScreenCapture>& installed() {
    // Never destroyed: used until the very end of the process.
    static auto* capture = new std::shared_ptr<ScreenCapture>;
    return *capture;
}

}  // namespace

ScreenCapture& ScreenCapture::shared() {
    std::lock_guard lock(sharedMutex());
    auto& capture = installed();
    if (!capture) capture = makeDefaultScreenCapture();
    return *capture;
}

void ScreenCapture::setShared(std::shared_ptr<ScreenCapture> capture) {
    std::lock_guard lock(sharedMutex());
    installed() = std::move(capture);
}

std::shared_ptr<ScreenCapture> ScreenCapture::installedShared() {
    std::lock_guard lock(sharedMutex());
    return installed();
}

std::shared_ptr<ScreenCapture> makeDefaultScreenCapture() { return std::make_shared<DefaultScreenCapture>(); }

}  // namespace kit
