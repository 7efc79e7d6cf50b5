#!/usr/bin/env python3
"""Memory per tab of the AI image window: the real application on the desktop backend opens the
image window with one tab from the chat page's image button, then adds tabs the same way up to 20,
each page loaded and ready. After each step it reads the memory of every process of the
application (the application and the web processes it started, found as its descendants):

  RSS   resident set, summed (pages shared between processes count once per process)
  PSS   proportional set (smaps_rollup), summed: shared pages split between their users

The figure is the growth per tab from 1 to 20 tabs, against the application's own memory with one
tab as reference. Runs on the X display and session bus of its environment (ToolTabsBench.sh
provides private ones) with the end-to-end harness of tests/e2e.
"""

import argparse
import os
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))

from e2e_harness import Session, descendants, resident_kib, settings_dictionary, visible_windows, wait_until  # noqa: E402


def pss_kib(pid):
    try:
        for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
            if line.startswith("Pss:"):
                return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        return None
    return None


def memory(app_pid):
    pids = [app_pid, *descendants(app_pid)]
    rss = sum(resident_kib(p) or 0 for p in pids)
    pss = sum(pss_kib(p) or 0 for p in pids)
    return len(pids), rss, pss, resident_kib(app_pid) or 0


def settle(seconds=1.5):
    # Pages finish their first layout and caches fill after the ready signal; memory is read once
    # it stops moving much.
    time.sleep(seconds)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", help="folder of the built programs (default: build/bin)")
    parser.add_argument("--tabs", type=int, default=20)
    args = parser.parse_args()
    if args.bin:
        os.environ["QUARN_BINARY_DIR"] = str(Path(args.bin).resolve().parent)

    rows = []
    with Session("bench-tool-tabs", settings=settings_dictionary(logged_in=True), logged_in=True) as s:
        s.wait_page_ready("chat")
        settle()
        base = memory(s.app.pid)
        for n in range(1, args.tabs + 1):
            s.page_command("chat", click="action-picture")
            wait_until(lambda: len(s.events("picture", "j2n", "WebIsReady")) >= n, f"tab {n} to be ready", 120)
            if n in (1, 2, 5, 10, 15, 20) or n == args.tabs:
                settle()
                rows.append((n, *memory(s.app.pid)))
        windows = len(visible_windows())
        s.screenshot(f"{args.tabs}-tabs")

    print(f"before the image window: {base[0]} processes, RSS {base[1] / 1024:.1f} MiB, PSS {base[2] / 1024:.1f} MiB")
    print(f"{'tabs':>4} {'processes':>9} {'RSS MiB':>9} {'PSS MiB':>9} {'app RSS MiB':>11}")
    for n, count, rss, pss, own in rows:
        print(f"{n:>4} {count:>9} {rss / 1024:>9.1f} {pss / 1024:>9.1f} {own / 1024:>11.1f}")
    first, last = rows[0], rows[-1]
    tabs = last[0] - first[0]
    if tabs > 0:
        per_rss = (last[2] - first[2]) / tabs / 1024
        per_pss = (last[3] - first[3]) / tabs / 1024
        print(f"per tab (1 -> {last[0]}): RSS {per_rss:.1f} MiB, PSS {per_pss:.1f} MiB, "
              f"{(last[1] - first[1]) / tabs:.2f} processes")
        print(f"ratio per-tab PSS / whole application with one tab (PSS): {per_pss / (first[3] / 1024):.3f}")
    print(f"windows on screen at the end: {windows}")


if __name__ == "__main__":
    main()
