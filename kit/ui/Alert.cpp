#include "kit/ui/Alert.h"

#include "kit/ui/Backend.h"

namespace kit {

namespace {
Alert::Presenter& presenterSlot() {
    static Alert::Presenter presenter;
    return presenter;
}
}  // namespace

long Alert::runModal() const {
    // Copied: the presenter may install another one while it runs.
    auto presenter = presenterSlot();
    return presenter ? presenter(*this) : UiBackend::current().runAlert(*this);
}

void Alert::setPresenter(Presenter presenter) { presenterSlot() = std::move(presenter); }

}  // namespace kit
