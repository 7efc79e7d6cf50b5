"""End-to-end tests of the side window's title bar: the settings popover (preferences, quit), the
pin button, and the avatar's login-state card. Each test runs its own application against the
stand-ins and saves screenshots under <build>/test-output/e2e/<test>/.

Run one test:  tests/support/run-under-xvfb.sh python3 tests/e2e/test_titlebar.py TitleBar.test_quit_item_ends_application
"""

import os
import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    HOST_EXECUTABLE, Session, click, descendants, find_colour, run_tool, screen_pixels, screen_size, settings_dictionary,
    stacking_order, wait_drawn, wait_until, visible_windows, window_geometry, windows_sized, xdotool)

PIN_KEY = "kQuarn_AI_QA_WIDNDOW_PIN_STATE"
LOGIN_SIZE = (370, 450)
SETTINGS_SIZE = (200, 84)
CARD_SIZE = (200, 98)
# The title bar's right-hand cluster starts 165 points from the window's right edge; the buttons'
# centres lie this far into it, 20 points below the window's top.
AVATAR, SETTINGS, REFRESH, PIN = 12, 56.5, 90.5, 124.5


def is_title_bar(r, g, b):
    # The light title bar (#fff1d7).
    return r > 245 and abs(g - 0xF1) < 8 and abs(b - 0xD7) < 10


def running_pids():
    return {int(p) for p in os.listdir("/proc") if p.isdigit()}


def cmdline(pid):
    try:
        return Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[:-1]
    except OSError:
        return []


def all_client_windows(name):
    """Every viewable window named `name` (WM_NAME), at any depth: a window manager puts them into
    frames of its own."""
    found = run_tool(["xdotool", "search", "--onlyvisible", "--name", name]).stdout.split()
    return [g for g in (window_geometry(int(w)) for w in found) if g]


