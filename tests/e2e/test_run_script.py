"""End-to-end test of scripts/run.sh as a person uses it in a terminal: Ctrl-C goes to the
script's process group. Needs a build folder with the programs (QUARN_BINARY_DIR)."""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    SETTINGS_RELATIVE, binary_dir, descendants, output_root, screenshot, settings_dictionary, source_dir,
    wait_until, windows_sized)

import plistlib  # noqa: E402

CONFIRM_SIZE = (412, 140)


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


class RunScript(unittest.TestCase):
    def test_ctrl_c_asks_the_application_to_quit_and_a_second_ends_everything(self):
        out = output_root() / "run_script"
        out.mkdir(parents=True, exist_ok=True)
        home = Path(tempfile.mkdtemp(prefix="quarn-run-script-"))
        settings = home / SETTINGS_RELATIVE
        settings.parent.mkdir(parents=True)
        with open(settings, "wb") as f:
            plistlib.dump(settings_dictionary(logged_in=True), f, fmt=plistlib.FMT_XML)
        env = dict(os.environ, HOME=str(home), QUARN_BUILD_DIR=str(binary_dir()), QUARN_SERVICE_PORT="0",
                   QUARN_SERVICE_ARGS="--work-unsaved --logged-in")
        env.pop("QUARN_AI_BASE_URL", None)
        log_path = out / "run.log"
        log = open(log_path, "wb")
        # As a terminal starts it: the leader of its own process group, which Ctrl-C signals whole.
        script = subprocess.Popen(["bash", str(source_dir() / "scripts" / "run.sh"), "--no-build"], env=env,
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                  start_new_session=True)

        def text():
            return log_path.read_text(errors="replace")

        def ctrl_c():
            os.killpg(script.pid, signal.SIGINT)

        try:
            running = wait_until(lambda: re.search(r"^run: QuarnAI is running \(pid (\d+)", text(), re.M),
                                 "the script to start the application", deadline=120)
            app = int(running.group(1))
            base = re.search(r"^run: AI service stand-in at (\S+) ", text(), re.M).group(1)

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

            wait_until(lambda: events("chat", "j2n", "WebIsReady"), "the chat page to be ready")
            page_command("chat", click="action-picture")
            wait_until(lambda: events("picture", "j2n", "OpenFileNotify"), "the image page to open its file")
            helpers = descendants(app)
            self.assertTrue(helpers, "the application has no web processes")

            # The first Ctrl-C: the application is asked to quit and asks about the unsaved file; its
            # pages live on to answer, and the script says it waits.
            ctrl_c()
            wait_until(lambda: "asking QuarnAI to quit" in text(), "the script to say it asks the application to quit")
            answers = wait_until(lambda: events("picture", "j2n", "ClientIsSaved"), "the image page to answer")
            self.assertEqual(answers[-1].get("data"), {"data": False})
            wait_until(lambda: windows_sized(*CONFIRM_SIZE), "the question about the unsaved file")
            time.sleep(0.5)
            screenshot(out / "question-after-ctrl-c.png")
            self.assertTrue(alive(app), "the application ended without the user's answer")
            self.assertEqual([pid for pid in helpers if not alive(pid)], [], "web processes ended")
            self.assertIsNone(script.poll(), "the script ended while the application asks")

            # The second Ctrl-C ends everything at once.
            ctrl_c()
            self.assertEqual(script.wait(30), 130)
            wait_until(lambda: not alive(app) and not any(alive(pid) for pid in helpers),
                       "the application and its web processes to end", deadline=15)
            self.assertIn("ending everything at once", text())
        finally:
            if script.poll() is None:
                os.killpg(script.pid, signal.SIGKILL)
                script.wait(10)
            log.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
