#pragma once
// Alerts and file panels as GTK dialogs, run modally on a nested main loop (the application's
// timers and posted tasks keep running), placed over the key window.

#include "kit/ui/Alert.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Image.h"
#include "kit/ui/Panels.h"

typedef struct _GdkPixbuf GdkPixbuf;  // NOLINT(bugprone-reserved-identifier): GDK's own tag, declared ahead

namespace kit::desktop {

long runAlert(const Alert& alert);
// Open panels when the panel is one, else save panels.
PanelAnswer runFileChooser(const SavePanel& panel);

// A new pixbuf of the image's pixels (nullptr for a null image).
GdkPixbuf* pixbufFromImage(const Image& image);

}  // namespace kit::desktop
