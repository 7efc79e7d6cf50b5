#include "frameworks/MachineModel.h"

#include <cstdlib>
#include <cstring>

namespace {
std::optional<bool>& forcedValue() {
    static std::optional<bool> value;
    return value;
}
}  // namespace

bool MachineModel::isLiquidScreen() {
    if (forcedValue()) return *forcedValue();
    const char* env = std::getenv("QUARN_LIQUID_SCREEN");
    return env && std::strcmp(env, "1") == 0;
}

void MachineModel::setLiquidScreen(std::optional<bool> forced) { forcedValue() = forced; }
