#pragma once
// Theme colours of the host family's interface: two palettes (light and dark) indexed by colour
// number, and the application's appearance setting that picks between them.

#include "kit/base/Color.h"
#include "kit/ui/Appearance.h"

class JWAppThemeHelper {
public:
    // Posted on the local default centre when isDarkMode() changes.
    static constexpr const char* kAppearanceDidChangeNotification = "JWAppThemeAppearanceDidChange";

    static void setApplicationAppearance(kit::AppearancePreference appearance);
    static kit::AppearancePreference applicationAppearance();
    // The desktop's own theme, reported by the backend.
    static void setSystemDarkMode(bool dark);
    static bool systemDarkMode();

    static bool isDarkMode();
    static kit::Color getColor(int index);
    static kit::Color getColor(int index, bool lightModeOnly);
    static kit::Color getAiTitleColor();
    static kit::Color getAiTipTextColor();
    // The colour divider lines are painted in.
    static kit::Color divideLineColor();

    // Colour indices the application uses; any other index answers the text colour (11).
    static bool isKnownColorIndex(int index);

    static void resetForTesting();
};
