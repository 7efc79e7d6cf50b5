#pragma once
// Open and save panels as models. The backend runs them (the headless one answers the results a
// test scripted); runModal() waits for the answer, begin() and beginSheetModal() deliver it to the
// completion on a later turn of the run loop (at once for a panel not owned by a shared pointer).
// Begun panels show one at a time, application-wide: a panel begun while another is up waits,
// in order, and shows on a later turn once the ones before it have answered. A termination
// request answers the waiting ones Cancel.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/ui/Window.h"

namespace kit {

class SavePanel : public std::enable_shared_from_this<SavePanel> {
public:
    virtual ~SavePanel() = default;
    static std::shared_ptr<SavePanel> make() { return std::make_shared<SavePanel>(); }

    std::string title;
    std::string message;
    std::string prompt;
    std::string nameFieldStringValue;
    std::filesystem::path directoryURL;
    // Extensions without the dot; empty: any.
    std::vector<std::string> allowedFileTypes;
    bool canCreateDirectories = true;
    bool showsHiddenFiles = false;

    ModalResponse runModal();
    void begin(std::function<void(ModalResponse)> completion);
    void beginSheetModal(const std::shared_ptr<Window>& window, std::function<void(ModalResponse)> completion);

    // The chosen file (after OK).
    std::filesystem::path url() const { return urls_.empty() ? std::filesystem::path{} : urls_.front(); }
    const std::vector<std::filesystem::path>& urls() const { return urls_; }
    // From begin() until the answer (also while waiting for its turn).
    bool isRunning() const { return running_; }
    // Panels begun and not yet shown.
    static std::size_t waitingPanelCount();
    // Each waiting panel answers Cancel, on a later turn.
    static void cancelWaitingPanels();
    // The window a sheet was begun on (while it lives); null for other panels.
    std::shared_ptr<Window> sheetWindow() const { return sheetWindow_.lock(); }
    virtual bool isOpenPanel() const { return false; }

protected:
    ModalResponse finish(const struct PanelAnswer& answer);
    virtual struct PanelAnswer ask();
    friend class Application;
    // Forgets waiting panels and the panel up (a fresh application state).
    static void resetTurns();
    static void present(std::shared_ptr<SavePanel> panel, std::function<void(ModalResponse)> completion);
    static void presentNextLater();
    std::vector<std::filesystem::path> urls_;
    bool running_ = false;
    std::weak_ptr<Window> sheetWindow_;
};

class OpenPanel : public SavePanel {
public:
    static std::shared_ptr<OpenPanel> make() { return std::make_shared<OpenPanel>(); }

    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
    bool resolvesAliases = true;

    bool isOpenPanel() const override { return true; }

protected:
    struct PanelAnswer ask() override;
};

}  // namespace kit
