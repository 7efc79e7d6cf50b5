#pragma once
// Keeps the platform layer's appearance in step with the theme helper: when the theme turns
// light or dark (the user's setting or the desktop's), every view of every window is told
// (viewDidChangeEffectiveAppearance), and the KZView colour hooks run with the new flag. The
// desktop's appearance, as the backend reports it, is handed to the helper at start and on
// every change. The application starts it once at launch; tests start it in their fixture.

class KZAppearanceFollower {
public:
    // Applies the theme's appearance at once and follows its changes from now on.
    static void start();
    static void stop();
    static bool isRunning();
    // Sets the application's appearance from the theme's flag (start() and every change do).
    static void sync();
};
