#include "kit/ui/Panels.h"

#include <deque>

#include "kit/base/RunLoop.h"
#include "kit/ui/Application.h"
#include "kit/ui/Backend.h"

namespace kit {

namespace {

struct WaitingPanel {
    std::shared_ptr<SavePanel> panel;
    std::function<void(ModalResponse)> completion;
};

struct PanelTurns {
    // A panel is up, or the next one is about to show.
    bool busy = false;
    std::deque<WaitingPanel> waiting;
};

PanelTurns& turns() {
    static PanelTurns state;
    return state;
}

}  // namespace

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
    auto self = weak_from_this().lock();
    if (!self) {
        const ModalResponse response = finish(ask());
        if (completion) completion(response);
        return;
    }
    auto& state = turns();
    if (state.busy || Application::shared().isTerminationRequestPending()) {
        state.waiting.push_back({std::move(self), std::move(completion)});
        if (Application::shared().isTerminationRequestPending()) cancelWaitingPanels();
        return;
    }
    present(std::move(self), std::move(completion));
}

void SavePanel::present(std::shared_ptr<SavePanel> panel, std::function<void(ModalResponse)> completion) {
    turns().busy = true;
    const PanelAnswer answer = panel->ask();
    // The panel answers on a later turn, as a panel the user works with would, and stays alive
    // until then; the next one shows after that answer.
    RunLoop::main().post([panel = std::move(panel), answer, completion = std::move(completion)] {
        const ModalResponse response = panel->finish(answer);
        if (completion) completion(response);
        turns().busy = false;
        presentNextLater();
    });
}

void SavePanel::presentNextLater() {
    auto& state = turns();
    if (state.busy || state.waiting.empty()) return;
    state.busy = true;
    RunLoop::main().post([] {
        auto& state = turns();
        state.busy = false;
        if (state.waiting.empty()) return;
        WaitingPanel next = std::move(state.waiting.front());
        state.waiting.pop_front();
        present(std::move(next.panel), std::move(next.completion));
    });
}

void SavePanel::resetTurns() {
    turns().busy = false;
    turns().waiting.clear();
}

std::size_t SavePanel::waitingPanelCount() { return turns().waiting.size(); }

void SavePanel::cancelWaitingPanels() {
    auto waiting = std::move(turns().waiting);
    turns().waiting.clear();
    for (auto& entry : waiting) {
        RunLoop::main().post([entry = std::move(entry)] {
            const ModalResponse response = entry.panel->finish(PanelAnswer{});
            if (entry.completion) entry.completion(response);
        });
    }
}

void SavePanel::beginSheetModal(const std::shared_ptr<Window>& window, std::function<void(ModalResponse)> completion) {
    sheetWindow_ = window;
    begin(std::move(completion));
}

}  // namespace kit
