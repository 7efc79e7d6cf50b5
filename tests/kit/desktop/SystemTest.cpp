// The desktop around the windows: screens and work areas, global hot keys and global monitors
// driven by xdotool, the clipboard, alerts and file panels as GTK dialogs, the tray.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DesktopTestSupport.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Alert.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Panels.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/Screen.h"
#include "kit/ui/StatusItem.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Status

namespace kit::testing {
namespace {

using DesktopSystemTest = DesktopTest;

TEST_F(DesktopSystemTest, ScreensAndWorkAreaChanges) {
    auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0]->frame(), (Rect{0, 0, 1440, 900}));
    int changes = 0;
    auto token = NotificationCenter::defaultCenter().addObserverForName(
        kApplicationDidChangeScreenParametersNotification, nullptr, [&](const Notification&) { ++changes; });
    // A panel of 25 pixels along the top of the display.
    ASSERT_TRUE(runTool("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA 0,25,1440,875"));
    ASSERT_TRUE(waitFor([&] { return changes > 0; }));
    EXPECT_EQ(Screen::screens()[0]->visibleFrame(), (Rect{0, 0, 1440, 875}));
    EXPECT_EQ(Screen::screens()[0], screens[0]);
    ASSERT_TRUE(runTool("xprop -root -remove _NET_WORKAREA"));
    ASSERT_TRUE(waitFor([&] { return Screen::screens()[0]->visibleFrame() == Rect(0, 0, 1440, 900); }));
}

TEST_F(DesktopSystemTest, MouseLocationIsInPlatformCoordinates) {
    ASSERT_TRUE(runTool("xdotool mousemove 100 800"));
    EXPECT_TRUE(waitFor([] { return Event::mouseLocation() == Point{100, 100}; }));
}

TEST_F(DesktopSystemTest, AGlobalHotKeyPressedOnTheServerReachesItsHandler) {
    auto& hotKeys = GlobalHotKeys::shared();
    std::vector<std::uint32_t> pressed;
    hotKeys.setHandler([&](std::uint32_t id) { pressed.push_back(id); });
    ASSERT_TRUE(hotKeys.registerHotKey(7, kVK_ANSI_K, HotKeyModifier::Command | HotKeyModifier::Shift).ok());
    ASSERT_TRUE(runTool("xdotool key super+shift+k"));
    ASSERT_TRUE(waitFor([&] { return pressed.size() == 1; }));
    EXPECT_EQ(pressed[0], 7u);
    // Other modifiers are another combination.
    ASSERT_TRUE(runTool("xdotool key super+k ctrl+shift+k"));
    pump(0.3);
    EXPECT_EQ(pressed.size(), 1u);
    // A lit Num Lock does not disable the hot key.
    ASSERT_TRUE(runTool("xdotool key Num_Lock"));
    ASSERT_TRUE(runTool("xdotool key super+shift+k"));
    EXPECT_TRUE(waitFor([&] { return pressed.size() == 2; }));
    ASSERT_TRUE(runTool("xdotool key Num_Lock"));
    hotKeys.unregisterHotKey(7);
    ASSERT_TRUE(runTool("xdotool key super+shift+k"));
    pump(0.3);
    EXPECT_EQ(pressed.size(), 2u);
    hotKeys.setHandler({});
}

TEST_F(DesktopSystemTest, AHotKeyHeldByAnotherClientIsRefused) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    const KeyCode j = XKeysymToKeycode(other, XK_j);
    XGrabKey(other, j, ControlMask | Mod1Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    auto& hotKeys = GlobalHotKeys::shared();
    auto status = hotKeys.registerHotKey(8, kVK_ANSI_J, HotKeyModifier::Control | HotKeyModifier::Option);
    EXPECT_FALSE(status.ok());
    EXPECT_FALSE(hotKeys.combinationFor(8).has_value());
    XCloseDisplay(other);
    EXPECT_TRUE(hotKeys.registerHotKey(8, kVK_ANSI_J, HotKeyModifier::Control | HotKeyModifier::Option).ok());
    hotKeys.unregisterHotKey(8);
}

