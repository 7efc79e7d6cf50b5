#include "kit/headless/ScriptedScreenCapture.h"

#include "kit/base/RunLoop.h"

namespace kit {

class ScriptedScreenCapture::Implementation final : public ScreenCapture {
public:
    bool hasPermission() override { return granted; }
    bool requestPermission() override {
        ++requests;
        if (requestGrants) granted = true;
        return granted;
    }
    void selectRegion(Completion completion) override {
        if (pending) {
            RunLoop::main().post([completion = std::move(completion)] {
                if (completion) completion(std::nullopt);
            });
            return;
        }
        ++started;
        pending = std::move(completion);
        if (!pending) pending = [](const std::optional<std::vector<std::uint8_t>>&) {};
    }
    void cancelSelection() override { end(std::nullopt); }
    bool isSelecting() const override { return static_cast<bool>(pending); }

    bool end(std::optional<std::vector<std::uint8_t>> png) {
        if (!pending) return false;
        auto completion = std::move(pending);
        pending = nullptr;
        RunLoop::main().post([completion = std::move(completion), png = std::move(png)]() mutable {
            completion(std::move(png));
        });
        return true;
    }

    bool granted = true;
    bool requestGrants = false;
    int requests = 0;
    int started = 0;
    Completion pending;
};

ScriptedScreenCapture::ScriptedScreenCapture()
    : implementation_(std::make_shared<Implementation>()), previous_(ScreenCapture::installedShared()) {
    ScreenCapture::setShared(implementation_);
}

ScriptedScreenCapture::~ScriptedScreenCapture() { ScreenCapture::setShared(previous_); }

ScreenCapture& ScriptedScreenCapture::capture() { return *implementation_; }

void ScriptedScreenCapture::setPermissionGranted(bool granted) { implementation_->granted = granted; }
void ScriptedScreenCapture::setRequestGrants(bool grants) { implementation_->requestGrants = grants; }
int ScriptedScreenCapture::permissionRequests() const { return implementation_->requests; }
bool ScriptedScreenCapture::isSelecting() const { return implementation_->isSelecting(); }
int ScriptedScreenCapture::selectionsStarted() const { return implementation_->started; }

bool ScriptedScreenCapture::finishSelection(const Image& image) {
    auto png = image.encode(ImageFormat::Png);
    return implementation_->end(png ? std::optional(std::move(*png)) : std::nullopt);
}

bool ScriptedScreenCapture::cancelSelection() { return implementation_->end(std::nullopt); }

}  // namespace kit
