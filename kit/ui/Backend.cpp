#include "kit/ui/Backend.h"

#include "kit/ui/Alert.h"
#include "kit/ui/Panels.h"
#include "kit/ui/StatusItem.h"

namespace kit {

namespace {
class NullWindowPeer final : public WindowPeer {
public:
    void windowDidChange(WindowChange) override {}
    void windowNeedsDisplay() override {}
};

std::shared_ptr<UiBackend>& slot() {
    static std::shared_ptr<UiBackend> backend = std::make_shared<UiBackend>();
    return backend;
}
}  // namespace

UiBackend& UiBackend::current() { return *slot(); }

void UiBackend::install(std::shared_ptr<UiBackend> backend) {
    slot() = backend ? std::move(backend) : std::make_shared<UiBackend>();
}

void UiBackend::uninstall() { slot() = std::make_shared<UiBackend>(); }

std::unique_ptr<WindowPeer> UiBackend::makeWindowPeer(Window&) { return std::make_unique<NullWindowPeer>(); }

PanelAnswer UiBackend::runOpenPanel(const OpenPanel&) { return {}; }
PanelAnswer UiBackend::runSavePanel(const SavePanel&) { return {}; }

std::unique_ptr<StatusItemPeer> UiBackend::makeStatusItemPeer(StatusItem&) { return nullptr; }

long UiBackend::runAlert(const Alert&) { return kAlertFirstButtonReturn; }

}  // namespace kit
