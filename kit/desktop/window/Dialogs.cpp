#include "kit/desktop/window/Dialogs.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "kit/base/Ascii.h"
#include "kit/base/GRef.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/window/GtkWindowPeer.h"
#include "kit/ui/Application.h"
#include "kit/ui/ImageData.h"

namespace kit::desktop {

namespace {

GtkWindow* dialogParent(std::shared_ptr<Window> window = nullptr) {
    auto& app = Application::shared();
    if (window && window->isVisible()) {
        auto* peer = GtkWindowPeer::forWindow(*window);
        if (peer && gtk_widget_get_mapped(peer->gtkWindow())) return GTK_WINDOW(peer->gtkWindow());
    }
    window = app.keyWindow();
    if (!window) window = app.mainWindow();
    if (!window) return nullptr;
    auto* peer = GtkWindowPeer::forWindow(*window);
    return peer && gtk_widget_get_mapped(peer->gtkWindow()) ? GTK_WINDOW(peer->gtkWindow()) : nullptr;
}

// "*.[pP][nN][gG]": GTK's patterns are case-sensitive, file names on the desktop are not.
std::string caseless(const std::string& extension) {
    std::string pattern = "*.";
    for (unsigned char c : extension) {
        if (std::isalpha(c)) {
            pattern += '[';
            pattern += static_cast<char>(std::tolower(c));
            pattern += static_cast<char>(std::toupper(c));
            pattern += ']';
        } else if (c == '*' || c == '?' || c == '[' || c == ']') {
            pattern += '[';
            pattern += static_cast<char>(c);
            pattern += ']';
        } else {
            pattern += static_cast<char>(c);
        }
    }
    return pattern;
}

std::string defaultSaveFolder() {
    const char* home = g_get_home_dir();
    const std::filesystem::path homeFolder = std::getenv("HOME") ? std::getenv("HOME") : (home ? home : "/");
    std::error_code error;
    for (const std::filesystem::path& candidate : {homeFolder / "Downloads", homeFolder}) {
        if (std::filesystem::is_directory(candidate, error)) return candidate.string();
    }
    return "/";
}

// Where a dialog goes: over the middle of `over`, whole inside `area` (a monitor's work area).
struct Placement {
    GdkRectangle over{};
    GdkRectangle area{};
    int lastX = G_MININT;
    int lastY = G_MININT;
};

void place(GtkWindow* dialog, Placement& placement) {
    const GdkRectangle& area = placement.area;
    int width = 0;
    int height = 0;
    gtk_window_get_size(dialog, &width, &height);
    if (width > area.width || height > area.height) {
        // Larger than the screen's free part (a file chooser sizes itself when it maps).
        width = std::min(width, area.width);
        height = std::min(height, area.height);
        gtk_window_resize(dialog, width, height);
    }
    const GdkRectangle& over = placement.over;
    const int x = std::clamp(over.x + (over.width - width) / 2, area.x, area.x + area.width - width);
    const int y = std::clamp(over.y + (over.height - height) / 2, area.y, area.y + area.height - height);
    if (x == placement.lastX && y == placement.lastY) return;
    placement.lastX = x;
    placement.lastY = y;
    gtk_window_move(dialog, x, y);
}

// Places a dialog over the middle of its parent (at the pointer without one), whole inside that
// monitor's work area (the screen less panels and docks), and keeps it there until it has shown
// at its size.
void placeInsideWorkArea(GtkWindow* dialog) {
    GtkWindow* parent = gtk_window_get_transient_for(dialog);
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(dialog));
    auto placement = std::make_unique<Placement>();
    GdkMonitor* monitor = nullptr;
    if (parent && gtk_widget_get_realized(GTK_WIDGET(parent))) {
        GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(parent));
        gdk_window_get_frame_extents(window, &placement->over);
        monitor = gdk_display_get_monitor_at_window(display, window);
    }
    if (!monitor) {
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        int x = 0;
        int y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        monitor = gdk_display_get_monitor_at_point(display, x, y);
        if (!monitor) return;
        placement->over = {x, y, 0, 0};
    }
    gdk_monitor_get_workarea(monitor, &placement->area);
    if (placement->area.width <= 0 || placement->area.height <= 0) return;
    // Once per dialog (a file chooser runs again after a declined question).
    if (g_object_get_data(G_OBJECT(dialog), "kit-placed")) return;
    g_object_set_data(G_OBJECT(dialog), "kit-placed", GINT_TO_POINTER(1));
    gtk_window_set_position(dialog, GTK_WIN_POS_NONE);
    g_signal_connect_data(
        dialog, "size-allocate", G_CALLBACK(+[](GtkWidget* widget, GdkRectangle*, gpointer data) {
            place(GTK_WINDOW(widget), *static_cast<Placement*>(data));
            // Shown at its size: from now on the user moves and sizes it.
            if (gtk_widget_get_mapped(widget)) g_signal_handlers_disconnect_by_data(widget, data);
        }),
        placement.release(), +[](gpointer data, GClosure*) { delete static_cast<Placement*>(data); }, G_CONNECT_AFTER);
}

