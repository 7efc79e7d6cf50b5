"""End-to-end tests: the real application binary on the desktop backend, under Xvfb with a private
session bus, against the AI service, host and text-tool stand-ins. Each test runs its own
application in a temporary home and system root and saves screenshots under
<build>/test-output/e2e/<test>/.

Run one test:  tests/support/run-under-xvfb.sh python3 tests/e2e/test_e2e.py EndToEnd.test_side_hotkey
(QUARN_BINARY_DIR names the build folder; CTest sets it.)
"""

import base64
import json
import os
import re
import shutil
import signal
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    HOST_BUNDLE, SCREENSHOT_HOTKEY, SHORTCUT_FOLDER_RELATIVE, SIDE_HOTKEY, Session,
    click, close_button, contrast_ratio, find_colour, screen_pixels, screen_size, settings_dictionary, stacking_order,
    visible_windows, wait_drawn, wait_until, window_geometry, windows_sized, xdotool)

ONBOARDING_SIZE = (780, 482)
CONFIRM_SIZE = (412, 140)
# The confirm dialog's buttons from its top-left corner: "取消" and "确认关闭".
CONFIRM_CANCEL = (238 + 36, 140 - 20 - 12)
CONFIRM_OK = (320 + 36, 140 - 20 - 12)
LOGIN_SIZE = (370, 450)


def png_size(data_address):
    """Width and height of a PNG data address, read from its header (the service keeps the start
    of long strings)."""
    prefix = "data:image/png;base64,"
    if not data_address.startswith(prefix):
        return None
    head = base64.b64decode(data_address[len(prefix):len(prefix) + 32])
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def is_login_blue(r, g, b):
    # The login page's big button (#3370ff).
    return abs(r - 0x33) < 16 and abs(g - 0x70) < 16 and b > 235


