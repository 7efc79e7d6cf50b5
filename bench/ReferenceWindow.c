/* The floor the application is measured against (bench/AppBench.py): the least a GTK 3 and
 * WebKitGTK 4.1 program does to show the same pages. One 390 x 860 window with the chat page and
 * a second web view, never shown, with the keep-alive page.
 *
 *     QuarnReferenceWindow <chat page address> <keep-alive page address>
 *
 * It prints "loaded chat" and "loaded keep-alive" when each page has finished loading. */

#include <gtk/gtk.h>
#include <stdio.h>
#include <webkit2/webkit2.h>

static void on_load_changed(WebKitWebView *view, WebKitLoadEvent event, gpointer name) {
    (void)view;
    if (event != WEBKIT_LOAD_FINISHED) return;
    printf("loaded %s\n", (const char *)name);
    fflush(stdout);
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

    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 390, 860);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_container_add(GTK_CONTAINER(window), page_view(argv[1], "chat"));
    gtk_widget_show_all(window);

    /* Never in a window: its page loads and runs, nothing of it is drawn. */
    GtkWidget *keep_alive = g_object_ref_sink(page_view(argv[2], "keep-alive"));

    gtk_main();
    gtk_widget_destroy(keep_alive);
    g_object_unref(keep_alive);
    return 0;
}
