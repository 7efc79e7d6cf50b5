"""End-to-end test of scripts/run.sh as a person uses it in a terminal: on a terminal of its own (a
pseudo-terminal whose Ctrl-C goes to the foreground process group and whose closing hangs it up),
with and without its output piped to tee, on a machine without a display or a session bus, so that
the script starts its own, with the desktop's services the machine has. Needs a build folder with
the programs (QUARN_BINARY_DIR)."""

import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest
import urllib.request
import uuid
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    SETTINGS_RELATIVE, binary_dir, click, descendants, output_root, screenshot, settings_dictionary, source_dir,
    wait_drawn, wait_until, windows_sized)

from test_e2e import CONFIRM_CANCEL, CONFIRM_OK, CONFIRM_SIZE  # noqa: E402

import plistlib  # noqa: E402


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie has ended too.
    try:
        return Path(f"/proc/{pid}/stat").read_text().split(")")[-1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def marked(mark):
    """The processes whose environment holds the mark, with their command lines."""
    found = {}
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            if mark.encode() in (entry / "environ").read_bytes().split(b"\0") and alive(int(entry.name)):
                found[int(entry.name)] = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
        except (FileNotFoundError, ProcessLookupError, PermissionError):
            continue
    return found


def mounts_under(folder):
    prefix = str(folder) + "/"
    return [line.split()[1] for line in Path("/proc/mounts").read_text().splitlines()
            if line.split()[1].startswith(prefix)]


class Terminal:
    """A shell command on a pseudo-terminal of its own, as a terminal window runs it."""

    def __init__(self, command, env, log_path):
        self.master, slave = pty.openpty()

        def take_terminal():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
        # An interactive shell, as in a terminal window: the command is its foreground job, and when
        # the terminal hangs up the shell passes the hang-up on to its jobs.
        self.process = subprocess.Popen(["bash", "--norc", "--noprofile", "-i", "-c", command], env=env,
                                        stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
                                        preexec_fn=take_terminal)
        os.close(slave)
        self.log = open(log_path, "wb")
        self.output = bytearray()
        self.closing = threading.Event()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        # The reader alone closes the terminal's side: a read in progress would keep it open.
        while not self.closing.is_set():
            if not select.select([self.master], [], [], 0.1)[0]:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:
                break
            if not data:
                break
            self.output += data
            self.log.write(data)
            self.log.flush()
        os.close(self.master)

    def text(self):
        return bytes(self.output).decode(errors="replace").replace("\r\n", "\n")

    def ctrl_c(self):
        os.write(self.master, b"\x03")

    def close(self):
        """The terminal window closed: the terminal hangs up."""
        self.closing.set()
        self.reader.join()


class RunScript(unittest.TestCase):
    def test_the_script_asks_the_application_to_quit_and_leaves_nothing_behind(self):
        # (case, the output piped to tee, the application has unsaved work, how the terminal ends it)
        cases = [("ctrl-c", "", True, "ctrl-c"), ("ctrl-c-tee", "|", False, "ctrl-c"),
                 ("hangup", "", True, "hangup"), ("hangup-tee", "2>&1 |", False, "hangup")]
        for case in cases:
            with self.subTest(case=case[0]):
                self.run_case(*case)

    def run_case(self, name, tee, unsaved, ending):
        out = output_root() / "run_script" / name
        shutil.rmtree(out, ignore_errors=True)
        out.mkdir(parents=True)
        home = Path(tempfile.mkdtemp(prefix="quarn-run-script-"))
        settings = home / SETTINGS_RELATIVE
        settings.parent.mkdir(parents=True)
        with open(settings, "wb") as f:
            plistlib.dump(settings_dictionary(logged_in=True), f, fmt=plistlib.FMT_XML)
        # A user's terminal without a display or a session bus, with the machine's own desktop.
        mark_value = str(uuid.uuid4())
        mark = f"QUARN_RUN_SCRIPT_CASE={mark_value}"
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QUARN_AI_BASE_URL", "GIO_USE_VFS",
                            "GIO_USE_VOLUME_MONITOR", "GSETTINGS_BACKEND") and not k.startswith("XDG_")}
        env.update(HOME=str(home), QUARN_BUILD_DIR=str(binary_dir()), QUARN_SERVICE_PORT="0", TERM="dumb",
                   QUARN_SERVICE_ARGS="--logged-in" + (" --work-unsaved" if unsaved else ""))
        env["QUARN_RUN_SCRIPT_CASE"] = mark_value
        run = f"bash {source_dir() / 'scripts' / 'run.sh'} --no-build"
        terminal = Terminal(f"{run} {tee} tee {out / 'tee.log'}" if tee else run, env, out / "terminal.log")
        display = os.environ.get("DISPLAY")
        try:
            running = wait_until(lambda: re.search(r"^run: QuarnAI is running \(pid (\d+).* display (:\d+)\)",
                                                   terminal.text(), re.M),
                                 "the script to start the application", deadline=120)
            app, os.environ["DISPLAY"] = int(running.group(1)), running.group(2)
            # The script is the application's parent.
            script = int(Path(f"/proc/{app}/stat").read_text().split(")")[-1].split()[1])
            base = re.search(r"^run: AI service stand-in at (\S+) ", terminal.text(), re.M).group(1)
            bus = re.search(r"^run: no session bus: started a private one \((\S+)\)", terminal.text(), re.M).group(1)

            def events(page, direction, handler):
                with urllib.request.urlopen(base + "__status", timeout=10) as response:
                    status = json.load(response)
                return [e for e in status.get("events", []) if
                        (e.get("page"), e.get("direction"), e.get("handlerName")) == (page, direction, handler)]

            def page_command(page, **command):
                body = json.dumps(dict(command, page=page)).encode()
                request = urllib.request.Request(base + "__page/commands", data=body, method="POST",
                                                 headers={"Content-Type": "application/json"})
                urllib.request.urlopen(request, timeout=10).close()

            def question(what):
                sheet = wait_until(lambda: windows_sized(*CONFIRM_SIZE), what)[0]
                wait_drawn(sheet)
                time.sleep(0.3)
                return sheet

            def answer(sheet, button):
                click(sheet.x + button[0], sheet.y + button[1])
                wait_until(lambda: not windows_sized(*CONFIRM_SIZE), "the question to go")

            wait_until(lambda: events("chat", "j2n", "WebIsReady"), "the chat page to be ready")
            # The desktop's services of the script's bus, as a session starts them on demand: GVfs with
            # its FUSE mount, the document portal with its own.
            desktop = dict(env, DBUS_SESSION_BUS_ADDRESS=bus)
            services = Path("/usr/share/dbus-1/services")
            expected = []
            if (services / "org.gtk.vfs.Daemon.service").exists():
                subprocess.run(["gio", "mount", "-l"], env=desktop, capture_output=True, timeout=60)
                expected.append(home / ".cache" / "gvfs")
            if (services / "org.freedesktop.portal.Documents.service").exists():
                subprocess.run(["gdbus", "call", "--session", "-d", "org.freedesktop.portal.Documents", "-o",
                                "/org/freedesktop/portal/documents", "-m",
                                "org.freedesktop.portal.Documents.GetMountPoint"],
                               env=desktop, capture_output=True, timeout=60)
                expected.append(home / ".cache" / "doc")
            wait_until(lambda: set(map(str, expected)) <= set(mounts_under(home)), "the desktop services' mounts")

            if unsaved:
                page_command("chat", click="action-picture")
                wait_until(lambda: events("picture", "j2n", "OpenFileNotify"), "the image page to open its file")
            helpers = descendants(app)
            self.assertTrue(helpers, "the application has no web processes")

            if ending == "ctrl-c" and unsaved:
                # The first Ctrl-C asks the application to quit; it asks about the unsaved file with its
                # pages alive, and the script waits. Cancelled, the script says so and goes on.
                terminal.ctrl_c()
                wait_until(lambda: "asking QuarnAI to quit" in terminal.text(), "the script to ask for the quit")
                answers = wait_until(lambda: events("picture", "j2n", "ClientIsSaved"), "the image page to answer")
                self.assertEqual(answers[-1].get("data"), {"data": False})
                sheet = question("the question after the first Ctrl-C")
                screenshot(out / "question-after-ctrl-c.png")
                answer(sheet, CONFIRM_CANCEL)
                wait_until(lambda: "the quit was cancelled" in terminal.text(), "the script to see the cancel")
                self.assertTrue(alive(app), "the application ended although the user kept the file")
                self.assertEqual([pid for pid in helpers if not alive(pid)], [], "web processes ended")
                self.assertTrue(alive(script), "the script ended after the cancelled quit")
                # The next Ctrl-C asks again; one more while it asks ends everything at once.
                terminal.ctrl_c()
                question("the question after the next Ctrl-C")
                self.assertTrue(alive(app))
                terminal.ctrl_c()
                self.assertEqual(terminal.process.wait(60), 130)
                self.assertIn("ending everything at once", terminal.text())
            elif ending == "ctrl-c":
                # With tee ended by the same Ctrl-C, the script still asks and stops everything.
                terminal.ctrl_c()
                terminal.process.wait(60)
            elif unsaved:
                # The terminal closed: the application asks, the script waits for the user's answer.
                terminal.close()
                sheet = question("the question after the terminal closed")
                answer(sheet, CONFIRM_CANCEL)
                time.sleep(1)
                self.assertTrue(alive(app), "the application ended although the user kept the file")
                self.assertTrue(alive(script), "the script ended after the cancelled quit")
                # Asked again (SIGTERM to the script), the user lets the file go.
                os.kill(script, signal.SIGTERM)
                answer(question("the question after SIGTERM"), CONFIRM_OK)
            else:
                terminal.close()
            wait_until(lambda: not alive(script), "the script to end")

            if not (ending == "ctrl-c" and unsaved):
                logs = (binary_dir() / "run-logs" / "QuarnAI.log").read_text(errors="replace")
                self.assertIn("[AppDelegate] applicationWillTerminate", logs, "the application did not quit itself")
            wait_until(lambda: not marked(mark), "every program the script started to end", deadline=30)
            self.assertEqual(mounts_under(home), [], "mounts were left under HOME")
        finally:
            if display is None:
                os.environ.pop("DISPLAY", None)
            else:
                os.environ["DISPLAY"] = display
            terminal.close()
            if terminal.process.poll() is None:
                os.killpg(terminal.process.pid, signal.SIGKILL)
                terminal.process.wait(10)
            left = marked(mark)
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            mounted = mounts_under(home)
            for point in mounted:
                subprocess.run(["fusermount", "-u", "-z", point], capture_output=True)
            terminal.log.close()
            shutil.rmtree(home, ignore_errors=True)
            self.assertEqual(mounted, [], "mounts were left under HOME")
            self.assertEqual(left, {}, f"{len(left)} programs the script started were left running")


if __name__ == "__main__":
    unittest.main(verbosity=2)
