/* The floor the application is measured against (bench/AppBench.py): the least a GTK 3 and
 * WebKitGTK 4.1 program does to show the same pages. One 390 x 860 window with the chat page and
 * a second web view, never shown, with the keep-alive page.
 *
 *     QuarnReferenceWindow <chat page address> <keep-alive page address>
 *
 * Pages are composited by the application's rule, so both run on the same path: in shared memory
 * with QUARN_WEB_RENDERING=software or on an X server without direct rendering, through GPU
 * buffers otherwise. It prints the application's line for the choice ("pages composited ..."),
 * "loaded chat at <time>" and "loaded keep-alive at <time>" when each page has finished loading
 * (CLOCK_MONOTONIC microseconds), and on SIGUSR1 hides
 * its window and prints "hidden", as the application's side window is hidden. */

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <webkit2/webkit2.h>

static void choose_rendering_path(void) {
    const char* chosen = g_getenv("QUARN_WEB_RENDERING");
    gboolean gpu = TRUE;
    const char* reason = "QUARN_WEB_RENDERING=accelerated";
    if (chosen && strcmp(chosen, "software") == 0) {
        gpu = FALSE;
        reason = "QUARN_WEB_RENDERING=software";
    } else if (!(chosen && strcmp(chosen, "accelerated") == 0)) {
        GdkDisplay* display = gdk_display_get_default();
        reason = "not an X display";
        if (display && GDK_IS_X11_DISPLAY(display)) {
            Display* x = gdk_x11_display_get_xdisplay(display);
            int opcode = 0, event = 0, error = 0;
            gpu = XQueryExtension(x, "DRI3", &opcode, &event, &error) ||
                  XQueryExtension(x, "DRI2", &opcode, &event, &error);
            reason = gpu ? "the display has direct rendering" : "no direct rendering";
        }
    }
    if (!gpu) g_setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", FALSE);
    printf("pages composited %s (%s)\n", gpu ? "through GPU buffers" : "in shared memory", reason);
    fflush(stdout);
}

static void on_load_changed(WebKitWebView *view, WebKitLoadEvent event, gpointer name) {
    (void)view;
    if (event != WEBKIT_LOAD_FINISHED) return;
    printf("loaded %s at %" G_GINT64_FORMAT "\n", (const char*)name, g_get_monotonic_time());
    fflush(stdout);
}

static gboolean on_hide_signal(gpointer window) {
    gtk_widget_hide(GTK_WIDGET(window));
    printf("hidden\n");
    fflush(stdout);
    return G_SOURCE_CONTINUE;
}

static GtkWidget *page_view(const char *address, const char *name) {
    GtkWidget *view = webkit_web_view_new();
    g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), (gpointer)name);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), address);
    return view;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <chat page address> <keep-alive page address>\n", argv[0]);
        return 2;
    }
    gtk_init(&argc, &argv);
    choose_rendering_path();

    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 390, 860);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_container_add(GTK_CONTAINER(window), page_view(argv[1], "chat"));
    gtk_widget_show_all(window);
    g_unix_signal_add(SIGUSR1, on_hide_signal, window);

    /* Never in a window: its page loads and runs, nothing of it is drawn. */
    GtkWidget *keep_alive = g_object_ref_sink(page_view(argv[2], "keep-alive"));

    gtk_main();
    gtk_widget_destroy(keep_alive);
    g_object_unref(keep_alive);
    return 0;
}
