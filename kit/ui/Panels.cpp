#include "kit/ui/Panels.h"

#include "kit/base/RunLoop.h"
#include "kit/ui/Backend.h"

namespace kit {

PanelAnswer SavePanel::ask() { return UiBackend::current().runSavePanel(*this); }

PanelAnswer OpenPanel::ask() { return UiBackend::current().runOpenPanel(*this); }

ModalResponse SavePanel::finish(const PanelAnswer& answer) {
    running_ = false;
    urls_ = answer.response == ModalResponses::OK ? answer.urls : std::vector<std::filesystem::path>{};
    if (!isOpenPanel() && urls_.size() > 1) urls_.resize(1);
    if (isOpenPanel() && !static_cast<const OpenPanel*>(this)->allowsMultipleSelection && urls_.size() > 1) urls_.resize(1);
    // An OK without a file is no choice at all.
    if (answer.response == ModalResponses::OK && urls_.empty()) return ModalResponses::Cancel;
    return answer.response;
}

ModalResponse SavePanel::runModal() {
    running_ = true;
    return finish(ask());
}

void SavePanel::begin(std::function<void(ModalResponse)> completion) {
    running_ = true;
    PanelAnswer answer = ask();
    auto self = weak_from_this().lock();
    if (!self) {
        const ModalResponse response = finish(answer);
        if (completion) completion(response);
        return;
    }
    // The panel answers on a later turn, as a panel the user works with would, and stays alive
    // until then.
    RunLoop::main().post([self, answer, completion = std::move(completion)] {
        const ModalResponse response = self->finish(answer);
        if (completion) completion(response);
    });
}

void SavePanel::beginSheetModal(const std::shared_ptr<Window>& window, std::function<void(ModalResponse)> completion) {
    sheetWindow_ = window;
    begin(std::move(completion));
}

}  // namespace kit