TEST_F(DesktopSystemTest, GlobalMonitorsSeeClicksAndScrollsElsewhereOnly) {
    auto window = showWindow({0, 0, 200, 200});
    ASSERT_TRUE(waitUntilShown(*window));
    std::vector<Event> seen;
    auto monitor = EventMonitor::addGlobalMonitor(EventMasks::LeftMouseDown | EventMasks::ScrollWheel,
                                                  [&](const Event& event) { seen.push_back(event); });
    // On our own window: not another application's event.
    ASSERT_TRUE(runTool("xdotool mousemove 100 800 click 1"));
    pump(0.3);
    EXPECT_TRUE(seen.empty());
    // On the desktop elsewhere.
    ASSERT_TRUE(runTool("xdotool mousemove 1000 300 click 1"));
    ASSERT_TRUE(waitFor([&] { return seen.size() == 1; }));
    EXPECT_EQ(seen[0].type, EventType::LeftMouseDown);
    EXPECT_EQ(seen[0].locationInWindow, (Point{1000, 600}));
    EXPECT_FALSE(seen[0].windowShared());
    ASSERT_TRUE(runTool("xdotool click 4"));
    ASSERT_TRUE(waitFor([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1].type, EventType::ScrollWheel);
    EXPECT_GT(seen[1].scrollingDeltaY, 0);
    monitor.reset();
    ASSERT_TRUE(runTool("xdotool click 1"));
    pump(0.3);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(DesktopSystemTest, ThePasteboardIsTheClipboard) {
    auto& pasteboard = Pasteboard::general();
    pasteboard.clearContents();
    pasteboard.setString("hello from kit");
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    ASSERT_TRUE(waitFor([&] {
        gchar* text = gtk_clipboard_wait_for_text(clipboard);
        const bool same = text && std::string(text) == "hello from kit";
        g_free(text);
        return same;
    }));
    // Another owner's text replaces the pasteboard's contents.
    const long before = pasteboard.changeCount();
    gtk_clipboard_set_text(clipboard, "copied elsewhere", -1);
    ASSERT_TRUE(waitFor([&] { return pasteboard.changeCount() > before; }));
    EXPECT_EQ(pasteboard.stringForType(), "copied elsewhere");
}

// Answers the first dialog that appears with `response`, after `prepare` has run on it, and
// again until it is gone (a file chooser may let a response pass while it is still busy).
void answerNextDialog(int response, std::function<void(GtkDialog*)> prepare = {}) {
    struct Pending {
        int response;
        std::function<void(GtkDialog*)> prepare;
        GtkWidget* dialog = nullptr;
        bool found = false;
    };
    g_timeout_add(
        50,
        [](gpointer data) -> gboolean {
            auto* pending = static_cast<Pending*>(data);
            if (pending->found && !pending->dialog) {
                delete pending;
                return G_SOURCE_REMOVE;
            }
            if (!pending->found) {
                GList* toplevels = gtk_window_list_toplevels();
                for (GList* it = toplevels; it; it = it->next) {
                    if (GTK_IS_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) pending->dialog = GTK_WIDGET(it->data);
                }
                g_list_free(toplevels);
                if (!pending->dialog) return G_SOURCE_CONTINUE;
                pending->found = true;
                g_object_add_weak_pointer(G_OBJECT(pending->dialog), reinterpret_cast<gpointer*>(&pending->dialog));
                if (pending->prepare) pending->prepare(GTK_DIALOG(pending->dialog));
            }
            gtk_dialog_response(GTK_DIALOG(pending->dialog), pending->response);
            return G_SOURCE_CONTINUE;
        },
        new Pending{response, std::move(prepare)});
}

TEST_F(DesktopSystemTest, AlertsAnswerTheButtonChosen) {
    Alert alert;
    alert.messageText = "Close the tab?";
    alert.informativeText = "The conversation stays in the history.";
    alert.addButtonWithTitle("Close");
    alert.addButtonWithTitle("Cancel");
    std::string shownText;
    answerNextDialog(static_cast<int>(kAlertSecondButtonReturn), [&](GtkDialog* dialog) {
        gchar* text = nullptr;
        g_object_get(dialog, "text", &text, nullptr);
        shownText = text ? text : "";
        g_free(text);
    });
    EXPECT_EQ(alert.runModal(), kAlertSecondButtonReturn);
    EXPECT_EQ(shownText, "Close the tab?");
    // Escape or the window manager's close: the Cancel button's answer.
    answerNextDialog(GTK_RESPONSE_DELETE_EVENT);
    EXPECT_EQ(alert.runModal(), kAlertSecondButtonReturn);
}

TEST_F(DesktopSystemTest, SavePanelsAddTheAllowedExtension) {
    const auto folder = std::filesystem::temp_directory_path() / ("kit-desktop-save-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto panel = SavePanel::make();
    panel->allowedFileTypes = {"png"};
    panel->directoryURL = folder;
    panel->nameFieldStringValue = "shot";
    answerNextDialog(GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(panel->runModal(), ModalResponses::OK);
    EXPECT_EQ(panel->url(), folder / "shot.png");

    auto cancelled = SavePanel::make();
    cancelled->nameFieldStringValue = "other";
    answerNextDialog(GTK_RESPONSE_CANCEL);
    EXPECT_EQ(cancelled->runModal(), ModalResponses::Cancel);
    EXPECT_TRUE(cancelled->urls().empty());
    std::filesystem::remove_all(folder);
}

TEST_F(DesktopSystemTest, OpenPanelsAnswerTheChosenFiles) {
    const auto folder = std::filesystem::temp_directory_path() / ("kit-desktop-open-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "a.txt") << "a";
    auto panel = OpenPanel::make();
    panel->directoryURL = folder;
    answerNextDialog(GTK_RESPONSE_ACCEPT, [&](GtkDialog* dialog) {
        gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(dialog), (folder / "a.txt").c_str());
    });
    EXPECT_EQ(panel->runModal(), ModalResponses::OK);
    EXPECT_EQ(panel->urls(), (std::vector<std::filesystem::path>{folder / "a.txt"}));
    std::filesystem::remove_all(folder);
}

TEST_F(DesktopSystemTest, StatusItemsWithoutATrayAreNotShown) {
    LogCapture log;
    auto& bar = StatusBar::system();
    auto item = bar.statusItemWithLength(kStatusItemSquareLength);
    int clicks = 0;
    item->updateButton([&](StatusItemButton& button) {
        button.toolTip = "Quarn";
        button.action = [&] { ++clicks; };
    });
    pump(0.2);
    EXPECT_TRUE(log.contains("No system tray"));
    EXPECT_FALSE(item->hasWindow());
    EXPECT_EQ(item->windowOcclusionState(), 0u);
    bar.removeStatusItem(item);
    EXPECT_TRUE(item->isRemoved());
}

}  // namespace
}  // namespace kit::testing
