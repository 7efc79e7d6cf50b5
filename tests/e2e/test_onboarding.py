"""End-to-end: what a new user meets. The onboarding window on a first start, stepped through with
the keyboard, its status-item page putting the status item in a real tray (trayer) and taking it
out again, and the
status item then opening the side window; screenshots of the four pages under
<build>/test-output/e2e/<test>/. GTK, GDK and GLib may not warn on a normal start, show and quit.

Run one test:  tests/support/run-under-xvfb.sh python3 tests/e2e/test_onboarding.py Onboarding.test_new_user_steps_through_onboarding
"""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    Session, click, contrast_ratio, find_colour, run_tool, screen_pixels, screen_size, visible_windows, wait_drawn,
    wait_until, window_geometry, windows_sized, xdotool)

ONBOARDING_SIZE = (780, 482)
PERMISSION_TIP_SIZE = (380, 441)
TOOLKIT_COMPLAINT = re.compile(r"^\(QuarnAI:\d+\): [\w-]+-(WARNING|CRITICAL) \*\*.*$", re.M)


def is_switch_off(r, g, b):
    return abs(r - 0xD9) < 6 and abs(g - 0xD9) < 6 and abs(b - 0xD9) < 6


def is_switch_on(r, g, b):
    return abs(r - 0x58) < 10 and abs(g - 0xCE) < 10 and abs(b - 0x9B) < 10


def window_property(window_id, name):
    """A property as xprop prints it, with octal escapes of UTF-8 bytes turned back into text."""
    out = run_tool(["xprop", "-id", str(window_id), name]).stdout
    raw = re.sub(rb"\\([0-7]{3})", lambda m: bytes([int(m.group(1), 8)]), out.encode("utf-8", "surrogateescape"))
    return raw.decode("utf-8", "replace")


