#include "kit/desktop/dnd/DesktopClipboard.h"

#include <map>
#include <string>
#include <vector>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Pasteboard.h"

namespace kit::desktop {

struct DesktopClipboard::State {
    explicit State(BackendBadge b) : badge(b) {}
    BackendBadge badge;
    GtkClipboard* clipboard = nullptr;
    // Stands for the application as the clipboard's owner.
    GObject* owner = nullptr;
    bool offerScheduled = false;
    // Bumped on each outside change, so a slow answer to an older one is dropped.
    unsigned generation = 0;
};

namespace {

enum Target : guint { TextTarget = 1, ImageTarget = 2 };

struct Request {
    std::weak_ptr<DesktopClipboard::State> state;
    unsigned generation;
    bool wantsImage = false;
    std::map<std::string, std::vector<std::uint8_t>> items;
};

void provide(GtkClipboard*, GtkSelectionData* selection, guint info, gpointer) {
    auto& pasteboard = Pasteboard::general();
    // Rendered when asked for, from what the pasteboard holds then.
    if (info == TextTarget) {
        if (auto text = pasteboard.stringForType(kPasteboardTypeString)) {
            gtk_selection_data_set_text(selection, text->data(), static_cast<gint>(text->size()));
        }
    } else if (info == ImageTarget) {
        if (auto png = pasteboard.dataForType(kPasteboardTypePNG)) {
            auto ownedLoader = GRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
            GdkPixbufLoader* loader = ownedLoader.get();
            const bool written = gdk_pixbuf_loader_write(loader, png->data(), png->size(), nullptr);
            const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
            if (written && closed) {
                if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) gtk_selection_data_set_pixbuf(selection, pixbuf);
            }
        }
    }
}

void finishRequest(Request* request) {
    auto state = request->state.lock();
    if (state && request->generation == state->generation) {
        // An outside copy of nothing we can read leaves the pasteboard empty, as it is elsewhere.
        Pasteboard::general().replaceContents(state->badge, std::move(request->items));
    }
    delete request;
}

void receiveImage(GtkClipboard*, GdkPixbuf* pixbuf, gpointer data) {
    auto* request = static_cast<Request*>(data);
    if (pixbuf) {
        gchar* buffer = nullptr;
        gsize size = 0;
        if (gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr)) {
            request->items[kPasteboardTypePNG] = std::vector<std::uint8_t>(buffer, buffer + size);
        }
        g_free(buffer);
    }
    finishRequest(request);
}

void receiveText(GtkClipboard* clipboard, const gchar* text, gpointer data) {
    auto* request = static_cast<Request*>(data);
    if (text) {
        const std::string value(text);
        request->items[kPasteboardTypeString] = std::vector<std::uint8_t>(value.begin(), value.end());
    }
    if (request->wantsImage) {
        gtk_clipboard_request_image(clipboard, receiveImage, request);
    } else {
        finishRequest(request);
    }
}

void receiveTargets(GtkClipboard* clipboard, GdkAtom* atoms, gint count, gpointer data) {
    auto* request = static_cast<Request*>(data);
    const bool hasText = atoms && gtk_targets_include_text(atoms, count);
    request->wantsImage = atoms && gtk_targets_include_image(atoms, count, FALSE);
    if (hasText) {
        gtk_clipboard_request_text(clipboard, receiveText, request);
    } else if (request->wantsImage) {
        gtk_clipboard_request_image(clipboard, receiveImage, request);
    } else {
        finishRequest(request);
    }
}

void ownerChanged(GtkClipboard* clipboard, const std::shared_ptr<DesktopClipboard::State>& state) {
    if (!state || !state->owner) return;
    if (gtk_clipboard_get_owner(clipboard) == state->owner) return;
    ++state->generation;
    gtk_clipboard_request_targets(clipboard, receiveTargets, new Request{state, state->generation, false, {}});
}

}  // namespace

DesktopClipboard::DesktopClipboard(BackendBadge badge, GdkDisplay* display)
    : clipboard_(gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD)), state_(std::make_shared<State>(badge)) {
    state_->clipboard = clipboard_;
    state_->owner = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
    ownerChangeSignal_ = SignalConnection::connect(
        clipboard_, "owner-change",
        [weak = std::weak_ptr<State>(state_)](GtkClipboard* clipboard, GdkEvent*) { ownerChanged(clipboard, weak.lock()); });
}

DesktopClipboard::~DesktopClipboard() {
    ownerChangeSignal_.disconnect();
    if (gtk_clipboard_get_owner(clipboard_) == state_->owner) gtk_clipboard_store(clipboard_);
    g_object_unref(state_->owner);
    state_->owner = nullptr;
}

void DesktopClipboard::pasteboardDidChange(const Pasteboard&) {
    if (state_->offerScheduled) return;
    state_->offerScheduled = true;
    std::weak_ptr<State> weak = state_;
    RunLoop::main().post([this, weak] {
        auto state = weak.lock();
        if (!state || !state->owner) return;
        state->offerScheduled = false;
        offer();
    });
}

void DesktopClipboard::offer() {
    auto& pasteboard = Pasteboard::general();
    GtkTargetList* list = gtk_target_list_new(nullptr, 0);
    if (pasteboard.dataForType(kPasteboardTypeString)) gtk_target_list_add_text_targets(list, TextTarget);
    if (pasteboard.dataForType(kPasteboardTypePNG)) gtk_target_list_add_image_targets(list, ImageTarget, TRUE);
    gint count = 0;
    GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
    if (count > 0) {
        if (!gtk_clipboard_set_with_owner(clipboard_, targets, static_cast<guint>(count), provide, nullptr, state_->owner)) {
            logLine("Could not take the clipboard");
        }
        gtk_clipboard_set_can_store(clipboard_, targets, count);
    } else if (gtk_clipboard_get_owner(clipboard_) == state_->owner) {
        gtk_clipboard_clear(clipboard_);
    }
    gtk_target_table_free(targets, count);
    gtk_target_list_unref(list);
}

}  // namespace kit::desktop
