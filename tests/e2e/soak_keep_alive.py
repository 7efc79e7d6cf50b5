"""Soak: the keep-alive page lives in a web view that is never shown. After a long time hidden
(an hour by default) its bridge still answers and the login exchange still reaches it.

    tests/support/run-under-xvfb.sh python3 tests/e2e/soak_keep_alive.py [--hidden 3600]

Fails when the keep-alive page does not answer the application or does not hear of a login.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import E2EError, Session, settings_dictionary, wait_until, windows_sized, xdotool  # noqa: E402

LOGIN_SIZE = (370, 450)


def messages_to(session, page, handler, kind=None):
    return [e.get("data") for e in session.events(page, "n2j", handler)
            if kind is None or (e.get("data") or {}).get("type") == kind]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--hidden", type=float, default=3600, help="seconds the page stays hidden")
    options = parser.parse_args()
    with Session("soak-keep-alive", settings=settings_dictionary(logged_in=False)) as s:
        s.wait_page_ready("home")
        s.wait_page_ready("chat")
        asked = len(messages_to(s, "home", "RequestAuthUser"))
        print(f"keep-alive page ready; hidden for {options.hidden:.0f} s", flush=True)
        time.sleep(options.hidden)

        # The bridge: asked for the side window, the application becomes active and asks the
        # page for the user; a logged-out user gets the login window, which logs in, and the
        # keep-alive page hears of it.
        s.text_tool("side 2 please explain")
        wait_until(lambda: len(messages_to(s, "home", "RequestAuthUser")) > asked,
                   "the keep-alive page to answer the application after being hidden")
        w, h = LOGIN_SIZE
        login = wait_until(lambda: windows_sized(w, h), "the login window")[0]
        s.wait_page_ready("login")
        xdotool("mousemove", login.x + w // 2, login.y + 60)
        xdotool("key", "Return")
        wait_until(lambda: (s.read_settings() or {}).get("kQuarn_AI_UD_AuthUserInfo", {}).get("state") == 0,
                   "the login to be stored")
        wait_until(lambda: messages_to(s, "home", "LoginEventNotify", "loginin"),
                   "the keep-alive page to hear of the login")
        wait_until(lambda: messages_to(s, "home", "ClientUserChange", "loginin"),
                   "the keep-alive page to hear of the new user")
        print("after being hidden the keep-alive page answered and heard of the login")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except E2EError as e:
        print(f"soak: {e}", file=sys.stderr)
        sys.exit(1)