class TitleBar(unittest.TestCase):
    maxDiff = None

    def session(self, **options):
        return Session(self.id().split(".")[-1], **options)

    # -- helpers

    def show_side(self, s):
        s.text_tool("side 1 open")
        side = wait_until(self.side_geometry, "the side window to slide in")
        wait_until(lambda: find_colour((side.x + side.width - 170, side.y + 2, 160, 36), is_title_bar, 50),
                   "the title bar to be drawn")
        time.sleep(0.3)
        return side

    def button(self, side, offset):
        return int(side.x + side.width - 165 + offset), side.y + 20

    def open_settings(self, s, side):
        click(*self.button(side, SETTINGS))
        popover = wait_until(lambda: windows_sized(*SETTINGS_SIZE), "the settings popover")[0]
        # Its top-right corner hangs 9 points below the settings button's bottom-right corner.
        # (The half point of the divider rounds either way on the pixel grid.)
        self.assertAlmostEqual(popover.x + popover.width, side.x + side.width - 165 + 68.5, delta=1)
        self.assertEqual(popover.y, side.y + 32 + 9)
        time.sleep(0.3)
        return popover

    # -- the settings popover

    def test_preferences_item_reaches_host_or_launches_it(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            side = self.show_side(s)
            popover = self.open_settings(s, side)
            s.screenshot("settings-popover")
            click(popover.x + 100, popover.y + 22)
            wait_until(lambda: "open-preferences ai" in s.host_output(), "the host to be asked for its AI preferences")
            wait_until(lambda: not windows_sized(*SETTINGS_SIZE), "the popover to close")
            self.assertIn("[Tab] Click Settings Menu Item", s.app_log())

            # Without the host, the application starts it with the arguments "2 ai".
            s.host.stop()
            before = running_pids()
            popover = self.open_settings(s, side)
            click(popover.x + 100, popover.y + 22)
            host_path = str(s.sysroot / HOST_EXECUTABLE).encode()

            def launched():
                return [p for p in running_pids() - before
                        if cmdline(p)[:1] and cmdline(p)[0] == host_path and cmdline(p)[1:] == [b"2", b"ai"]]
            pids = wait_until(launched, "the application to start the host")
            try:
                s.wait_app_log(r"^open-preferences ai$", "the started host to show its AI preferences")
            finally:
                for pid in pids:
                    try:
                        os.kill(pid, 15)
                    except ProcessLookupError:
                        pass
            s.screenshot("host-started")

    def test_quit_item_ends_application(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            side = self.show_side(s)
            helpers = descendants(s.app.pid)
            self.assertTrue(helpers, "the web engine's helper processes were expected")
            popover = self.open_settings(s, side)
            s.screenshot("before-quit")
            click(popover.x + 100, popover.y + 63)
            status = s.app.popen.wait(30)
            self.assertEqual(status, 0, "the application did not end cleanly")
            log = s.app_log()
            self.assertLess(log.index("[Tab] Click Quit Menu Item"), log.index("[AppDelegate] applicationWillTerminate"))
            wait_until(lambda: not (set(helpers) & running_pids()), "every process of the application to end")
            self.assertEqual(visible_windows(), [], "a window of the application is still on screen")
            s.screenshot("after-quit")

    def test_popovers_close_on_the_first_click_anywhere_else(self):
        """Under a window manager, which gives an opened popover the focus: one click in another
        application closes the settings popover and the login-state card, and the unpinned side
        window then slides out; one click into the chat page closes the popover and keeps the side
        window."""
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.start_window_manager()
            other = s.add_process("xmessage", ["xmessage", "-name", "elsewhere", "-geometry", "360x200+100+100",
                                               "a window of another application"])
            elsewhere = wait_until(lambda: all_client_windows("elsewhere"), "the other application's window")[0]
            s.wait_page_ready("chat")
            for name, button, size in (("settings popover", SETTINGS, SETTINGS_SIZE), ("login card", AVATAR, CARD_SIZE)):
                side = self.show_side(s)
                hides_before = len(s.events("chat", "n2j", "WindowHide"))
                click(*self.button(side, button))
                popover = wait_until(lambda: windows_sized(*size), f"the {name}")[0]
                order = stacking_order()
                self.assertGreater(order.index(popover.id), order.index(side.id), f"the {name} opened under the side window")
                time.sleep(0.5)
                s.screenshot(f"{name.replace(' ', '-')}-open")
                click(elsewhere.x + 60, elsewhere.y + 150)
                wait_until(lambda: not windows_sized(*size), f"the {name} to close on the first click elsewhere", 10)
                s.wait_side_window_gone(10)
                wait_until(lambda: len(s.events("chat", "n2j", "WindowHide")) > hides_before,
                           "the chat page to hear that its window hid")
                s.screenshot(f"{name.replace(' ', '-')}-closed")

            side = self.show_side(s)
            popover = self.open_settings(s, side)
            click(side.x + side.width // 2, side.y + side.height - 120)
            wait_until(lambda: not windows_sized(*SETTINGS_SIZE), "the popover to close on a click into the chat page", 10)
            time.sleep(0.5)
            self.assertIsNotNone(s.side_window(), "the side window went with a click into its own page")
            self.assertNotIn(popover, windows_sized(*SETTINGS_SIZE))
            s.screenshot("clicked-into-the-chat-page")
            other.stop()

    def test_escape_and_the_status_item_close_popovers_and_panels_drawn_whole_without_a_compositor(self):
        """Under openbox and i3, which start no compositor: Escape closes the settings popover, the
        login-state card and a panel shown over another application's window; a click on the
        status item's icon closes an open popover. The popovers' rounded corners show no black and
        their white surface has a grey edge where it lies on the white page."""
        is_edge = (lambda r, g, b: max(abs(r - 0xE6), abs(g - 0xE6), abs(b - 0xE6)) <= 8)
        for wm in (["openbox", "--sm-disable"], ["i3"]):
            with self.subTest(wm[0]), Session(f"{self.id().split('.')[-1]}-{wm[0]}", window_manager=wm, tray=True,
                                               settings=settings_dictionary(logged_in=True, status_item=True),
                                               logged_in=True) as s:
                icon = wait_until(s.tray_icons, "the status item in the tray")[-1]
                s.wait_page_ready("chat")
                for name, button, size in (("settings popover", SETTINGS, SETTINGS_SIZE), ("login card", AVATAR, CARD_SIZE)):
                    side = self.show_side(s)
                    click(*self.button(side, button))
                    popover = wait_until(lambda: windows_sized(*size), f"the {name}")[0]
                    time.sleep(0.5)
                    s.screenshot(f"{name.replace(' ', '-')}-open")
                    for x, y in ((popover.x, popover.y), (popover.x + popover.width - 1, popover.y + popover.height - 1)):
                        _, _, _, (corner,) = screen_pixels((x, y, 1, 1))
                        self.assertGreater(sum(corner), 150, f"the {name}'s corner at {x},{y} is black")
                    self.assertIsNotNone(find_colour((popover.x, popover.y + 30, 1, popover.height - 60), is_edge,
                                                     popover.height - 70), f"the {name} has no edge")
                    xdotool("key", "Escape")
                    wait_until(lambda: not windows_sized(*size), f"Escape to close the {name}", 10)

                side = self.show_side(s)
                click(*self.button(side, SETTINGS))
                wait_until(lambda: windows_sized(*SETTINGS_SIZE), "the settings popover")
                time.sleep(0.5)
                click(icon.x + icon.width // 2, icon.y + icon.height // 2)
                wait_until(lambda: not windows_sized(*SETTINGS_SIZE), "a click on the status item to close the popover", 10)
                s.screenshot("popover-closed-by-the-status-item")

                # A panel over another application's window, which has the keyboard.
                s.add_process("xmessage", ["xmessage", "-name", "elsewhere", "-geometry", "360x200+100+100", "elsewhere"])
                elsewhere = wait_until(lambda: all_client_windows("elsewhere"), "the other application's window")[0]
                click(elsewhere.x + 60, elsewhere.y + 150)
                time.sleep(0.5)
                before = {w.id for w in visible_windows()}
                s.text_tool("explain hello 600 300")
                panel = wait_until(lambda: [w for w in visible_windows() if w.id not in before], "the explain panel")[0]
                wait_drawn(panel)
                s.screenshot("panel-over-another-application")
                xdotool("key", "Escape")
                wait_until(lambda: panel.id not in {w.id for w in visible_windows()}, "Escape to close the panel", 10)

    # -- the pin

    def test_pin_keeps_side_window_above_and_survives_restart(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            # A window manager keeps windows above others; the plain X server does not.
            s.start_window_manager()
            s.wait_page_ready("chat")
            side = self.show_side(s)
            click(*self.button(side, PIN))
            wait_until(lambda: (s.read_settings() or {}).get(PIN_KEY) is True, "the pin to be stored")
            s.wait_app_log(r"\[Tab\] Click PIN Button", "the pin click")

            # Another application's window over the side window, activated and raised: the side
            # window stays in front of it.
            cover = s.add_process("xmessage", ["xmessage", "-name", "covering", "-geometry",
                                               f"360x200+{side.x - 100}+{side.y + 10}", "a window of another application"])
            covering = wait_until(lambda: all_client_windows("covering"), "the other window")[0]
            side_id = self.side_client_window()
            xdotool("windowactivate", "--sync", covering.id)
            xdotool("windowraise", covering.id)
            time.sleep(0.5)
            order = stacking_order()
            s.screenshot("pinned-above-another-window")
            self.assertGreater(order.index(side_id), order.index(self.client_of(covering.id)),
                               "the pinned side window went below another window")
            # What the user sees: the title bar where the windows overlap.
            self.assertIsNotNone(find_colour((side.x + 5, side.y + 25, 40, 10), is_title_bar, 20),
                                 "the other window covers the pinned side window")

            # The pin survives a restart through the settings file.
            s.app.stop()
            s.app = None
            s.start_app()
            s.wait_page_ready("chat")
            side = self.show_side(s)
            xdotool("windowactivate", "--sync", covering.id)
            xdotool("windowraise", covering.id)
            time.sleep(0.5)
            order = stacking_order()
            s.screenshot("pinned-after-restart")
            self.assertGreater(order.index(self.side_client_window()), order.index(self.client_of(covering.id)))
            self.assertIn("_NET_WM_STATE_ABOVE",
                          run_tool(["xprop", "-id", str(self.side_client_window()), "_NET_WM_STATE"]).stdout)

            # Unpinned, turning to the other window slides the side window out by itself.
            click(*self.button(side, PIN))
            wait_until(lambda: (s.read_settings() or {}).get(PIN_KEY) is False, "the unpin to be stored")
            xdotool("windowactivate", "--sync", covering.id)
            xdotool("windowraise", covering.id)
            s.wait_side_window_gone()
            wait_until(lambda: s.events("chat", "n2j", "WindowHide"), "the chat page to hear WindowHide")
            s.screenshot("unpinned-hidden")
            cover.stop()

    @staticmethod
    def side_geometry():
        """The side window once it has slid in, at any depth (a window manager reparents it)."""
        _, screen_h = screen_size()
        found = run_tool(["xdotool", "search", "--onlyvisible", "--class", "QuarnAI"]).stdout.split()
        for wid in found:
            g = window_geometry(int(wid))
            if g and 390 <= g.width <= 420 and g.height == min(screen_h - 40, 2160):
                return g
        return None

    def side_client_window(self):
        side = self.side_geometry()
        if not side:
            raise AssertionError("no side window")
        return self.client_of(side.id)

    @staticmethod
    def client_of(window_id):
        """The window id the window manager lists: the window itself or the client inside a frame."""
        listed = stacking_order()
        if window_id in listed:
            return window_id
        out = run_tool(["xwininfo", "-children", "-id", str(window_id)]).stdout
        for m in re.finditer(r"^\s+(0x[0-9a-f]+)", out, re.M):
            if int(m.group(1), 16) in listed:
                return int(m.group(1), 16)
        return window_id

    # -- the avatar

    def test_avatar_card_shows_user_name_after_login(self):
        with self.session(settings=settings_dictionary(logged_in=False),
                          service_args=["--user", "Ada Lovelace"]) as s:
            s.wait_page_ready("chat")
            side = self.show_side(s)
            s.screenshot("logged-out-title-bar")
            # Logged out, the avatar opens the login window; log in there.
            click(*self.button(side, AVATAR))
            w, h = LOGIN_SIZE
            login = wait_until(lambda: windows_sized(w, h), "the login window")[0]
            self.assertEqual(windows_sized(*CARD_SIZE), [], "a card opened for a logged-out user")
            s.wait_page_ready("login")
            time.sleep(0.5)
            xdotool("mousemove", login.x + w // 2, login.y + 60)
            xdotool("key", "Return")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_AuthUserInfo", {}).get("userName")
                       == "Ada Lovelace", "the login to be stored")
            wait_until(lambda: not windows_sized(w, h), "the login window to close")

            side = self.show_side(s)
            click(*self.button(side, AVATAR))
            card = wait_until(lambda: windows_sized(*CARD_SIZE), "the login-state card")[0]
            self.assertEqual((card.x + card.width, card.y), (int(side.x + side.width - 165 + 24), side.y + 32 + 9))
            s.wait_app_log(r"\[Tab\] Click Login Arrow", "the card to open")
            time.sleep(0.5)
            s.screenshot("login-state-card")
            # The card's log-out button (its text is drawn dark on white) is at its bottom.
            self.assertIsNotNone(find_colour((card.x + 20, card.y + 10, 160, 32), lambda r, g, b: r + g + b < 200, 10),
                                 "the card shows no name")

            # Logging out from the card asks the service and closes the card.
            click(card.x + 60, card.y + 75)
            wait_until(lambda: not windows_sized(*CARD_SIZE), "the card to close")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_AuthUserInfo", {}).get("state") == 1,
                       "the logout to be stored")
            s.screenshot("logged-out")


def main():
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