// A dialog comes up in front, over the window it belongs to, which comes in front of the
// application's other windows with it. It counts as the user's own doing (it answers what they
// did, if a moment ago): window managers that keep other new windows from taking the focus
// (openbox) would put it under the window in front.
void bringToFront(GtkWindow* dialog) {
    gtk_widget_realize(GTK_WIDGET(dialog));
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(dialog));
    if (!window || !GDK_IS_X11_WINDOW(window)) return;
    gdk_x11_window_set_user_time(window, gdk_x11_get_server_time(window));
    GtkWindow* parent = gtk_window_get_transient_for(dialog);
    if (parent && gtk_widget_get_mapped(GTK_WIDGET(parent)))
        gdk_window_raise(gtk_widget_get_window(GTK_WIDGET(parent)));
}

// Runs a dialog modally until it answers, or until a termination request ends it (then the
// dialog answers `endedResponse`, as a close by the user would). Dialogs it left transient
// for it (a question of its own) end first.
gint runDialog(GtkDialog* dialog, gint endedResponse) {
    ModalDialogScope scope([dialog, endedResponse] {
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* it = toplevels; it; it = it->next) {
            auto* window = static_cast<GtkWindow*>(it->data);
            if (GTK_IS_DIALOG(window) && window != GTK_WINDOW(dialog) &&
                gtk_window_get_transient_for(window) == GTK_WINDOW(dialog)) {
                gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_DELETE_EVENT);
            }
        }
        g_list_free(toplevels);
        gtk_dialog_response(dialog, endedResponse);
    });
    if (scope.ended()) return endedResponse;
    placeInsideWorkArea(GTK_WINDOW(dialog));
    bringToFront(GTK_WINDOW(dialog));
    const gint response = gtk_dialog_run(dialog);
    return scope.ended() ? endedResponse : response;
}

}  // namespace

GdkPixbuf* pixbufFromImage(const Image& image) {
    if (!image) return nullptr;
    cairo_surface_t* surface = image.data()->surface;
    cairo_surface_flush(surface);
    return gdk_pixbuf_get_from_surface(surface, 0, 0, image.pixelWidth(), image.pixelHeight());
}

long runAlert(const Alert& alert) {
    GtkWidget* dialog = gtk_message_dialog_new(dialogParent(), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
                                               alert.messageText.c_str());
    if (!alert.informativeText.empty()) {
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.informativeText.c_str());
    }
    // The platform's alerts show no title; the window manager still names the window.
    if (const char* name = g_get_application_name()) gtk_window_set_title(GTK_WINDOW(dialog), name);
    if (!alert.iconName.empty()) {
        if (auto icon = GRef<GdkPixbuf>::adopt(pixbufFromImage(Image::named(alert.iconName))))
            gtk_window_set_icon(GTK_WINDOW(dialog), icon.get());
    }
    std::vector<std::string> titles = alert.buttons();
    if (titles.empty()) titles.push_back("OK");
    // The platform puts the first button at the right edge, the others to its left.
    for (std::size_t i = titles.size(); i-- > 0;) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), titles[i].c_str(), static_cast<gint>(kAlertFirstButtonReturn + i));
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), static_cast<gint>(kAlertFirstButtonReturn));
    const gint response = runDialog(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
    gtk_widget_destroy(dialog);
    if (response >= kAlertFirstButtonReturn && response < kAlertFirstButtonReturn + static_cast<long>(titles.size())) {
        return response;
    }
    // Closed with Escape or by the window manager: the "Cancel" button's answer, as the
    // platform's Escape key gives; without one, the last button (the least committal).
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (asciiEqualsIgnoringCase(titles[i], "cancel")) return kAlertFirstButtonReturn + static_cast<long>(i);
    }
    return kAlertFirstButtonReturn + static_cast<long>(titles.size()) - 1;
}

