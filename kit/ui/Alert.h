#pragma once
// A modal alert as a model object: icon, message, informative text and buttons. runModal hands
// it to the installed presenter, else to the backend (UiBackend::runAlert), and answers the
// button chosen; the default backend answers the first button at once (nothing can be shown).

#include <functional>
#include <string>
#include <vector>

#include "kit/ui/Window.h"

namespace kit {

inline constexpr ModalResponse kAlertFirstButtonReturn = 1000;
inline constexpr ModalResponse kAlertSecondButtonReturn = 1001;
inline constexpr ModalResponse kAlertThirdButtonReturn = 1002;
inline constexpr ModalResponse kModalResponseAbort = ModalResponses::Abort;

class Alert {
public:
    using Presenter = std::function<long(const Alert&)>;

    std::string iconName;  // a named image of the application
    std::string messageText;
    std::string informativeText;

    void addButtonWithTitle(std::string title) { buttons_.push_back(std::move(title)); }
    const std::vector<std::string>& buttons() const { return buttons_; }

    long runModal() const;

    static void setPresenter(Presenter presenter);

private:
    std::vector<std::string> buttons_;
};

}  // namespace kit
