#include "kit/desktop/Dialogs.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kit/base/GRef.h"
#include "kit/desktop/GtkWindowPeer.h"
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

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
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
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    if (response >= kAlertFirstButtonReturn && response < kAlertFirstButtonReturn + static_cast<long>(titles.size())) {
        return response;
    }
    // Closed with Escape or by the window manager: the "Cancel" button's answer, as the
    // platform's Escape key gives; without one, the last button (the least committal).
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (lowercase(titles[i]) == "cancel") return kAlertFirstButtonReturn + static_cast<long>(i);
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
    while (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
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
                std::string extension = lowercase(path.extension().string());
                if (!extension.empty()) extension.erase(0, 1);
                const bool allowed = std::any_of(panel.allowedFileTypes.begin(), panel.allowedFileTypes.end(),
                                                 [&](const std::string& type) { return lowercase(type) == extension; });
                if (allowed) continue;
                path += "." + panel.allowedFileTypes.front();
                std::error_code error;
                if (std::filesystem::exists(path, error)) {
                    GtkWidget* ask = gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                                            GTK_BUTTONS_NONE, "A file named \"%s\" already exists. Do you want to replace it?",
                                                            path.filename().c_str());
                    gtk_dialog_add_buttons(GTK_DIALOG(ask), "_Cancel", GTK_RESPONSE_CANCEL, "_Replace", GTK_RESPONSE_ACCEPT, nullptr);
                    confirmed = gtk_dialog_run(GTK_DIALOG(ask)) == GTK_RESPONSE_ACCEPT;
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
