"""End-to-end tests of the chat page's actions in the side window: a PDF download and a saved image
go through the save panel into the place the user chose while the chat stays where it was, the
page's file input gets the file chosen in the open panel, and a file dragged from another program
onto the drop window reaches the chat page.

Run one: tests/support/run-under-xvfb.sh python3 tests/e2e/test_page_actions.py PageActions.test_pdf_download
"""

import contextlib
import hashlib
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    E2EError, Session, click, find_colour, program, screen_size, settings_dictionary, visible_windows, wait_drawn,
    wait_until, xdotool)

DOWNLOADS_RELATIVE = "Library/Caches/com.morvane.QuarnAIAssistant/downloads"


def near(colour, tolerance=24):
    return lambda r, g, b: abs(r - colour[0]) < tolerance and abs(g - colour[1]) < tolerance and \
        abs(b - colour[2]) < tolerance


# The stand-in chat page paints these controls in colours of their own (AIPage.css).
PDF_LINK = near((0xe6, 0x7e, 0x22))
IMAGE_LINK = near((0x16, 0xa0, 0x85))
FILE_INPUT = near((0x8e, 0x44, 0xad))


class PageActions(unittest.TestCase):
    maxDiff = None

    def session(self, file_drag=False, **options):
        settings = settings_dictionary(logged_in=True)
        if file_drag:
            settings["kQuarn_AI_FILE_DRAG_STATE"] = True
        return Session(self.id().split(".")[-1], settings=settings, logged_in=True, **options)

    # -- helpers

    def open_side(self, s):
        s.wait_page_ready("chat")
        s.text_tool("side 1")
        side = s.wait_side_window()
        wait_drawn(side)
        return side

    def find_in(self, window, matches, what):
        return wait_until(lambda: find_colour((window.x, window.y, window.width, window.height), matches, 20),
                          what, 30, 0.2)

    def wait_dialog(self, s, known):
        """A new window of the application (the panel), once drawn."""
        known_ids = {w.id for w in known}

        def found():
            fresh = [w for w in visible_windows() if w.id not in known_ids and w.width > 200 and w.height > 150]
            return fresh[0] if fresh else None
        dialog = wait_until(found, "the panel to open")
        wait_drawn(dialog)
        time.sleep(0.5)
        return dialog

    def type_path(self, dialog, path, open_panel=False):
        """Types a whole path into the panel with the pointer over it (keys go where it is)."""
        xdotool("mousemove", dialog.x + dialog.width // 2, dialog.y + dialog.height // 2)
        time.sleep(0.2)
        if open_panel:
            # The location field first.
            xdotool("key", "ctrl+l")
            time.sleep(0.5)
            xdotool("type", "--delay", "20", str(path))
        else:
            xdotool("key", "ctrl+a")
            xdotool("type", "--delay", "20", str(path))
        time.sleep(0.5)
        xdotool("key", "Return")

    def wait_dialog_gone(self, dialog):
        wait_until(lambda: dialog.id not in {w.id for w in visible_windows()}, "the panel to close")

    def assert_chat_stays(self, s, words):
        """The chat page was never replaced: requested once, and text still reaches it."""
        self.assertEqual(s.status()["pages"].get("chat"), 1, "the chat page was loaded again")
        s.text_tool("side 2 " + words)
        wait_until(lambda: [e for e in s.events("chat", "n2j", "SwipeOverMessage")
                            if (e.get("data") or {}).get("message") == words],
                   "a text from the text tool to reach the chat page")

    def private_folder(self, s):
        folder = s.home / DOWNLOADS_RELATIVE
        self.assertEqual(stat.S_IMODE(folder.stat().st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(folder.parent.stat().st_mode), 0o700)
        return folder

    # -- downloads

    def test_pdf_download(self):
        with self.session() as s:
            side = self.open_side(s)
            before = visible_windows()
            click(*self.find_in(side, PDF_LINK, "the PDF link"))
            dialog = self.wait_dialog(s, before)
            s.screenshot("save-sheet")
            # The file waits in the private folder, readable by the user only.
            waiting = self.private_folder(s) / "sample.pdf"
            self.assertEqual(stat.S_IMODE(waiting.stat().st_mode), 0o600)

            target = s.root / "Documents" / "kept.pdf"
            target.parent.mkdir()
            self.type_path(dialog, target)
            self.wait_dialog_gone(dialog)
            wait_until(target.exists, "the PDF to be saved where the user chose")
            self.assertTrue(target.read_bytes().startswith(b"%PDF"))
            # The saved file is shown in its folder, by the desktop's file manager.
            wait_until(s.opened, "the saved file's folder to be shown")
            self.assertIn(s.opened(), ([str(target.parent)], [target.parent.as_uri()]))
            self.assertFalse(waiting.exists(), "the PDF stayed in the private folder after the save")
            self.assertIn("[WebView] cancel other download", s.app_log())
            self.assertTrue([r for r in s.status()["requests"] if r.get("path") == "/__files/sample.pdf"])
            s.wait_side_window()
            self.assert_chat_stays(s, "still here after the download")
            s.screenshot("after-download")

    def test_image_link_saves_png(self):
        with self.session() as s:
            side = self.open_side(s)
            before = visible_windows()
            click(*self.find_in(side, IMAGE_LINK, "the image link"))
            dialog = self.wait_dialog(s, before)
            s.screenshot("image-save-sheet")
            self.assertTrue((self.private_folder(s) / "DefaultImage(1).png").exists())
            target = s.root / "Pictures" / "saved.png"
            target.parent.mkdir()
            self.type_path(dialog, target)
            self.wait_dialog_gone(dialog)
            wait_until(target.exists, "the image to be saved")
            self.assertEqual(target.read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
            self.assertNotIn("load failed", s.app_log())
            self.assert_chat_stays(s, "still here after the image")

    def panels(self, before):
        known = {w.id for w in before}
        return [w for w in visible_windows() if w.id not in known and w.width > 200 and w.height > 150]

    def test_two_downloads_under_one_name_keep_two_files_and_one_panel(self):
        with self.session() as s:
            s.wait_page_ready("chat")
            before = visible_windows()
            # Two clicks on the chat page before any answer: the server names both "sample.pdf".
            s.page_command("chat", click="download-pdf")
            s.page_command("chat", click="download-pdf")
            folder = s.home / DOWNLOADS_RELATIVE
            waiting = [folder / "sample.pdf", folder / "sample (2).pdf"]
            wait_until(lambda: all(p.exists() and p.stat().st_size > 0 for p in waiting), "both files to wait")
            dialog = self.wait_dialog(s, before)
            s.screenshot("first-panel")
            time.sleep(1)
            self.assertEqual(len(self.panels(before)), 1, "more than one panel up at once")
            width, height = screen_size()
            self.assertTrue(0 <= dialog.x and dialog.x + dialog.width <= width and
                            0 <= dialog.y and dialog.y + dialog.height <= height, f"the panel is off screen: {dialog}")
            for path in waiting:
                self.assertTrue(path.read_bytes().startswith(b"%PDF"))
                self.assertEqual(stat.S_IMODE(path.stat().st_mode), 0o600)
            # The first saved where the user chose, with the user's usual mode; the second panel
            # comes next and proposes the server's name too.
            # A bare name (the panel opens in the home folder): a typed path's completion popup can
            # swallow a key.
            target = s.home / "first.pdf"
            self.type_path(dialog, target.name)
            wait_until(target.exists, "the first file to be saved")
            self.assertEqual(stat.S_IMODE(target.stat().st_mode), 0o644)
            # Shown in its folder by the desktop's file manager, whose window must not take the
            # keyboard from the second panel.
            wait_until(s.opened, "the first file's folder to be shown")
            revealed = s.opened()
            self.assertIn(revealed, ([str(s.home)], [s.home.as_uri()]))
            second = wait_until(lambda: self.panels(before), "the second panel")[0]
            wait_drawn(second)
            s.screenshot("second-panel")
            self.assertIn("sample (2).pdf", s.app_log())
            self.assertTrue((folder / "sample (2).pdf").exists(), "the second file was lost")
            xdotool("key", "Escape")
            self.wait_dialog_gone(second)
            # Cancelled: the file that waited for it goes with it.
            wait_until(lambda: not (folder / "sample (2).pdf").exists(), "the cancelled file to go")
            self.assertEqual(s.opened(), revealed, "a folder was shown for the cancelled save")

    def test_links_planted_in_the_shared_temporary_folder_are_left_alone(self):
        # Another user's folder in a shared, sticky temporary folder, under the name the staging
        # folder of a process with id 1 would have, full of links into the user's home.
        other_user = 54321
        shared = Path(tempfile.mkdtemp(prefix="quarn-e2e-shared-tmp-"))
        try:
            shared.chmod(0o1777)
            victim = shared.parent / (shared.name + "-victim")
            victim.mkdir()
            precious = victim / "sample.pdf"
            precious.write_text("the user's own file")
            planted = shared / "QuarnAI-Downloads-1"
            planted.mkdir()
            links = [planted / str(n) for n in range(1, 9)]
            for link in links:
                link.symlink_to(victim)
                os.lchown(link, other_user, other_user)
            os.chown(planted, other_user, other_user)
            planted.chmod(0o777)
            # A staging folder of the user's own that an earlier version left: it goes.
            leftover = shared / "QuarnAI-Downloads-77" / "3"
            leftover.mkdir(parents=True)
            (leftover / "old.pdf").write_text("left over")
            with self.session(app_prefix=["unshare", "--pid", "--fork", "--kill-child"],
                              app_env={"TMPDIR": str(shared)}) as s:
                s.wait_page_ready("chat")
                before = visible_windows()
                s.page_command("chat", click="download-pdf")
                dialog = self.wait_dialog(s, before)
                waiting = self.private_folder(s) / "sample.pdf"
                self.assertTrue(waiting.read_bytes().startswith(b"%PDF"))
                xdotool("key", "Escape")
                self.wait_dialog_gone(dialog)
                s.app.stop()
                self.assertFalse(waiting.exists(), "the cancelled file stayed")
            self.assertEqual(precious.read_text(), "the user's own file")
            self.assertEqual(sorted(victim.iterdir()), [precious])
            self.assertEqual(sorted(planted.iterdir()), sorted(links))
            self.assertTrue(all(link.is_symlink() for link in links))
            self.assertEqual(sorted(p.name for p in shared.iterdir() if "Quarn" in p.name), ["QuarnAI-Downloads-1"])
        finally:
            shutil.rmtree(shared, ignore_errors=True)
            shutil.rmtree(shared.parent / (shared.name + "-victim"), ignore_errors=True)

    def test_sigterm_with_a_save_panel_up_ends_the_application(self):
        with self.session() as s:
            s.wait_page_ready("chat")
            before = visible_windows()
            s.page_command("chat", click="download-pdf")
            dialog = self.wait_dialog(s, before)
            s.screenshot("panel-before-sigterm")
            started = time.monotonic()
            s.app.popen.send_signal(signal.SIGTERM)
            wait_until(lambda: not s.app.running(), "the application to end after SIGTERM", deadline=2.0, interval=0.05)
            print(f"ended {time.monotonic() - started:.2f} s after SIGTERM", file=sys.stderr)
            self.assertEqual(s.app.popen.returncode, 0)
            self.assertIn("[AppDelegate] applicationWillTerminate", s.app_log())
            self.assertNotIn(dialog.id, {w.id for w in visible_windows()})
            # The file stays where it waited.
            self.assertTrue((s.home / DOWNLOADS_RELATIVE / "sample.pdf").exists())

    # -- the open panel

    def test_file_input_gets_the_chosen_file(self):
        with self.session() as s:
            chosen = s.root / "notes for the AI.txt"
            chosen.write_text("hello")
            side = self.open_side(s)
            before = visible_windows()
            click(*self.find_in(side, FILE_INPUT, "the page's file input"))
            dialog = self.wait_dialog(s, before)
            s.screenshot("open-sheet")
            self.type_path(dialog, chosen, open_panel=True)
            self.wait_dialog_gone(dialog)
            opened = wait_until(lambda: s.events("chat", "j2n", "OpenFileNotify"), "the page to get the file")
            self.assertEqual(opened[-1].get("data"), {"path": chosen.name})
            s.screenshot("file-chosen")

    # -- dropping a file onto the AI

    @contextlib.contextmanager
    def dragging(self, s, path, towards):
        """A drag of the file from another program's window, from the press on it to the pointer at
        `towards`; the source ends (and the button is released) when the block does."""
        source = self.start_drag_source(s, path)
        try:
            xdotool("mousemove", 200, 400)
            xdotool("mousedown", 1)
            for x, y in ((215, 415), (240, 440), (400, 400), towards):
                xdotool("mousemove", x, y)
                time.sleep(0.1)
            yield
        finally:
            self.end_drag_source(source)

    def start_drag_source(self, s, path):
        source = subprocess.Popen([str(program("kit_desktopcapture_drag_source")), "100", "300", "uri-list",
                                   path.as_uri()], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        if source.stdout.readline().strip() != b"ready":
            source.kill()
            raise E2EError("the drag source did not come up")
        return source

    def end_drag_source(self, source):
        source.stdin.close()
        source.stdout.close()
        try:
            source.wait(5)
        except subprocess.TimeoutExpired:
            source.kill()
            source.wait(5)
        subprocess.run(["xdotool", "mouseup", "1"], capture_output=True)

    def wait_file_received(self, s, path, media_type):
        """Waits until the chat page has the dropped file's bytes: the page decodes the data address
        the application sent with "OnFileForAnalyze" and reports their length and digest, and
        whether it had said it was ready."""
        data = path.read_bytes()
        received = wait_until(lambda: s.events("chat", "dom", "FileReceived"), "the chat page to receive the file")
        self.assertEqual(received[-1].get("data"), {"filePath": path.name, "fileSize": len(data), "type": media_type,
                                                    "length": len(data), "sha256": hashlib.sha256(data).hexdigest(),
                                                    "ready": True})
        self.assertEqual(len(received), 1, "the file was handed over more than once")

    def test_drag_onto_the_visible_side_window_reaches_the_chat(self):
        with self.session(file_drag=True) as s:
            side = self.open_side(s)
            dropped = s.root / "minutes 3.docx"
            dropped.write_bytes(b"PK minutes\x00\xff" + bytes(range(256)) * 40)
            with self.dragging(s, dropped, (800, 300)):
                wait_until(lambda: [e for e in s.events("chat", "n2j", "SystemDragFile")
                                    if (e.get("data") or {}).get("onDrag") == 1], "the page to hear of the drag")
                for step in range(8):
                    xdotool("mousemove", side.x + 150 + 5 * step, side.y + 400 + step)
                    time.sleep(0.25)
                self.assertEqual([w for w in visible_windows() if w.width == 420 and w.height == 110], [],
                                 "a drop window opened beside the visible side window")
                xdotool("mouseup", 1)
                wait_until(lambda: s.events("chat", "dom", "FileDropped"), "the drop to land on the chat page")
                self.wait_file_received(
                    s, dropped, "application/vnd.openxmlformats-officedocument.wordprocessingml.document")
                wait_until(lambda: [e for e in s.events("chat", "n2j", "SystemDragFile")
                                    if (e.get("data") or {}).get("onDrag") == 0], "the page to hear the drag end")
                s.screenshot("dropped-on-side-window")
                self.assertEqual(s.status()["pages"].get("chat"), 1, "the dropped file replaced the chat page")

    def drag_onto_the_drop_window(self, s, dropped, media_type):
        """Drags the file onto the drop window, which borrows the chat page; the drop hands the file's
        bytes to the page once, when the page is ready, and the side window slides in with it."""
        with self.dragging(s, dropped, (800, 200)):
            screen_w, _ = screen_size()
            drop_window = wait_until(
                lambda: [w for w in visible_windows() if w.width == 420 and w.height == 110],
                "the drop window to open")[0]
            self.assertEqual((drop_window.x, drop_window.y), (screen_w - 420 - 20, 20))
            self.assertIsNone(s.side_window(), "the side window opened at the start of the drag")
            for x, y in ((1000, 120), (drop_window.x + 200, drop_window.y + 55)):
                xdotool("mousemove", x, y)
                time.sleep(0.3)
            xdotool("mousemove", drop_window.x + 210, drop_window.y + 60)
            # The chat page shows in the drop window, under its frame.
            wait_until(lambda: find_colour((drop_window.x, drop_window.y, drop_window.width, drop_window.height),
                                           lambda r, g, b: r + g + b > 600, 2000),
                       "the chat page to show in the drop window", 30, 0.2)
            s.wait_app_log(r"\[Drag\] mouse entered the drop window", "the pointer to be seen in the drop window")
            s.screenshot("drop-window")
            xdotool("mouseup", 1)
            # Whether the page's own drop event came in time or not, the file arrives, once.
            self.wait_file_received(s, dropped, media_type)
            # The drop window goes, the side window slides in with the page, which was never reloaded.
            side = s.wait_side_window()
            wait_until(lambda: not [w for w in visible_windows() if w.width == 420 and w.height == 110],
                       "the drop window to close")
            wait_drawn(side)
            s.screenshot("side-after-drop")
            self.assertEqual(s.status()["pages"].get("chat"), 1)
            self.assert_chat_stays(s, "after the drop")

    def test_drag_onto_the_drop_window_reaches_the_chat(self):
        with self.session(file_drag=True) as s:
            s.wait_page_ready("chat")
            dropped = s.root / "quarterly report.pdf"
            dropped.write_bytes(b"%PDF-1.4 quarterly")
            self.drag_onto_the_drop_window(s, dropped, "application/pdf")

    def test_a_drop_before_the_page_is_ready_waits_for_it(self):
        """The page asks for the bridge at once but says it is ready 8 s later: the file dropped in
        between reaches it after that, not before."""
        with self.session(file_drag=True, service_args=("--ready-delay", "8000")) as s:
            wait_until(lambda: s.events("chat", "j2n", "GetVersion"), "the chat page to ask for the bridge")
            self.assertFalse(s.events("chat", "j2n", "WebIsReady"))
            dropped = s.root / "notes.txt"
            dropped.write_bytes(b"minutes of the meeting\n" * 50)
            self.drag_onto_the_drop_window(s, dropped, "text/plain")

    # -- other sites' pages

    def test_other_sites_open_nothing_without_a_click(self):
        """A page of another site in the side window asks for five windows as it loads and for one on
        every click: the default browser gets none of the first and at most one a second of the
        others."""
        with self.session() as s:
            side = self.open_side(s)
            foreign = s.base_url.replace("127.0.0.1", "localhost").rstrip("/") + "/__popups"
            s.page_command("chat", navigate=foreign)
            s.wait_app_log(r"to url: http://localhost:\d+/opened/load-4", "the page's own requests for windows")
            self.find_in(side, near((0xc0, 0x39, 0x2b)), "the other site's page in the side window")
            s.screenshot("other-site")
            time.sleep(1)
            self.assertEqual(s.opened(), [], "the page opened the browser by itself")
            x, y = side.x + side.width // 2, side.y + side.height // 2
            started = time.monotonic()
            for _ in range(10):
                click(x, y)
                time.sleep(0.2)
            s.wait_app_log(r"to url: http://localhost:\d+/opened/click-10", "the tenth click's request")
            # The application took the ten requests within this many seconds at most.
            span = time.monotonic() - started
            wait_until(lambda: s.opened(), "the browser to get the first click's address")
            time.sleep(1.5)
            opened = s.opened()
            self.assertTrue(all("/opened/click-" in address for address in opened), opened)
            self.assertTrue(opened[0].endswith("/opened/click-1"), opened)
            # One a second at most, however fast or slow the clicks came.
            self.assertLessEqual(len(opened), 1 + int(span), (opened, span))
            self.assertLess(len(opened), 10)
            refused = len(re.findall(r"new window dropped, another one was opened just before",
                                     s.app_log()))
            self.assertEqual(refused, 10 - len(opened))


def main():
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
