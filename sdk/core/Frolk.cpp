#include "sdk/core/Frolk.h"

namespace {

struct SdkState {
    bool started = false;
    std::string appId;
    int starts = 0;
};

SdkState& state() {
    static SdkState s;
    return s;
}

}  // namespace

void Frolk::startWithAppId(const kit::Value& appId) {
    auto& s = state();
    if (s.started) return;
    const std::string* text = appId.asString();
    if (!text || text->size() < 2) return;
    s.started = true;
    s.appId = *text;
    ++s.starts;
}

bool Frolk::isStarted() { return state().started; }

const std::string& Frolk::appId() { return state().appId; }

int Frolk::startCount() { return state().starts; }

void Frolk::resetForTesting() { state() = SdkState{}; }