class Onboarding(unittest.TestCase):
    def session(self, **options):
        return Session(self.id().split(".")[-1], **options)

    def assert_quiet(self, s, when):
        complaints = [m.group(0) for m in TOOLKIT_COMPLAINT.finditer(s.app_log())]
        self.assertEqual(complaints, [], f"the toolkit complained {when}")

    def onboarding_window(self):
        w, h = ONBOARDING_SIZE
        window = wait_until(lambda: windows_sized(w, h), "the onboarding window")[0]
        wait_drawn(window)
        return window

    def key(self, s, window, name, page=None):
        # Keys go to the window under the pointer (no window manager): the picture at the top,
        # where no control lies.
        xdotool("mousemove", window.x + window.width // 2, window.y + 60)
        xdotool("key", name)
        if page:
            s.wait_app_log(rf"\[Splash\] show page {page}\b(?![\s\S]*\[Splash\] show page)",
                           f"page {page} after {name}")
            time.sleep(0.3)  # the frame after the change

    def test_new_user_steps_through_onboarding(self):
        with self.session(tray=True) as s:
            window = self.onboarding_window()
            self.assertIn('"欢迎使用Quarn AI助手"', window_property(window.id, "_NET_WM_NAME"),
                          "the window has no title for the window manager")
            self.assertIn("_NET_WM_ICON(CARDINAL)", window_property(window.id, "_NET_WM_ICON"),
                          "the window has no icon for the window manager")
            self.assertEqual(s.tray_icons(), [], "a status item shows before the user asked for one")
            s.screenshot("page1-welcome")

            self.key(s, window, "Return", page=2)
            s.screenshot("page2-status-item")
            lower_middle = (window.x + 250, window.y + 260, 280, 140)
            switch = wait_until(lambda: find_colour(lower_middle, is_switch_off, 40), "the status-item switch")
            # Space turns it on, a click off, Space on again.
            self.key(s, window, "space")
            wait_until(s.tray_icons, "the status item in the tray")
            wait_until(lambda: find_colour(lower_middle, is_switch_on, 40), "the switch to show on")
            click(*switch)
            wait_until(lambda: not s.tray_icons(), "the status item to leave the tray")
            wait_until(lambda: find_colour(lower_middle, is_switch_off, 40), "the switch to show off")
            self.key(s, window, "space")
            icon = wait_until(s.tray_icons, "the status item in the tray again")[-1]
            wait_until(lambda: find_colour(lower_middle, is_switch_on, 40), "the switch to show on again")
            settings = wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_ShowStatusBarItem") and
                                  s.read_settings(), "the status item to be stored on")
            self.assertEqual(settings["kQuarn_AI_UD_GuideWindow_HasChoosedShowAIBar"], 1)
            replies = wait_until(
                lambda: len(s.host_lines("received", "kA2M_KZAIIPCShowAIStatusItemChangedNotification")) == 3 and
                s.host_lines("received", "kA2M_KZAIIPCShowAIStatusItemChangedNotification"),
                "the host to hear of the status item three times")
            self.assertEqual([r.get("data") for r in replies], [True, False, True])
            s.wait_app_log(r"\[WndCtrl\] Show Guide Enable Window", "the guide tip under the status item")
            s.screenshot("page2-status-item-on")

            self.key(s, window, "Return", page=3)
            s.screenshot("page3-text-tool")
            # Space turns the text tool on; without the permission its tip comes up and answers the
            # keyboard: Escape closes it, and after Space off and on again, Return confirms it.
            for answer in ("Escape", "Return"):
                if answer == "Return":
                    self.key(s, window, "space")
                    wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_UseSelectTextTool") is False,
                               "the text tool to be stored off")
                self.key(s, window, "space")
                tip = wait_until(lambda: windows_sized(*PERMISSION_TIP_SIZE, tolerance=40), "the permission tip")[0]
                wait_drawn(tip)
                s.screenshot(f"page3-permission-tip-before-{answer}")
                self.key(s, tip, answer)
                wait_until(lambda: not windows_sized(*PERMISSION_TIP_SIZE, tolerance=40),
                           f"{answer} to close the permission tip")
            self.key(s, window, "Return", page=4)
            s.screenshot("page4-done")
            self.assertFalse((s.read_settings() or {}).get("kQuarn_AI_UD_HasShowGuideWindow"))

            # Return on the last page starts: the window goes and the guide is done.
            self.key(s, window, "Return")
            wait_until(lambda: not windows_sized(*ONBOARDING_SIZE), "the onboarding window to close")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_HasShowGuideWindow"),
                       "the onboarding to be marked as seen")

            # The status item is the way back in.
            s.wait_page_ready("chat")
            click(icon.x + icon.width // 2, icon.y + icon.height // 2)
            side = s.wait_side_window()
            width, _ = screen_size()
            self.assertGreater(side.x, width // 2, "the side window is not at the right")
            wait_drawn(side)
            s.screenshot("side-from-status-item")
            self.assert_quiet(s, "while showing")

            s.app.stop()
            self.assertEqual(s.app.popen.returncode, 0, "the application did not quit cleanly")
            self.assert_quiet(s, "by the quit")

    def test_guide_tip_points_at_the_status_item_in_the_trays_users_run(self):
        """The status item turned on in the onboarding, twice, in a tray at the bottom under i3 and in a
        light tray at the top under openbox, with the host's language English on a Chinese system:
        the guide tip comes up beside the item where the tray placed it, never over it, wide enough
        for its English text; the icon contrasts with the tray from its first appearance."""
        for wm, edge, background in ((["i3"], "bottom", None), (["openbox", "--sm-disable"], "top", 0xDCDAD5)):
            with self.subTest(wm[0]), Session(f"{self.id().split('.')[-1]}-{wm[0]}", window_manager=wm, tray=True,
                                               tray_edge=edge, tray_background=background,
                                               language="en", app_env={"LC_ALL": "zh_CN.UTF-8"}) as s:
                window = self.onboarding_window()
                self.key(s, window, "Return", page=2)
                tray = window_geometry(s.tray_window())
                _, _, _, (behind,) = screen_pixels((tray.x, tray.y + tray.height // 2, 1, 1))
                for turn in ("first", "second"):
                    shown = len(re.findall(r"Show Guide Enable Window", s.app_log()))
                    # The keyboard to the onboarding (a click on its picture, where no control lies).
                    click(window.x + window.width // 2, window.y + 60)
                    self.key(s, window, "space")
                    icon = wait_until(s.tray_icons, f"the status item in the tray, {turn} time")[-1]
                    s.wait_app_log(r"(?:[\s\S]*Show Guide Enable Window){%d}" % (shown + 1), "the guide tip")

                    def tip():
                        tips = [w for w in visible_windows() if 40 <= w.height <= 50]
                        return tips[0] if tips else None
                    placed = wait_until(tip, "the guide tip on screen")
                    time.sleep(0.5)
                    placed = tip() or placed
                    s.screenshot(f"guide-tip-{turn}")
                    covers = (placed.x < icon.x + icon.width and icon.x < placed.x + placed.width and
                              placed.y < icon.y + icon.height and icon.y < placed.y + placed.height)
                    self.assertFalse(covers, f"the tip {placed} covers the icon {icon}")
                    gap = icon.y - (placed.y + placed.height) if edge == "bottom" else placed.y - (icon.y + icon.height)
                    self.assertTrue(0 <= gap <= 20, f"the tip {placed} is not beside the icon {icon}")
                    self.assertGreater(placed.x + placed.width, icon.x, "the tip is not at the icon")
                    self.assertGreaterEqual(placed.width, 480, "the tip is too narrow for its English text")

                    def contrast():
                        read = screen_pixels((icon.x, icon.y, icon.width, icon.height))
                        return read and max(contrast_ratio(p, behind) for p in read[3]) >= 3
                    wait_until(contrast, f"the icon to contrast 3:1 with the tray's {behind}", 3)
                    click(window.x + window.width // 2, window.y + 60)
                    self.key(s, window, "space")
                    wait_until(lambda: not s.tray_icons(), "the status item to leave the tray")

    def test_escape_closes_onboarding(self):
        with self.session() as s:
            window = self.onboarding_window()
            self.key(s, window, "Return", page=2)
            self.key(s, window, "Escape")
            wait_until(lambda: not windows_sized(*ONBOARDING_SIZE), "Escape to close the onboarding window")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_HasShowGuideWindow"),
                       "the onboarding to be marked as seen")
            self.assertNotIn("kA2M_KZAIIPCShowAIStatusItemChangedNotification",
                             [line.split(" ")[1] for line in s.host_output().splitlines() if " " in line])
            s.screenshot("closed")
            self.assert_quiet(s, "on a start with the onboarding")


def main():
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