PanelAnswer runFileChooser(const SavePanel& panel) {
    const bool open = panel.isOpenPanel();
    const auto* openPanel = open ? static_cast<const OpenPanel*>(&panel) : nullptr;
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_SAVE;
    if (openPanel) {
        action = openPanel->canChooseDirectories && !openPanel->canChooseFiles ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                                              : GTK_FILE_CHOOSER_ACTION_OPEN;
    }
    const std::string title = !panel.title.empty() ? panel.title : (open ? "Open" : "Save");
    const std::string accept = !panel.prompt.empty() ? panel.prompt : (open ? "_Open" : "_Save");
    // A sheet belongs to its window; other panels to the key or main window.
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.c_str(), dialogParent(panel.sheetWindow()), action, "_Cancel", GTK_RESPONSE_CANCEL,
                                                    accept.c_str(), GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_show_hidden(chooser, panel.showsHiddenFiles);
    gtk_file_chooser_set_create_folders(chooser, panel.canCreateDirectories);
    gtk_file_chooser_set_select_multiple(chooser, openPanel && openPanel->allowsMultipleSelection);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (!panel.directoryURL.empty()) {
        gtk_file_chooser_set_current_folder(chooser, panel.directoryURL.c_str());
    } else if (!open) {
        // Not the process's working folder: the user's downloads, else the home folder.
        gtk_file_chooser_set_current_folder(chooser, defaultSaveFolder().c_str());
    }
    if (!open && !panel.nameFieldStringValue.empty()) {
        gtk_file_chooser_set_current_name(chooser, panel.nameFieldStringValue.c_str());
    }
    if (!panel.message.empty()) {
        GtkWidget* label = gtk_label_new(panel.message.c_str());
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_file_chooser_set_extra_widget(chooser, label);
    }
    if (!panel.allowedFileTypes.empty() && action != GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER) {
        GtkFileFilter* filter = gtk_file_filter_new();
        std::string name;
        for (const auto& type : panel.allowedFileTypes) {
            gtk_file_filter_add_pattern(filter, caseless(type).c_str());
            name += (name.empty() ? "" : ", ") + type;
        }
        gtk_file_filter_set_name(filter, name.c_str());
        gtk_file_chooser_add_filter(chooser, filter);
    }

    PanelAnswer answer;
    while (runDialog(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL) == GTK_RESPONSE_ACCEPT) {
        answer.urls.clear();
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* it = names; it; it = it->next) {
            answer.urls.emplace_back(static_cast<const char*>(it->data));
            g_free(it->data);
        }
        g_slist_free(names);
        bool confirmed = true;
        if (!open && !panel.allowedFileTypes.empty()) {
            // A saved file gets an allowed extension, as the platform's save panel adds one. The
            // panel confirmed overwriting the name as typed; a different existing file is asked for.
            for (auto& path : answer.urls) {
                std::string extension = asciiLowercase(path.extension().string());
                if (!extension.empty()) extension.erase(0, 1);
                const bool allowed =
                    std::any_of(panel.allowedFileTypes.begin(), panel.allowedFileTypes.end(),
                                [&](const std::string& type) { return asciiEqualsIgnoringCase(type, extension); });
                if (allowed) continue;
                path += "." + panel.allowedFileTypes.front();
                std::error_code error;
                if (std::filesystem::exists(path, error)) {
                    GtkWidget* ask = gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                                            GTK_BUTTONS_NONE, "A file named \"%s\" already exists. Do you want to replace it?",
                                                            path.filename().c_str());
                    gtk_dialog_add_buttons(GTK_DIALOG(ask), "_Cancel", GTK_RESPONSE_CANCEL, "_Replace", GTK_RESPONSE_ACCEPT, nullptr);
                    gtk_window_set_transient_for(GTK_WINDOW(ask), GTK_WINDOW(dialog));
                    confirmed = runDialog(GTK_DIALOG(ask), GTK_RESPONSE_CANCEL) == GTK_RESPONSE_ACCEPT;
                    gtk_widget_destroy(ask);
                }
            }
        }
        if (!confirmed) continue;
        answer.response = answer.urls.empty() ? ModalResponses::Cancel : ModalResponses::OK;
        break;
    }
    if (answer.response != ModalResponses::OK) answer.urls.clear();
    gtk_widget_destroy(dialog);
    return answer;
}

}  // namespace kit::desktop
