"""Soak: the side-window hot key shows the side window and its close button hides it, over and over,
against the real desktop backend; the application's resident memory is read before and after.

    tests/support/run-under-xvfb.sh python3 tests/e2e/soak.py [--cycles 1000] [--limit 5]

Prints the figures; fails when a cycle does not complete or the application's resident memory
grew by more than --limit percent (default 5).
"""

import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (  # noqa: E402
    SIDE_HOTKEY, E2EError, Session, close_button, descendants, resident_kib, run_tool, settings_dictionary,
    wait_until, xdotool)


def mapped(window_id):
    out = run_tool(["xwininfo", "-id", str(window_id)]).stdout
    if "IsViewable" not in out:
        return None
    width = int(re.search(r"Width:\s+(\d+)", out).group(1))
    return width


def memory(session):
    app = resident_kib(session.app.pid) or 0
    helpers = sum(resident_kib(pid) or 0 for pid in descendants(session.app.pid))
    return app, helpers


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cycles", type=int, default=1000)
    parser.add_argument("--warm-up", type=int, default=20)
    parser.add_argument("--limit", type=float, default=5.0, help="allowed growth of the resident memory, percent")
    options = parser.parse_args()

    with Session("soak", settings=settings_dictionary(logged_in=True), logged_in=True) as s:
        s.wait_page_ready("chat")
        s.set_hotkey("side", SIDE_HOTKEY)
        xdotool("mousemove", 700, 450)

        # The first show finds the side window and its close button; they stay the same.
        xdotool("key", SIDE_HOTKEY[2])
        side = s.wait_side_window()
        button = close_button(side)
        offset = (button[0] - side.x, button[1] - side.y)
        full_width = side.width
        s.screenshot("first-show")

        def cycle(index):
            # Shown: slid in to its full width.
            wait_until(lambda: mapped(side.id) == full_width, f"the side window to show (cycle {index})", 30, 0.02)
            xdotool("mousemove", side.x + offset[0], side.y + offset[1])
            xdotool("click", 1)
            wait_until(lambda: mapped(side.id) is None, f"the side window to hide (cycle {index})", 30, 0.02)
            xdotool("mousemove", 700, 450)
            xdotool("key", SIDE_HOTKEY[2])

        for index in range(options.warm_up):
            cycle(index)
        time.sleep(2)
        before = memory(s)
        started = time.monotonic()
        for index in range(options.cycles):
            cycle(index)
            if (index + 1) % 100 == 0:
                app, helpers = memory(s)
                print(f"soak: {index + 1} cycles, application {app} KiB, web processes {helpers} KiB", flush=True)
        wait_until(lambda: mapped(side.id) == full_width, "the side window to show after the last cycle", 30)
        elapsed = time.monotonic() - started
        time.sleep(2)
        after = memory(s)
        s.screenshot("after-soak")

        # The service keeps only its latest events; its output has every one.
        hides = len(re.findall(r"^page chat n2j WindowHide ", s.service.text(), re.M))
        growth = 100.0 * (after[0] - before[0]) / before[0] if before[0] else float("nan")
        helper_growth = 100.0 * (after[1] - before[1]) / before[1] if before[1] else float("nan")
        report = (f"soak: {options.cycles} show/hide cycles in {elapsed:.0f} s (after {options.warm_up} warm-up)\n"
                  f"soak: application resident memory {before[0]} KiB before, {after[0]} KiB after "
                  f"({growth:+.2f} %)\n"
                  f"soak: its web processes {before[1]} KiB before, {after[1]} KiB after ({helper_growth:+.2f} %)\n"
                  f"soak: the chat page heard WindowHide {hides} times\n")
        print(report, end="", flush=True)
        (s.out / "figures.txt").write_text(report)
        if not s.app.running():
            raise E2EError("the application ended during the soak")
        if growth > options.limit:
            print(f"soak: FAILED: the application's resident memory grew by {growth:.2f} % "
                  f"(limit {options.limit} %)", flush=True)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
