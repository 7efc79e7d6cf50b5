"""End-to-end tests on the desktops users run besides a bare X11 one: a panel that shows tray items
through a StatusNotifierWatcher, a Wayland session whose hot keys and screenshots go through the
desktop portal, a desktop that prefers dark, and a tiling window manager (i3). QuarnDesktopServices
stands in for the watcher and the portal.

Run one test:  tests/support/run-under-xvfb.sh python3 tests/e2e/test_desktops.py Desktops.test_status_item_on_a_watcher
"""

import os
import plistlib
import struct
import sys
import tempfile
import time
import unittest
import zlib
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    SCREENSHOT_HOTKEY, SIDE_HOTKEY, E2EError, Session, click, close_button, find_colour, is_close_red, run_tool,
    screen_pixels, screen_size, settings_dictionary, stacking_order, visible_windows, wait_drawn, wait_until,
    window_geometry, windows_sized, xdotool)
from test_e2e import CONFIRM_SIZE, png_size  # noqa: E402
from test_titlebar import SETTINGS, SETTINGS_SIZE  # noqa: E402

WAYLAND = {"XDG_SESSION_TYPE": "wayland"}


def write_png(path, width, height, rgb):
    """A plain opaque PNG of one colour."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                     + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


# The title bar and the popovers' menu background in each appearance.
TITLE_BAR = {"light": (0xFF, 0xF1, 0xD7), "dark": (0x27, 0x28, 0x35)}
MENU = {"light": (0xFF, 0xFF, 0xFF), "dark": (0x27, 0x28, 0x35)}


def near(rgb, tolerance=6):
    return lambda r, g, b: max(abs(r - rgb[0]), abs(g - rgb[1]), abs(b - rgb[2])) <= tolerance


def gdbus(*args):
    result = run_tool(["gdbus", "call", "--session", *args])
    if result.returncode != 0:
        raise E2EError(f"gdbus call {' '.join(args)} failed: {result.stderr.strip()}")
    return result.stdout.strip()


def name_has_owner(name):
    return gdbus("--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                 "--method", "org.freedesktop.DBus.NameHasOwner", name) == "(true,)"


class Desktops(unittest.TestCase):
    def session(self, **options):
        return Session(self.id().split(".")[-1], **options)

    def assert_side_window_at_top_right(self, s):
        side = s.wait_side_window()
        width, _ = screen_size()
        self.assertGreater(side.x, width // 2, "the side window is not at the right of the screen")
        self.assertEqual(side.y, 20)
        return side

    def chat_images(self, s):
        return [e.get("data") for e in s.events("chat", "n2j", "OnFileForAnalyze")]

    def test_status_item_on_a_watcher(self):
        # An XEmbed tray runs too: with a watcher the item must not show there as well.
        with self.session(settings=settings_dictionary(status_item=False, logged_in=True), logged_in=True,
                          tray=True, desktop_services=["--watcher"]) as s:
            s.wait_page_ready("chat")
            self.assertEqual(s.desktop_services_lines("registered"), [], "registered although the setting is off")

            s.host_command("status on")
            service, path = wait_until(lambda: s.desktop_services_lines("registered"),
                                       "the status item to register with the watcher")[0]
            self.assertTrue(service.startswith("org.kde.StatusNotifierItem-"), service)
            self.assertEqual(path, "/StatusNotifierItem")
            title = gdbus("--dest", service, "--object-path", path, "--method", "org.freedesktop.DBus.Properties.Get",
                          "org.kde.StatusNotifierItem", "Title")
            self.assertEqual(title, "(<'Quarn AI助手'>,)")
            time.sleep(1)
            self.assertEqual(s.tray_icons(), [], "the XEmbed icon shows beside the watcher's item")

            # A primary click on the panel's item opens the side window.
            gdbus("--dest", service, "--object-path", path, "--method", "org.kde.StatusNotifierItem.Activate", "0", "0")
            self.assert_side_window_at_top_right(s)
            s.screenshot("side-from-watcher-item")

            # The watcher goes: the XEmbed tray shows the item.
            s.desktop_services.stop()
            wait_until(s.tray_icons, "the XEmbed icon to take over")
            s.screenshot("tray-after-watcher")

            s.host_command("status off")
            wait_until(lambda: not s.tray_icons(), "the tray icon to go")
            wait_until(lambda: not name_has_owner(service), "the item's bus name to go")

    def test_windows_float_under_a_tiling_window_manager(self):
        # i3 tiles normal windows over the whole screen and floats the others where and as large
        # as they ask.
        with self.session(settings=settings_dictionary(logged_in=True, guide_shown=False), logged_in=True,
                          window_manager=["i3"]) as s:
            onboarding = wait_until(lambda: windows_sized(780, 482), "the onboarding window")[0]
            wait_drawn(onboarding)
            s.wait_page_ready("chat")
            s.text_tool("side 1 open")
            side = self.assert_side_window_at_top_right(s)
            width, _ = screen_size()
            self.assertLessEqual(width - (side.x + side.width), 40, "the side window is not at the right edge")
            # Drawn all over, the page included (a window drawn at another size than it has is
            # black where nothing was drawn).
            wait_drawn(side)
            page = (side.x, side.y + 60, side.width, side.height - 60)
            self.assertTrue(find_colour(page, lambda r, g, b: r + g + b > 600, side.width * (side.height - 60) // 2),
                            "the page is not drawn across the side window")
            s.screenshot("side-window-and-onboarding")
            self.assertEqual(len(windows_sized(780, 482)), 1, "the onboarding changed its size")

            # A popover floats at its own size under the button that opened it.
            click(int(side.x + side.width - 165 + SETTINGS), side.y + 20)
            popover = wait_until(lambda: windows_sized(*SETTINGS_SIZE), "the settings popover")[0]
            self.assertLess(abs(popover.x + popover.width // 2 - (side.x + side.width - 165 + SETTINGS)), 120)
            self.assertLess(popover.y - side.y, 100)
            s.screenshot("settings-popover")
            # Its items answer where the window manager put it, not where it was asked to be.
            time.sleep(0.6)
            click(popover.x + 100, popover.y + 63)
            self.assertEqual(s.app.popen.wait(30), 0, "the popover's quit item did not end the application")

    def test_tiled_and_floated_again_under_i3(self):
        # Tiled with i3's floating toggle, a window is laid out and drawn at the tile's size (the
        # side window's page all over it, its text at the left); floated again, it comes back at
        # its own size and place: the tile never became its own.
        with self.session(settings=settings_dictionary(logged_in=True, guide_shown=False), logged_in=True,
                          window_manager=["i3"]) as s:
            onboarding = wait_until(lambda: windows_sized(780, 482), "the onboarding window")[0]
            s.wait_page_ready("chat")
            s.text_tool("side 1 open")
            side = self.assert_side_window_at_top_right(s)
            wait_drawn(side)
            close = close_button(side)

            def page_text_at_left(window):
                return find_colour((window.x, window.y + 60, window.width - 420, 100), lambda r, g, b: r + g + b < 200)

            # Full screen and back: the page fills the screen; the close button comes back in line.
            run_tool(["i3-msg", f"[id={side.id}] fullscreen enable"], check=True)
            full = wait_until(lambda: (g := window_geometry(side.id)) and g.width > side.width + 200 and g,
                              "the side window in full screen")
            wait_until(lambda: page_text_at_left(full), "the page to fill the full screen", deadline=10)
            s.screenshot("side-window-full-screen")
            run_tool(["i3-msg", f"[id={side.id}] fullscreen disable"], check=True)
            wait_until(lambda: window_geometry(side.id) == side, "the side window back from full screen")
            wait_until(lambda: find_colour((side.x, side.y, 80, 60), is_close_red) == close,
                       f"the close button back at {close}", deadline=10)
            s.screenshot("side-window-back-from-full-screen")

            for own, name in ((side, "side window"), (onboarding, "onboarding")):
                run_tool(["i3-msg", f"[id={own.id}] floating toggle"], check=True)
                tiled = wait_until(lambda: (g := window_geometry(own.id)) and g.width > own.width + 200 and g,
                                   f"the {name} to be tiled")
                if own is side:
                    wait_until(lambda: page_text_at_left(tiled), "the page to fill the tile", deadline=10)
                s.screenshot(f"{name}-tiled")
                run_tool(["i3-msg", f"[id={own.id}] floating toggle"], check=True)
                wait_until(lambda: window_geometry(own.id) == own, f"the {name} to float at its own size and place "
                           f"({own.width}x{own.height} at {own.x},{own.y})", deadline=10)
                s.screenshot(f"{name}-floating-again")

    def test_confirm_sheet_and_save_panel_come_up_where_they_belong(self):
        """Under openbox and i3: the image window's confirm sheet hangs below the tab strip, without
        title buttons or black corners, transient for its window; a chat download's save panel
        comes up above the image window that covers the side window."""
        for wm in (["openbox", "--sm-disable"], ["i3"]):
            with self.subTest(wm[0]), Session(f"{self.id().split('.')[-1]}-{wm[0]}", window_manager=wm,
                                               settings=settings_dictionary(logged_in=True), logged_in=True,
                                               service_args=["--work-unsaved"]) as s:
                s.wait_page_ready("chat")
                s.text_tool("side 1 open")
                side = self.assert_side_window_at_top_right(s)
                s.page_command("chat", click="action-picture")
                image = wait_until(lambda: [w for w in visible_windows() if w.width > 500], "the image window")[0]
                wait_until(lambda: s.events("picture", "j2n", "OpenFileNotify"), "the image page to open its file")
                wait_drawn(image)
                time.sleep(0.5)
                image = window_geometry(image.id)
                click(image.x + 100 + 200 - 12 - 10, image.y + 20)
                sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the confirm sheet")[0]
                wait_drawn(sheet)
                time.sleep(0.5)
                s.screenshot("confirm-sheet")
                self.assertGreaterEqual(sheet.y, image.y + 40 - 2, "the sheet covers the tab strip")
                self.assertLessEqual(abs(sheet.x + sheet.width // 2 - (image.x + image.width // 2)), 3)
                self.assertIsNone(find_colour((sheet.x, sheet.y, 80, 40), is_close_red), "the sheet has a close button")
                _, _, _, (corner,) = screen_pixels((sheet.x, sheet.y + sheet.height - 1, 1, 1))
                self.assertGreater(sum(corner), 150, "the sheet's corner is black")
                transient = run_tool(["xprop", "-id", str(sheet.id), "WM_TRANSIENT_FOR"]).stdout
                self.assertIn(hex(image.id), transient, "the sheet is not kept with its window")
                xdotool("key", "Escape")
                wait_until(lambda: not windows_sized(*CONFIRM_SIZE), "Escape to answer the sheet")

                # The image window in front, over the side window: the chat downloads a file.
                click(image.x + 300, image.y + 400)
                time.sleep(0.5)
                known = {w.id for w in visible_windows()}
                s.page_command("chat", click="download-pdf")
                panel = wait_until(lambda: [w for w in visible_windows() if w.id not in known and w.height > 150],
                                   "the save panel")[0]
                wait_drawn(panel)
                time.sleep(1)
                s.screenshot("save-panel")
                order = stacking_order()
                self.assertGreater(order.index(panel.id), order.index(image.id), "the save panel opened behind the image window")
                self.assertGreater(order.index(side.id), order.index(image.id), "the asking window stayed behind")
                xdotool("key", "Escape")

    def test_gdk_backend_wayland_runs_on_xwayland(self):
        # A Wayland session's GDK_BACKEND: the application shows its status item and windows on
        # the X display, and its pages draw (their processes start with the session's variables).
        env = {"GDK_BACKEND": "wayland", "WAYLAND_DISPLAY": "wayland-quarn-none"}
        with self.session(settings=settings_dictionary(logged_in=True, status_item=True), logged_in=True,
                          tray=True, app_env=env) as s:
            wait_until(s.tray_icons, "the status item in the tray")
            s.wait_page_ready("chat")
            s.text_tool("side 1 open")
            side = self.assert_side_window_at_top_right(s)
            wait_drawn(side)
            s.screenshot("side-window")
            self.assertNotIn("cannot open", s.app_log())

    def test_wayland_hot_keys_and_capture_through_the_portal(self):
        folder = tempfile.TemporaryDirectory(prefix="quarn-e2e-portal-")
        self.addCleanup(folder.cleanup)
        picture = Path(folder.name) / "Screenshot from the portal.png"
        write_png(picture, 320, 180, (40, 140, 220))
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True, app_env=WAYLAND,
                          desktop_services=["--shortcuts", f"--screenshot={picture}"]) as s:
            s.wait_page_ready("chat")

            # The saved combinations are the preferred triggers of the portal's shortcuts.
            s.set_hotkey("side", SIDE_HOTKEY)
            s.set_hotkey("screenshot", SCREENSHOT_HOTKEY)
            binds = s.desktop_services_lines("bind")
            self.assertEqual([b[2] for b in binds], ["CTRL+ALT+k", "CTRL+ALT+l"])
            side_id, shot_id = binds[0][1], binds[1][1]

            # The portal's Activated is the hot key's press: the side window slides in.
            s.desktop_services_command(f"activate {side_id}")
            self.assert_side_window_at_top_right(s)
            s.screenshot("side-from-portal")

            # The screenshot hot key asks the portal, interactively; its file reaches the chat page.
            s.desktop_services_command(f"activate {shot_id}")
            wait_until(lambda: s.desktop_services_lines("screenshot"), "the portal to be asked for a screenshot")
            self.assertEqual(s.desktop_services_lines("screenshot")[0], ["interactive=true"])
            images = wait_until(lambda: self.chat_images(s), "the chat page to receive the image")
            self.assertEqual(png_size(images[0].get("requestUrl", "")), (320, 180))
            s.screenshot("image-on-chat")

    def test_wayland_portal_refusals(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True, app_env=WAYLAND,
                          desktop_services=["--shortcuts=refuse"]) as s:
            s.wait_page_ready("chat")
            # A refused binding is a hot key not set, as the host hears it.
            with self.assertRaises(E2EError):
                s.set_hotkey("side", SIDE_HOTKEY)
            self.assertTrue(s.host_lines("received", "M2A_KZAIIPCHotKeySettingFailedNotification"))
            s.wait_app_log(r"Global hot key CTRL\+ALT\+k not set: the user refused the shortcut")

    def test_wayland_cancelled_capture_sends_nothing(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True, app_env=WAYLAND,
                          desktop_services=["--shortcuts", "--screenshot=cancel"]) as s:
            s.wait_page_ready("chat")
            s.set_hotkey("screenshot", SCREENSHOT_HOTKEY)
            shot_id = s.desktop_services_lines("bind")[0][1]
            s.desktop_services_command(f"activate {shot_id}")
            wait_until(lambda: s.desktop_services_lines("screenshot"), "the portal to be asked for a screenshot")
            time.sleep(1.5)
            self.assertIsNone(s.side_window(), "a cancelled capture opened the side window")
            self.assertEqual(self.chat_images(s), [])
            # A second press asks again: the cancelled one is over.
            s.desktop_services_command(f"activate {shot_id}")
            wait_until(lambda: len(s.desktop_services_lines("screenshot")) == 2, "the portal to be asked again")

    def test_appearance_follows_the_desktop_and_the_host(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          desktop_services=["--settings=dark"]) as s:
            s.wait_page_ready("chat")
            s.text_tool("side 1 open")
            side = self.assert_side_window_at_top_right(s)
            # Left of the buttons, the title bar is its background alone.
            strip = (side.x + 10, side.y + 4, side.width - 190, 30)

            def looks(appearance, popover=None):
                if not find_colour(strip, near(TITLE_BAR[appearance]), strip[2] * strip[3] * 9 // 10):
                    return False
                if popover is None:
                    return True
                inside = (popover.x + 20, popover.y + 4, popover.width - 40, popover.height - 8)
                return find_colour(inside, near(MENU[appearance]), inside[2] * inside[3] // 2) is not None

            wait_until(lambda: looks("dark"), "the side window to be dark on a desktop that prefers dark", 20)
            s.screenshot("side-dark")
            click(side.x + side.width - 165 + SETTINGS, side.y + 20)
            popover = wait_until(lambda: windows_sized(*SETTINGS_SIZE), "the settings popover")[0]
            wait_until(lambda: looks("dark", popover), "the popover to be dark too", 20)

            # The desktop turns light: the open window and popover turn with it.
            s.desktop_services_command("scheme light")
            wait_until(lambda: looks("light", popover), "the side window and the popover to turn light", 20)
            s.screenshot("side-light")

            # The host's theme setting wins over the desktop's, and every open window follows it too.
            def host_theme(mode):
                defaults = s.home / "Library" / "Preferences" / "com.morvane.QuarnAIAssistant.plist"
                values = plistlib.loads(defaults.read_bytes()) if defaults.exists() else {}
                values["theme_mode_setted"] = mode
                defaults.parent.mkdir(parents=True, exist_ok=True)
                defaults.write_bytes(plistlib.dumps(values))
                s.host_command("post theme_changed_notify")

            host_theme(2)
            wait_until(lambda: looks("dark", popover), "the side window and the popover to turn dark", 20)
            s.screenshot("host-dark")
            s.desktop_services_command("scheme dark")
            s.desktop_services_command("scheme light")
            time.sleep(1)
            self.assertTrue(looks("dark", popover), "the desktop's scheme overrode the host's dark theme")

            # Back to following the desktop, which prefers light now.
            host_theme(0)
            wait_until(lambda: looks("light", popover), "the side window and the popover to follow the desktop again", 20)
            s.screenshot("system-light")


if __name__ == "__main__":
    unittest.main()