class EndToEnd(unittest.TestCase):
    maxDiff = None

    def session(self, **options):
        name = self.id().split(".")[-1]
        return Session(name, **options)

    # -- helpers

    def expected_side_frame(self):
        width, height = screen_size()
        w = min(max(0.2 * width, 390), 420)
        h = min(height - 40, 2160)
        return int(width - w - 20), 20, int(w), int(h)

    def assert_side_window_at_top_right(self, s):
        side = s.wait_side_window()
        self.assertEqual((side.x, side.y, side.width, side.height), self.expected_side_frame(),
                         "the side window is not at the top right of the screen under the mouse")
        return side

    def messages_to(self, s, page, handler):
        return [e.get("data") for e in s.events(page, "n2j", handler)]

    # -- first run

    def test_first_run_shows_onboarding(self):
        with self.session() as s:
            # A new user: no settings file yet.
            w, h = ONBOARDING_SIZE
            onboarding = wait_until(lambda: windows_sized(w, h), "the onboarding window")[0]
            wait_drawn(onboarding)
            s.screenshot("onboarding")
            screen_w, screen_h = screen_size()
            self.assertEqual(onboarding.x, (screen_w - w) // 2, "the onboarding window is not centred")
            self.assertTrue(0 <= onboarding.y <= screen_h - h)
            wait_until(lambda: s.host_lines("received", "kA2M_KZAIIPCEnableGetTextProcessNotification"),
                       "the host to be asked to enable the text tool")
            settings = wait_until(s.read_settings, "the settings file")
            self.assertEqual(len(settings), 9, sorted(settings))
            self.assertFalse(settings["kQuarn_AI_UD_HasShowGuideWindow"])
            self.assertNotIn("kQuarn_AI_FILE_DRAG_STATE", settings)
            self.assertEqual(settings["kQuarn_AI_UD_AuthUserInfo"], {"state": 1, "avatar": "", "userName": ""})

            # Closing it marks the onboarding as seen ...
            click(*close_button(onboarding))
            wait_until(lambda: not windows_sized(w, h), "the onboarding window to close")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_HasShowGuideWindow"),
                       "the onboarding to be marked as seen")
            s.screenshot("onboarding-closed")

            # ... so the next start shows none.
            s.app.stop()
            s.app = None
            s.start_app()
            s.wait_page_ready("chat")
            time.sleep(2)
            self.assertEqual(windows_sized(w, h), [], "the onboarding window came again")
            s.screenshot("second-start")

    # -- the side window

    def test_side_hotkey(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.set_hotkey("side", SIDE_HOTKEY)
            saved = s.home / SHORTCUT_FOLDER_RELATIVE / "1"
            self.assertTrue(saved.exists(), "the side-window hot key was not saved")
            self.assertEqual(s.side_window(), None, "the side window shows before the hot key")

            xdotool("mousemove", 700, 450)
            xdotool("key", SIDE_HOTKEY[2])
            side = self.assert_side_window_at_top_right(s)
            s.wait_page_ready("chat")
            wait_drawn(side)
            s.screenshot("side-window")
            self.assertGreaterEqual(s.status()["pages"].get("chat", 0), 1, "the chat page was never requested")
            self.assertEqual(self.messages_to(s, "chat", "SwipeOverMessage"), [],
                             "the hot key sent text to the page")

            # The close button slides it out and the page hears that the window hid.
            click(*close_button(side))
            s.wait_side_window_gone()
            wait_until(lambda: s.events("chat", "n2j", "WindowHide"), "the chat page to hear WindowHide")
            s.screenshot("side-window-closed")

            # The hot key brings it back, at the same place.
            xdotool("mousemove", 300, 700)
            xdotool("key", SIDE_HOTKEY[2])
            self.assert_side_window_at_top_right(s)

    def test_text_tool_brings_text_to_chat(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            s.text_tool("side 2 what is a stand-in")
            self.assert_side_window_at_top_right(s)

            def received(text):
                return lambda: [d for d in self.messages_to(s, "chat", "SwipeOverMessage")
                                if d and d.get("message") == text]
            wait_until(received("what is a stand-in"), "the chat page to receive the text")
            wait_until(lambda: any(d and d.get("visible") for d in self.messages_to(s, "chat", "WebShow")),
                       "the chat page to hear that it shows")
            s.screenshot("text-on-chat")

            # Text that tries to break out of its string reaches the page as it was sent.
            tricky = "it's \"quoted\" </script><b>bold</b> \\ back'); alert(1); ('\u2028end"
            s.text_tool("raw " + json.dumps(["QuarnGetText", "1", "2", tricky]))
            wait_until(received(tricky), "the chat page to receive the tricky text unchanged")

            # Source types 1, 3 and 4 open the window without text; other codes do nothing.
            before = len(self.messages_to(s, "chat", "SwipeOverMessage"))
            s.text_tool("side 1 not for the page")
            s.text_tool("raw " + json.dumps(["QuarnGetText", "1", "2"]))  # too few elements
            s.text_tool("raw " + json.dumps(["QuarnGetText", "1", "9", "unknown type"]))
            s.wait_app_log(r"arguments is invalid", "the short event to be logged as invalid")
            s.wait_app_log(r"Show AI Side Window, type: 9", "the unknown source type to be logged")
            time.sleep(1)
            self.assertEqual(len(self.messages_to(s, "chat", "SwipeOverMessage")), before)
            s.screenshot("after-other-events")

    def test_text_before_the_page_is_ready(self):
        # The page signals that it is ready 3 s after the bridge comes up; text sent before then
        # waits for it.
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          service_args=["--ready-delay", "3000"]) as s:
            s.text_tool("side 2 early words")
            self.assert_side_window_at_top_right(s)
            s.wait_page_ready("chat")
            wait_until(lambda: [d for d in self.messages_to(s, "chat", "SwipeOverMessage")
                                if d and d.get("message") == "early words"],
                       "the text sent before the page was ready to arrive")
            s.screenshot("early-text")

    # -- login

    def test_logged_out_user_logs_in(self):
        with self.session(settings=settings_dictionary(logged_in=False)) as s:
            s.wait_page_ready("chat")
            s.text_tool("side 2 please explain")
            w, h = LOGIN_SIZE
            login = wait_until(lambda: windows_sized(w, h), "the login window")[0]
            screen_w, _ = screen_size()
            self.assertEqual(login.x, (screen_w - w) // 2, "the login window is not centred")
            self.assertIsNone(s.side_window(), "the side window opened for a logged-out user")
            s.wait_page_ready("login")
            wait_drawn(login)
            s.screenshot("login-window")
            self.assertEqual(self.messages_to(s, "chat", "SwipeOverMessage"), [])

            # The login page's button has the focus: Return with the pointer on the window.
            xdotool("mousemove", login.x + w // 2, login.y + 60)
            xdotool("key", "Return")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_AuthUserInfo", {}).get("state") == 0,
                       "the login to be stored")
            auth = s.read_settings()["kQuarn_AI_UD_AuthUserInfo"]
            self.assertEqual(auth["userName"], "Test User")
            wait_until(lambda: not windows_sized(w, h), "the login window to close after the login")

            # Every page hears of it.
            for page in ("chat", "home"):
                wait_until(lambda: [d for d in self.messages_to(s, page, "LoginEventNotify")
                                    if d and d.get("type") == "loginin"],
                           f"the {page} page to hear of the login")
                wait_until(lambda: [d for d in self.messages_to(s, page, "ClientUserChange")
                                    if d and d.get("type") == "loginin"],
                           f"the {page} page to hear of the new user")
            s.screenshot("logged-in")

            # Logged in, the same event brings the side window with the text.
            s.text_tool("side 2 please explain")
            self.assert_side_window_at_top_right(s)
            wait_until(lambda: [d for d in self.messages_to(s, "chat", "SwipeOverMessage")
                                if d and d.get("message") == "please explain"],
                       "the text to reach the chat page after the login")
            s.screenshot("text-after-login")

    def test_login_page_takes_a_click(self):
        with self.session(settings=settings_dictionary(logged_in=False)) as s:
            s.wait_page_ready("chat")
            s.text_tool("side 2 hello")
            w, h = LOGIN_SIZE
            login = wait_until(lambda: windows_sized(w, h), "the login window")[0]
            s.wait_page_ready("login")
            button = wait_until(lambda: find_colour((login.x, login.y, login.width, login.height),
                                                    is_login_blue, 50), "the login page's button to show")
            # A first click may only activate the window; a second one is the user's click.
            click(*button)
            time.sleep(0.5)
            if windows_sized(w, h):
                click(*button)
            s.screenshot("clicked")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_AuthUserInfo", {}).get("state") == 0,
                       "a click on the login page's button to log in")

    # -- screenshot

    def test_screenshot_hotkey_sends_image_to_chat(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            s.set_hotkey("screenshot", SCREENSHOT_HOTKEY)
            self.assertTrue((s.home / SHORTCUT_FOLDER_RELATIVE / "2").exists())
            screen_w, screen_h = screen_size()

            xdotool("mousemove", 100, 100)
            xdotool("key", SCREENSHOT_HOTKEY[2])
            wait_until(lambda: windows_sized(screen_w, screen_h), "the capture overlay")
            time.sleep(0.3)
            xdotool("mousemove", 200, 200)
            xdotool("mousedown", 1)
            for x, y in ((260, 240), (380, 320), (500, 400)):
                xdotool("mousemove", x, y)
                time.sleep(0.05)
            xdotool("mouseup", 1)
            time.sleep(0.3)
            s.screenshot("selection")
            xdotool("key", "Return")

            wait_until(lambda: not windows_sized(screen_w, screen_h), "the capture overlay to close")
            images = wait_until(lambda: self.messages_to(s, "chat", "OnFileForAnalyze"),
                                "the chat page to receive the image")
            self.assertEqual(png_size(images[0].get("requestUrl", "")), (300, 200),
                             "the image is not the dragged rectangle")
            self.assert_side_window_at_top_right(s)
            time.sleep(0.5)
            s.screenshot("image-on-chat")

    def test_screenshot_cancelled_sends_nothing(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            s.set_hotkey("screenshot", SCREENSHOT_HOTKEY)
            screen_w, screen_h = screen_size()
            xdotool("mousemove", 100, 100)
            xdotool("key", SCREENSHOT_HOTKEY[2])
            wait_until(lambda: windows_sized(screen_w, screen_h), "the capture overlay")
            time.sleep(0.3)
            xdotool("key", "Escape")
            wait_until(lambda: not windows_sized(screen_w, screen_h), "the capture overlay to close")
            time.sleep(1.5)
            self.assertIsNone(s.side_window(), "a cancelled capture opened the side window")
            self.assertEqual(self.messages_to(s, "chat", "OnFileForAnalyze"), [])
            s.screenshot("cancelled")

    # -- tool windows

    def tool_windows(self, s):
        """The application's visible windows other than the side window and the confirm sheet."""
        side = s.side_window()
        return [w for w in visible_windows()
                if (side is None or w.id != side.id) and (w.width, w.height) != CONFIRM_SIZE]

    def open_tool(self, s, button, page):
        """Clicks one of the chat page's tool buttons; answers the tool window that opened."""
        before = {w.id for w in self.tool_windows(s)}
        s.page_command("chat", click=button)
        window = wait_until(lambda: [w for w in self.tool_windows(s) if w.id not in before],
                            f"the {page} window to open")[0]
        s.wait_page_ready(page)
        wait_drawn(window)
        return window

    def test_tool_buttons_open_tool_windows(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            s.text_tool("side 1")
            side = self.assert_side_window_at_top_right(s)
            screen_w, screen_h = screen_size()
            for button, page in (("action-write", "write"), ("action-picture", "picture"), ("action-file", "file")):
                window = self.open_tool(s, button, page)
                # Placed against the side window's left edge, as high as it, never off screen.
                self.assertEqual((window.y, window.height), (side.y, side.height), page)
                self.assertLessEqual(window.x + window.width, side.x, page)
                self.assertGreaterEqual(window.x, 0, page)
                time.sleep(0.5)
                s.screenshot(f"{page}-window")
            # The file actions reached their pages, which report the file they opened.
            for page, path in (("picture", "/tmp/quarn-sample.png"), ("file", "/tmp/quarn-sample.pdf")):
                wait_until(lambda: self.messages_to(s, page, "HandleFile"), f"the {page} page to hear of its file")
                self.assertEqual([d.get("path") for d in self.messages_to(s, page, "HandleFile")], [path])
            wait_until(lambda: s.events("picture", "j2n", "OpenFileNotify"), "the image page to report its file")
            self.assertEqual(self.messages_to(s, "write", "HandleFile"), [])
            self.assertEqual(len(self.tool_windows(s)), 3)
            # New-window links to other sites go to the default browser, never into a tool window.
            outside = {"open-outside": "https://www.example.com/outside?from=chat",
                       "open-outside-document": "https://www.example.com/report?openwith=mgr_document"}
            for link in outside:
                s.page_command("chat", click=link)
            wait_until(lambda: len(s.opened()) >= len(outside), "the links to reach the browser")
            self.assertEqual(sorted(s.opened()), sorted(outside.values()))
            self.assertEqual(len(self.tool_windows(s)), 3)

    def test_wheel_over_tab_strips_scrolls_them_and_never_ends_the_application(self):
        white = (lambda r, g, b: r > 250 and g > 250 and b > 250)
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.wait_page_ready("chat")
            for button, page, opened in (("action-picture", "picture", ("j2n", "OpenFileNotify")),
                                         ("action-file", "file", ("n2j", "HandleFile"))):
                window = self.open_tool(s, button, page)
                # At the smallest width the strip shows fewer than four of five tabs.
                xdotool("windowsize", window.id, 1000, 700)
                for count in range(2, 6):
                    s.page_command("chat", click=button)
                    wait_until(lambda: len(s.events(page, *opened)) >= count, f"{page} tab {count} to open")
                time.sleep(1)
                window = next(w for w in self.tool_windows(s) if w.id == window.id)
                self.assertEqual(window.width, 1000, page)
                # The selected (newest) tab's white face, in the strip's top rows.
                strip = (window.x + 100, window.y + 3, window.width - 200, 6)

                def face():
                    return find_colour(strip, white, 20)

                at_end = wait_until(face, f"the {page} window's selected tab")
                s.screenshot(f"{page}-strip-at-end")
                xdotool("mousemove", window.x + 300, window.y + 20)
                # Vertical notches, sideways notches and Shift with a vertical wheel each move the
                # strip to its start (the selected tab leaves its place) and back again.
                for away, back, keys in (("4", "5", ()), ("6", "7", ()), ("4", "5", ("shift",))):
                    for key in keys:
                        xdotool("keydown", key)
                    xdotool("click", "--repeat", 12, "--delay", 30, away)
                    time.sleep(0.5)
                    moved = face()
                    s.screenshot(f"{page}-strip-wheel-{away}{'-' + '-'.join(keys) if keys else ''}")
                    xdotool("click", "--repeat", 12, "--delay", 30, back)
                    for key in keys:
                        xdotool("keyup", key)
                    time.sleep(0.5)
                    self.assertTrue(s.app.running(), f"the application ended under wheel {away} over the {page} strip")
                    self.assertNotEqual(moved, at_end, f"wheel {away} {keys} did not move the {page} strip")
                    wait_until(lambda: face() == at_end, f"the {page} strip to come back under wheel {back}")
            self.assertTrue(s.app.running())
            self.assertEqual(len(self.tool_windows(s)), 2)

    def test_unsaved_image_tab_asks_before_closing(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          service_args=["--work-unsaved"]) as s:
            s.wait_page_ready("chat")
            window = self.open_tool(s, "action-picture", "picture")
            wait_until(lambda: s.events("picture", "j2n", "OpenFileNotify"), "the image page to report its file")
            time.sleep(0.5)
            s.screenshot("image-tab-with-file")
            tab_close = (window.x + 100 + 200 - 12 - 10, window.y + 20)

            # The tab's close button asks the page, which says its work is not saved: the user is asked.
            click(*tab_close)
            wait_until(lambda: s.events("picture", "n2j", "IsSaved"), "the page to be asked whether it saved")
            sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the confirm sheet")[0]
            s.wait_app_log(r"\[IMG\] confirm close: 是否关闭 \u2068quarn-sample\u2069 文件？关闭后将无法继续操作。",
                           "the sheet to name the tab's file")
            wait_drawn(sheet)
            time.sleep(0.3)
            s.screenshot("confirm-sheet")

            # Cancel keeps the tab and its window.
            click(sheet.x + CONFIRM_CANCEL[0], sheet.y + CONFIRM_CANCEL[1])
            wait_until(lambda: not windows_sized(*CONFIRM_SIZE), "the sheet to go after Cancel")
            time.sleep(1)
            self.assertIn(window.id, [w.id for w in self.tool_windows(s)], "Cancel closed the window")
            self.assertEqual(len(s.events("picture", "n2j", "IsSaved")), 1)
            s.screenshot("after-cancel")

            # Escape is Cancel too.
            click(*tab_close)
            sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the confirm sheet again")[0]
            wait_drawn(sheet)
            xdotool("mousemove", sheet.x + 60, sheet.y + 60)
            xdotool("key", "Escape")
            wait_until(lambda: not windows_sized(*CONFIRM_SIZE), "the sheet to go after Escape")
            self.assertIn(window.id, [w.id for w in self.tool_windows(s)], "Escape closed the window")

            # OK closes the tab; the empty window goes away.
            click(*tab_close)
            sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the confirm sheet a third time")[0]
            wait_drawn(sheet)
            click(sheet.x + CONFIRM_OK[0], sheet.y + CONFIRM_OK[1])
            wait_until(lambda: window.id not in [w.id for w in self.tool_windows(s)], "the empty image window to go")
            s.wait_app_log(r"\[WndCtrl\] Destory AI Image Window", "the image window to be destroyed")
            s.screenshot("after-ok")

    def test_quitting_never_drops_unsaved_image_work_silently(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          service_args=["--work-unsaved"]) as s:
            s.wait_page_ready("chat")
            self.open_tool(s, "action-picture", "picture")
            wait_until(lambda: s.events("picture", "j2n", "OpenFileNotify"), "the image page to report its file")

            # Asked to end, the application first asks about the unsaved file, and stays when kept.
            s.app.popen.send_signal(signal.SIGTERM)
            sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the confirm sheet on quitting")[0]
            s.wait_app_log(r"terminate held: tool windows have open files", "the quit to be held")
            wait_drawn(sheet)
            time.sleep(0.3)
            s.screenshot("quit-asks")
            click(sheet.x + CONFIRM_CANCEL[0], sheet.y + CONFIRM_CANCEL[1])
            s.wait_app_log(r"terminate cancelled: the user kept open files", "the quit to be cancelled")
            time.sleep(1)
            self.assertTrue(s.app.running(), "the application ended although the user kept the file")
            self.assertEqual(len(self.tool_windows(s)), 1)

            # Asked again and allowed, it closes the file and ends.
            s.app.popen.send_signal(signal.SIGTERM)
            sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the confirm sheet on the second quit")[0]
            wait_drawn(sheet)
            click(sheet.x + CONFIRM_OK[0], sheet.y + CONFIRM_OK[1])
            try:
                s.app.popen.wait(15)
            except Exception:
                s.screenshot("still-running")
                self.fail("the application did not end after the user let the file go")
            self.assertIn("[AppDelegate] applicationWillTerminate", s.app_log())

    def answer_question(self, s, tag, count, ok, label=None):
        """Waits for the `count`th confirm question logged with `tag` ("IMG", "DOC", "WRITE") and
        answers it."""
        pattern = re.compile(r"\[" + tag + r"\] confirm close: ")
        wait_until(lambda: len(pattern.findall(s.app_log())) >= count, f"{tag} question {count}")
        sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), f"the sheet of {tag} question {count}")[0]
        wait_drawn(sheet)
        time.sleep(0.3)
        if label:
            s.screenshot(label)
        button = CONFIRM_OK if ok else CONFIRM_CANCEL
        click(sheet.x + button[0], sheet.y + button[1])

    def wait_quit_cancelled(self, s, count):
        wait_until(lambda: s.app_log().count("terminate cancelled: the user kept open files") >= count,
                   f"quit {count} to be cancelled")
        time.sleep(1)
        self.assertTrue(s.app.running(), "the application ended although the user kept work")

    def wait_app_end(self, s):
        try:
            s.app.popen.wait(20)
        except Exception:
            s.screenshot("still-running")
            self.fail("the application did not end after the user let every piece of work go")
        self.assertIn("[AppDelegate] applicationWillTerminate", s.app_log())

    def test_quitting_asks_about_unsaved_writing_image_and_document_work(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          service_args=["--work-unsaved"]) as s:
            s.wait_page_ready("chat")
            self.open_tool(s, "action-write", "write")
            self.open_tool(s, "action-picture", "picture")
            self.open_tool(s, "action-file", "file")
            s.page_command("chat", click="action-file")
            wait_until(lambda: len(s.events("file", "j2n", "OpenFileNotify")) >= 2, "two documents to be open")
            wait_until(lambda: s.events("picture", "j2n", "OpenFileNotify"), "the image page to report its file")

            # Cancel on the first question keeps everything.
            s.app.popen.send_signal(signal.SIGTERM)
            self.answer_question(s, "WRITE", 1, ok=False, label="writing-question")
            self.wait_quit_cancelled(s, 1)
            self.assertEqual(len(self.tool_windows(s)), 3)

            # Each piece of work is asked about in turn; Cancel on the last keeps the documents.
            s.app.popen.send_signal(signal.SIGTERM)
            self.answer_question(s, "WRITE", 2, ok=True)
            self.answer_question(s, "IMG", 1, ok=True, label="image-question")
            self.answer_question(s, "DOC", 1, ok=False, label="document-question")
            self.wait_quit_cancelled(s, 2)
            self.assertEqual(len(self.tool_windows(s)), 2)  # the writing and the document windows

            # Let go, the application ends.
            s.app.popen.send_signal(signal.SIGTERM)
            self.answer_question(s, "WRITE", 3, ok=True)
            self.answer_question(s, "DOC", 2, ok=True)
            self.wait_app_end(s)

    def test_a_tab_closed_during_a_quit_leaves_the_quit_answerable(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          service_args=["--work-unsaved"]) as s:
            s.wait_page_ready("chat")
            window = self.open_tool(s, "action-picture", "picture")
            s.page_command("chat", click="action-picture")
            wait_until(lambda: len(s.events("picture", "j2n", "OpenFileNotify")) >= 2, "two images to be open")
            time.sleep(1)
            first_tab_close = (window.x + 100 + 200 - 12 - 10, window.y + 20)

            # Quit, OK on the selected tab, at once the user closes the other tab, Cancel on its question.
            s.app.popen.send_signal(signal.SIGTERM)
            self.answer_question(s, "IMG", 1, ok=True)
            click(*first_tab_close)
            self.answer_question(s, "IMG", 2, ok=False, label="own-tab-question")
            self.wait_quit_cancelled(s, 1)

            # A later quit asks again, and ends the application once the user lets the file go.
            s.app.popen.send_signal(signal.SIGTERM)
            self.answer_question(s, "IMG", 3, ok=True, label="asked-again")
            self.wait_app_end(s)

    def test_a_quits_question_stays_in_front_of_the_other_windows(self):
        def above(upper, lower):
            order = stacking_order()
            return upper in order and lower in order and order.index(upper) > order.index(lower)

        for wm in (["openbox", "--sm-disable"], ["i3"]):
            name = f"{self.id().split('.')[-1]}-{wm[0]}"
            with self.subTest(wm[0]), Session(name, settings=settings_dictionary(logged_in=True), logged_in=True,
                                              service_args=["--work-unsaved"], window_manager=wm) as s:
                s.wait_page_ready("chat")
                writing = self.open_tool(s, "action-write", "write")
                s.app.popen.send_signal(signal.SIGTERM)
                s.wait_app_log(r"\[WRITE\] confirm close: ", "the writing question")
                sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the writing question's sheet")[0]
                # openbox stacks the tool windows on one another; i3 tiles them side by side.
                covered = [sheet.id, writing.id] if wm[0] == "openbox" else [sheet.id]

                # A chat action opens an image tab while the question is up: the question stays in front.
                s.page_command("chat", click="action-picture")
                image = wait_until(lambda: [w for w in self.tool_windows(s) if w.id != writing.id],
                                   "the image window to open")[0]
                wait_until(lambda: s.events("picture", "j2n", "OpenFileNotify"), "the image page to report its file")
                s.wait_app_log(r"a tool window was shown while a quit asks", "the question to stay in front")
                time.sleep(1)
                self.assertTrue(all(above(w, image.id) for w in covered), "the image window covered the question")
                wait_drawn(sheet)
                s.screenshot(f"{wm[0]}-question-in-front")

                # The user brings the image window forward: it says that a quit waits, and its close
                # button brings the question forward instead of closing.
                xdotool("windowactivate", image.id)
                time.sleep(1)
                image = [w for w in visible_windows() if w.id == image.id][0]
                click(*close_button(image))
                s.wait_app_log(r"the window waits for the quit's question", "the image window to say it waits")
                wait_until(lambda: all(above(w, image.id) for w in covered), "the question to come forward")
                time.sleep(0.5)
                s.screenshot(f"{wm[0]}-close-button-brings-the-question")
                self.assertIn(image.id, [w.id for w in self.tool_windows(s)], "the image window closed")

                # Cancel keeps the application and its work. The sheet goes with its window, which a
                # tiling manager resized when the image window came.
                sheet = [w for w in windows_sized(*CONFIRM_SIZE) if w.id == sheet.id][0]
                click(sheet.x + CONFIRM_CANCEL[0], sheet.y + CONFIRM_CANCEL[1])
                self.wait_quit_cancelled(s, 1)
                wait_until(lambda: not windows_sized(*CONFIRM_SIZE), "the sheet to go")
                self.assertLessEqual({writing.id, image.id}, {w.id for w in self.tool_windows(s)})

    # -- status item

    def test_status_item_follows_host(self):
        with self.session(settings=settings_dictionary(status_item=False), tray=True) as s:
            s.wait_page_ready("chat")
            self.assertEqual(s.tray_icons(), [], "a tray icon shows although the setting is off")

            s.host_command("status on")
            wait_until(s.tray_icons, "the tray icon to show")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_ShowStatusBarItem") is True,
                       "the setting to be written on")
            replies = wait_until(lambda: s.host_lines("received", "kA2M_KZAIIPCShowAIStatusItemChangedNotification"),
                                 "the application to tell the host")
            self.assertEqual(replies[-1].get("data"), True)
            s.screenshot("tray-on")

            # The same value again changes nothing and tells nobody.
            s.host_command("status on")
            wait_until(lambda: len(s.host_lines("sent", "kM2A_KZAIIPCShowAIStatusItemChangedNotification")) == 2,
                       "the host to send the second status-item notification")
            time.sleep(1)
            self.assertEqual(len(s.host_lines("received", "kA2M_KZAIIPCShowAIStatusItemChangedNotification")), 1)

            s.host_command("status off")
            wait_until(lambda: not s.tray_icons(), "the tray icon to go")
            wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_ShowStatusBarItem") is False,
                       "the setting to be written off")
            replies = wait_until(
                lambda: [r for r in s.host_lines("received", "kA2M_KZAIIPCShowAIStatusItemChangedNotification")
                         if r.get("data") is False], "the application to tell the host it is off")
            s.screenshot("tray-off")

    def test_status_item_readable_on_dark_and_light_trays(self):
        # trayer publishes no colours for its icons: the icon's tint comes from the panel's pixels.
        for background in (0x202020, 0xF0F0F0):
            label = f"tray-{background:06x}"
            with self.subTest(label), Session(f"{self.id().split('.')[-1]}-{label}", tray=True, tray_background=background,
                                              settings=settings_dictionary(status_item=True)) as s:
                icon = wait_until(s.tray_icons, "the tray icon")[-1]
                tray = window_geometry(s.tray_window())
                _, _, _, corner = screen_pixels((tray.x, tray.y, 1, 1))
                behind = corner[0]

                def best_contrast():
                    read = screen_pixels((icon.x, icon.y, icon.width, icon.height))
                    best = max(contrast_ratio(p, behind) for p in read[3]) if read else 0
                    return best if best >= 3 else None
                try:
                    wait_until(best_contrast, f"the icon to contrast 3:1 with the tray's {behind}")
                finally:
                    s.screenshot(label)

    def test_status_item_click_opens_side_window(self):
        with self.session(settings=settings_dictionary(status_item=True, logged_in=True), logged_in=True,
                          tray=True) as s:
            icon = wait_until(s.tray_icons, "the tray icon from the stored setting")[-1]
            s.wait_page_ready("chat")
            click(icon.x + icon.width // 2, icon.y + icon.height // 2)
            self.assert_side_window_at_top_right(s)
            s.screenshot("side-from-tray")

    # -- host watch

    def test_host_removal_ends_application(self):
        with self.session(settings=settings_dictionary()) as s:
            s.wait_page_ready("chat")
            s.screenshot("running")
            # The bundle gone while the host still runs: the application stays.
            shutil.rmtree(s.sysroot / HOST_BUNDLE)
            time.sleep(2.5)
            self.assertTrue(s.app.running(), "the application ended while the host still ran")

            s.host_command("quit")
            s.host.popen.wait(10)
            stopped = time.monotonic()
            # A behaviour check with a generous bound, not a speed measurement: the one-second
            # tick must notice within a few ticks.
            try:
                s.app.popen.wait(3.0)
            except Exception:
                s.screenshot("still-running")
                self.fail("the application still runs 3 s after the host stopped and its bundle went")
            elapsed = time.monotonic() - stopped
            print(f"application ended {elapsed:.2f} s after the host stopped", file=sys.stderr)
            self.assertIn("[AppDelegate] found Quarn not exist in /Applications, terminate self.", s.app_log())
            s.screenshot("ended")
            self.assertEqual(visible_windows(), [])

    def test_host_stopped_but_installed_keeps_application(self):
        with self.session(settings=settings_dictionary()) as s:
            s.wait_page_ready("chat")
            s.host.stop()
            time.sleep(3)
            self.assertTrue(s.app.running(), "the application ended although the host is still installed")
            s.screenshot("still-running")


def main():
    # A failing end-to-end test says where to look.
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
