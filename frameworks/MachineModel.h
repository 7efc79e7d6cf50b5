#pragma once
// Facts about the machine's hardware. A notch in the display is never detected on the desktop;
// the answer can be forced by QUARN_LIQUID_SCREEN=1 in the environment or by setLiquidScreen, so
// that the notch path can be exercised.

#include <optional>

class MachineModel {
public:
    static bool isLiquidScreen();
    static void setLiquidScreen(std::optional<bool> forced);
};
