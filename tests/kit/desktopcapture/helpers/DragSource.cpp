// A small GTK drag source for the drag-watch tests, run as a separate process:
//   drag-source <x> <y> uri-list <address>...   a 200 x 200 window at (x, y) whose drags carry
//                                               the addresses as "text/uri-list"
//   drag-source <x> <y> text <text>             ... whose drags carry only "text/plain"
// It prints "ready" once its window is drawn, and quits when its standard input closes.

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Source {
    bool uris = true;
    std::vector<std::string> items;
    bool announced = false;
};

void dataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer user) {
    auto* source = static_cast<Source*>(user);
    if (source->uris) {
        std::vector<gchar*> list;
        for (auto& item : source->items) list.push_back(item.data());
        list.push_back(nullptr);
        gtk_selection_data_set_uris(data, list.data());
    } else {
        gtk_selection_data_set_text(data, source->items.empty() ? "" : source->items[0].c_str(), -1);
    }
}

gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer user) {
    cairo_set_source_rgb(cr, 0.2, 0.5, 0.3);
    cairo_paint(cr);
    auto* source = static_cast<Source*>(user);
    if (!source->announced) {
        source->announced = true;
        // After this frame reaches the server.
        g_idle_add(
            [](gpointer) -> gboolean {
                gdk_display_sync(gdk_display_get_default());
                std::printf("ready\n");
                std::fflush(stdout);
                return G_SOURCE_REMOVE;
            },
            nullptr);
    }
    (void)widget;
    return TRUE;
}

gboolean inputClosed(GIOChannel*, GIOCondition, gpointer) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

}  // namespace

// GTK keeps its caches until the process ends; in sanitizer builds they are no leak of ours.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the sanitizer runtime looks up.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s x y uri-list|text item...\n", argv[0]);
        return 2;
    }
    Source source;
    source.uris = std::strcmp(argv[3], "uri-list") == 0;
    for (int i = 4; i < argc; ++i) source.items.emplace_back(argv[i]);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_move(GTK_WINDOW(window), std::atoi(argv[1]), std::atoi(argv[2]));
    gtk_widget_set_size_request(window, 200, 200);
    GtkWidget* area = gtk_drawing_area_new();
    gtk_container_add(GTK_CONTAINER(window), area);
    GtkTargetEntry uriTarget{const_cast<gchar*>("text/uri-list"), 0, 0};
    GtkTargetEntry textTarget{const_cast<gchar*>("text/plain"), 0, 0};
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_MOTION_MASK);
    gtk_drag_source_set(area, GDK_BUTTON1_MASK, source.uris ? &uriTarget : &textTarget, 1, GDK_ACTION_COPY);
    g_signal_connect(area, "drag-data-get", G_CALLBACK(dataGet), &source);
    g_signal_connect(area, "draw", G_CALLBACK(draw), &source);
    // A new drag can start from here once this one is over.
    g_signal_connect(area, "drag-end", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gpointer) {
                         std::printf("drag ended\n");
                         std::fflush(stdout);
                     }),
                     nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, GIOCondition(G_IO_HUP | G_IO_ERR | G_IO_IN), inputClosed, nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    g_io_channel_unref(input);
    return 0;
}
