"""End-to-end tests of the explain and translate panels and of starting at login: the real
application on the desktop backend, with the text-tool stand-in running (it answers a panel's new
size with the panel's frame, as the real tool does) and the host stand-in. Screenshots go to
<build>/test-output/e2e/<test>/.

Run one test:  tests/support/run-under-xvfb.sh python3 tests/e2e/test_panels.py Panels.test_explain_panel
"""

import configparser
import os
import plistlib
import re
import shlex
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    Session, click, find_colour, program, screen_size, settings_dictionary,
    notification_lines, visible_windows, wait_drawn, wait_until, write_control_line)

AI_ID = "com.morvane.QuarnAIAssistant"
TOOL_ID = "com.morvane.QuarnGetText"
AI_PROGRAM = "/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAI.app/Contents/MacOS/QuarnAI"
SIZE_CHANGED = "A2T_KZAIIPCPanelWindowSizeChangedNotification"


def bus_name_pid(name):
    """The process that owns a name on the session bus, or None."""
    reply = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                            f"string:{name}"], capture_output=True, text=True, timeout=10)
    m = re.search(r"uint32 (\d+)", reply.stdout)
    return int(m.group(1)) if reply.returncode == 0 and m else None


def panel_height(text):
    # What the stand-in's panel pages ask for (peers/ai-service/page/AIPage.js).
    lines = -(-len(text) // 40) + 1
    return max(240, min(640, 160 + 24 * lines))


def is_continue_green(r, g, b):
    # The panel pages' "Continue in chat" button (#12b886).
    return abs(r - 0x12) < 24 and abs(g - 0xb8) < 24 and abs(b - 0x86) < 24


class Panels(unittest.TestCase):
    maxDiff = None

    def session(self, **options):
        return Session(self.id().split(".")[-1], **options)

    def start_text_tool(self, s):
        """The text-tool stand-in, taking commands on a FIFO."""
        fifo = s.root / "text-tool.fifo"
        tool = s.add_process("QuarnGetText", [program("QuarnGetText"), "--control", fifo, "--no-stdin"])
        tool.wait_for_line(r"^ready ", "the text-tool stand-in to own its bus name")
        return tool, fifo

    def tool_command(self, fifo, line):
        write_control_line(fifo, line, "the text tool")

    def received_by_tool(self, tool, name):
        return notification_lines(tool.text(), "received", name)

    def panel_window(self, x, y, width, height):
        """The panel at a frame in the application's coordinates (origin bottom left)."""
        _, screen_h = screen_size()
        top = screen_h - y - height
        for w in visible_windows():
            if (w.x, w.y, w.width, w.height) == (x, top, width, height):
                return w
        return None

    def messages_to(self, s, page, handler):
        return [e.get("data") for e in s.events(page, "n2j", handler)]

    def show_panel(self, s, tool, fifo, kind, text, x, y):
        """Asks for a panel through the tool and waits until the page has the text and the panel
        has the frame the tool answered with for the page's size."""
        panel_type = 1 if kind == "explain" else 2
        before = len(self.received_by_tool(tool, SIZE_CHANGED))
        self.tool_command(fifo, f"{kind} {text} {x} {y}")
        wait_until(lambda: [d for d in self.messages_to(s, kind, "SwipeOverMessage")
                            if d and d.get("message") == text], f"the {kind} page to receive the text")
        # The page reports each message to the service on its own request: the show that follows
        # the text may be heard a moment later.
        wait_until(lambda: (self.messages_to(s, kind, "WebShow") or [None])[-1] == {"type": kind, "visible": True},
                   f"the {kind} page to hear that its panel shows")

        # The page's size goes to the tool, which answers with the frame at the point it gave.
        height = panel_height(text)
        sizes = wait_until(lambda: self.received_by_tool(tool, SIZE_CHANGED)[before:],
                           f"the tool to hear the {kind} page's size")
        self.assertEqual(sizes[0], {"type": panel_type, "size": f"{{400, {height}}}"})
        panel = wait_until(lambda: self.panel_window(x, y, 400, height),
                           f"the {kind} panel at ({x}, {y}) sized 400 x {height}")
        wait_drawn(panel)
        # The page itself, not only the panel's white surface: its text and its button.
        region = (panel.x, panel.y, panel.width, panel.height)
        wait_until(lambda: find_colour(region, lambda r, g, b: r + g + b < 150, 300) and
                   find_colour(region, is_continue_green, 200), f"the {kind} page to be drawn", interval=0.2)
        return panel

    def assert_hides_on_click_elsewhere(self, s, kind, panel):
        before = len(self.messages_to(s, kind, "SwipeWindowClose"))
        click(40, 40)  # the desktop, away from every window
        wait_until(lambda: not [w for w in visible_windows() if w.id == panel.id],
                   f"the {kind} panel to hide after a click elsewhere")
        wait_until(lambda: len(self.messages_to(s, kind, "SwipeWindowClose")) > before,
                   f"the {kind} page to hear that its panel closed")
        wait_until(lambda: self.messages_to(s, kind, "WebShow")[-1] == {"type": kind, "visible": False},
                   f"the {kind} page to hear that its panel hid")

    # -- the panels

    def test_explain_and_translate_panels(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            tool, fifo = self.start_text_tool(s)
            s.wait_page_ready("explain")
            s.wait_page_ready("translate")

            text = "what does a stand-in do for a test suite that runs the real thing"
            panel = self.show_panel(s, tool, fifo, "explain", text, 200, 300)
            s.screenshot("explain-panel")
            self.assertIsNone(s.side_window(), "the side window opened with the panel")
            self.assert_hides_on_click_elsewhere(s, "explain", panel)
            s.screenshot("explain-hidden")

            panel = self.show_panel(s, tool, fifo, "translate", "hola mundo", 700, 150)
            s.screenshot("translate-panel")
            self.assert_hides_on_click_elsewhere(s, "translate", panel)

    def test_the_same_request_shows_a_panel_in_the_same_place_under_i3(self):
        # i3 frames a floating panel and may put it elsewhere than asked: where it put the panel
        # one time is not where the next show of the same request asks for.
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True, window_manager=["i3"]) as s:
            tool, fifo = self.start_text_tool(s)
            s.wait_page_ready("explain")
            for attempt in range(4):
                panel = self.show_panel(s, tool, fifo, "explain", "the same words", 200, 300)
                s.screenshot(f"explain-{attempt}")
                self.assert_hides_on_click_elsewhere(s, "explain", panel)

    def test_a_click_into_the_chat_page_hides_the_panel(self):
        """The chat page takes its clicks itself; the shown explain panel still hears of one and
        hides, under a window manager as on a user's desktop."""
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            s.start_window_manager()
            tool, fifo = self.start_text_tool(s)
            s.wait_page_ready("chat")
            s.wait_page_ready("explain")
            s.text_tool("side 1 open")
            side = s.wait_side_window()
            wait_drawn(side)
            panel = self.show_panel(s, tool, fifo, "explain", "a page that takes its own clicks", 200, 300)
            s.screenshot("panel-beside-the-side-window")
            before = len(self.messages_to(s, "explain", "SwipeWindowClose"))
            click(side.x + side.width // 2, side.y + side.height - 120)
            wait_until(lambda: not [w for w in visible_windows() if w.id == panel.id],
                       "the explain panel to hide after a click into the chat page", 10)
            wait_until(lambda: len(self.messages_to(s, "explain", "SwipeWindowClose")) > before,
                       "the explain page to hear that its panel closed")
            self.assertIsNotNone(s.side_window(), "the side window went with a click into its own page")
            s.screenshot("panel-hidden")

    def test_text_waits_for_the_panel_page(self):
        # The pages say they are ready 3 s after the bridge comes up; the text waits, is sent
        # once when the page is ready, and the panel then takes the page's size.
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True,
                          service_args=["--ready-delay", "3000"]) as s:
            tool, fifo = self.start_text_tool(s)
            s.wait_app_log(r"\[AppDelegate\] applicationDidFinishLaunching end")
            self.assertEqual(s.events("explain", "j2n", "WebIsReady"), [], "the page was ready too soon")
            self.show_panel(s, tool, fifo, "explain", "early words", 200, 300)
            self.assertEqual(len(self.messages_to(s, "explain", "SwipeOverMessage")), 1)
            s.app.wait_for_line(r"\[解释\] 页面还没有加载好，请稍等：early words")
            s.screenshot("early-text")

    def test_continue_ask_opens_the_side_window(self):
        with self.session(settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            tool, fifo = self.start_text_tool(s)
            s.wait_page_ready("chat")
            s.wait_page_ready("translate")
            panel = self.show_panel(s, tool, fifo, "translate", "bonjour tout le monde", 300, 200)
            button = wait_until(lambda: find_colour((panel.x, panel.y, panel.width, panel.height), is_continue_green),
                                "the panel's continue button to be drawn", interval=0.2)
            s.screenshot("before-continue")
            click(*button)

            asked = wait_until(lambda: s.events("translate", "j2n", "ContinueAsk"), "the page to ask to continue")
            session_id = asked[-1]["data"]["session_id"]
            side = s.wait_side_window()
            wait_until(lambda: [d for d in self.messages_to(s, "chat", "CommitContinueAsk")
                                if d == {"type": "translate", "session_id": session_id}],
                       "the chat page to receive the session")
            wait_until(lambda: not [w for w in visible_windows() if w.id == panel.id], "the panel to close")
            wait_drawn(side)
            s.screenshot("side-window-continues")

    # -- starting at login

    def test_start_at_login_follows_the_status_item(self):
        settings = settings_dictionary(status_item=False)
        self.assertTrue(settings["kQuarn_AI_UD_PowerBootShowAILogo"])
        with self.session(settings=settings) as s:
            agent = s.home / "Library/LaunchAgents" / f"{AI_ID}.agent.plist"
            entry = s.home / ".config/autostart" / f"{AI_ID}.desktop"
            s.wait_page_ready("chat")
            self.assertFalse(agent.exists() or entry.exists())

            s.host_command("status on")
            wait_until(lambda: agent.exists() and entry.exists(), "the launch agent and the autostart entry")
            with open(agent, "rb") as f:
                self.assertEqual(plistlib.load(f),
                                 {"RunAtLoad": True, "Label": AI_ID, "ProgramArguments": [AI_PROGRAM]})
            desktop = configparser.ConfigParser(interpolation=None)
            desktop.optionxform = str
            desktop.read(entry)
            section = desktop["Desktop Entry"]
            self.assertEqual(section["Type"], "Application")
            self.assertEqual(section["X-GNOME-Autostart-enabled"], "true")
            # The entry starts the program that runs, with the system root it resolved.
            command = shlex.split(section["Exec"])
            self.assertEqual(command[0], "env")
            self.assertIn(f"QUARN_SYSTEM_ROOT={s.sysroot}", command)
            self.assertEqual(Path(command[-1]).resolve(), program("QuarnAI").resolve())
            entry_text = entry.read_text()
            for path in (agent, entry):
                self.assertEqual(path.stat().st_mode & 0o777, 0o600, path)
            # The text tool's start at login follows its own setting, which is off.
            self.assertFalse((s.home / "Library/LaunchAgents" / f"{TOOL_ID}.agent.plist").exists())
            s.app.wait_for_line(r"\[PowerBoot\] setupQuarnAiHelperLaunchAgent: " + AI_ID)

            s.host_command("status off")
            wait_until(lambda: not agent.exists() and not entry.exists(),
                       "the launch agent and the autostart entry to go")
            self.assertFalse((s.read_settings() or {}).get("kQuarn_AI_UD_ShowStatusBarItem"))

            # A login session: GLib's desktop-entry code launches the entry in an environment
            # without the session's locations, and with no host running: only the host's bundle
            # in the system root keeps the application up.
            s.app.stop()
            s.host.stop()
            login_entry = s.out / f"{AI_ID}.desktop"
            login_entry.write_text(entry_text)
            login_env = {k: v for k, v in os.environ.items() if not k.startswith("QUARN_") or k == "QUARN_TEST_RUN"}
            login_env["HOME"] = str(s.home)
            with open(s.out / "login-app.log", "wb") as out:
                launched = subprocess.run(["gio", "launch", str(login_entry)], env=login_env, stdin=subprocess.DEVNULL,
                                          stdout=out, stderr=subprocess.STDOUT, timeout=30)
            self.assertEqual(launched.returncode, 0)
            pid = wait_until(lambda: bus_name_pid(AI_ID), "the application started at login to own its name")
            try:
                self.assertEqual(Path(f"/proc/{pid}/exe").resolve(), program("QuarnAI").resolve())
                time.sleep(4)  # past the ticks that end it when it finds no host
                self.assertEqual(bus_name_pid(AI_ID), pid, (s.out / "login-app.log").read_text(errors="replace"))
            finally:
                os.kill(pid, signal.SIGTERM)
            wait_until(lambda: not Path(f"/proc/{pid}").exists() or bus_name_pid(AI_ID) is None,
                       "the application started at login to quit")


if __name__ == "__main__":
    unittest.main()
