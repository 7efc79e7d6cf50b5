"""Runs the whole application for the end-to-end tests: a temporary home and system root, the AI
service stand-in on a free port, the host stand-in owning its bus name, and the real application
binary on the X display and session bus given by the environment (the wrapper provides private
ones). Everything a person needs to see what happened (logs, service status, screenshots) lands in
<build>/test-output/e2e/<test name>/.

Nothing here measures speed: waits poll for a state with generous deadlines.
"""

import json
import os
import plistlib
import re
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.request
from dataclasses import dataclass
from pathlib import Path

DEADLINE = float(os.environ.get("QUARN_E2E_DEADLINE", "60"))

# Bundle layout under the system root (peers/layout-sysroot.sh makes it).
HOST_BUNDLE = "Applications/Morvane Quarn.app"
HOST_EXECUTABLE = HOST_BUNDLE + "/Contents/MacOS/Morvane Quarn"
APP_EXECUTABLE = HOST_BUNDLE + "/Contents/Frameworks/QuarnAI.app/Contents/MacOS/QuarnAI"

SETTINGS_RELATIVE = "Library/Application Support/QuarnAI/config/QuarnAIConfig.plist"
SHORTCUT_FOLDER_RELATIVE = "Library/Application Support/QuarnAI/config/shortcut"

# Virtual key codes and modifier names the host stand-in understands, and the same keys for
# xdotool (Control is Control, Option is Alt on the desktop backend).
KEY_K = 0x28
KEY_L = 0x25
SIDE_HOTKEY = (KEY_K, "control+option", "ctrl+alt+k")
SCREENSHOT_HOTKEY = (KEY_L, "control+option", "ctrl+alt+l")


class E2EError(AssertionError):
    pass


def source_dir():
    return Path(os.environ.get("QUARN_SOURCE_DIR", Path(__file__).resolve().parents[2]))


def binary_dir():
    given = os.environ.get("QUARN_BINARY_DIR")
    if given:
        return Path(given)
    return source_dir() / "build"


OVERRIDES = {"QuarnAI": "QUARN_E2E_APP", "QuarnHost": "QUARN_E2E_HOST", "QuarnGetText": "QUARN_E2E_TEXT_TOOL",
             "QuarnAIService": "QUARN_E2E_SERVICE", "QuarnDesktopServices": "QUARN_E2E_DESKTOP_SERVICES"}


def program(name):
    """A built program: <build>/bin/<name>, unless its QUARN_E2E_* variable names another."""
    override = os.environ.get(OVERRIDES.get(name, ""))
    path = Path(override) if override else binary_dir() / "bin" / name
    if not path.exists():
        raise E2EError(f"{path} is not built")
    return path


def output_root():
    return Path(os.environ.get("QUARN_E2E_OUTPUT", binary_dir() / "test-output" / "e2e"))


def write_control_line(fifo, line, owner, deadline=10.0):
    """Writes one command line to a stand-in's control FIFO once the stand-in reads it."""
    end = time.monotonic() + deadline
    while True:
        try:
            fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
            break
        except OSError:
            if time.monotonic() >= end:
                raise E2EError(f"the control FIFO {fifo} of {owner} has no reader")
            time.sleep(0.05)
    try:
        os.write(fd, (line + "\n").encode())
    finally:
        os.close(fd)


def notification_lines(output, kind, name):
    """User information of every `kind` ("sent" or "received") notification `name` that a
    stand-in printed as "<kind> <name> <json>"."""
    found = []
    for line in output.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[0] == kind and parts[1] == name:
            found.append(json.loads(parts[2]))
    return found


def wait_until(condition, what, deadline=DEADLINE, interval=0.1):
    """Polls until condition() answers something true and returns it; fails naming `what`."""
    end = time.monotonic() + deadline
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= end:
            raise E2EError(f"timed out after {deadline:.0f} s waiting for {what}")
        time.sleep(interval)


def run_tool(args, check=False, timeout=30):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, check=check)


def desktop_environment(home):
    """A desktop of its own under `home` (tests/support/test-desktop.sh): the variables to set, and
    None for those to unset."""
    result = run_tool(["bash", str(source_dir() / "tests" / "support" / "test-desktop.sh"), str(home)])
    if result.returncode != 0:
        raise E2EError("test-desktop.sh failed: " + result.stderr)
    env = {}
    for line in result.stdout.splitlines():
        if line.startswith("-"):
            env[line[1:]] = None
        elif "=" in line:
            name, value = line.split("=", 1)
            env[name] = value
    return env


# ---------------------------------------------------------------------------------------------
# The X display, seen from outside the application.

@dataclass(frozen=True)
class XWindow:
    id: int
    x: int
    y: int
    width: int
    height: int


def window_geometry(window_id):
    out = run_tool(["xwininfo", "-id", str(window_id)]).stdout
    values = {}
    for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                       ("width", "Width"), ("height", "Height")):
        m = re.search(r"^\s*" + re.escape(label) + r":\s+(-?\d+)", out, re.M)
        if not m:
            return None
        values[key] = int(m.group(1))
    if "IsViewable" not in out:
        return None
    return XWindow(window_id, **values)


def managed_windows():
    """The client windows a running window manager lists (empty without one)."""
    out = run_tool(["xprop", "-root", "_NET_CLIENT_LIST"]).stdout
    return {int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)}


def stacking_order():
    """The client windows a running window manager lists, from the bottom of the stack to its top."""
    out = run_tool(["xprop", "-root", "_NET_CLIENT_LIST_STACKING"]).stdout
    return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]


def visible_windows(wm_class="QuarnAI"):
    """The viewable top-level windows of the application (by WM_CLASS), with their frames in X
    coordinates (origin top-left): children of the root window, and under a window manager the
    clients it put into frames of its own (not windows embedded in other programs, such as a
    tray icon)."""
    def search(*depth):
        found = run_tool(["xdotool", "search", *depth, "--onlyvisible", "--class", wm_class]).stdout.split()
        return [int(w) for w in found]
    top = search("--maxdepth", "1")
    managed = managed_windows()
    framed = [w for w in search() if w in managed and w not in top] if managed else []
    windows = []
    for window_id in top + framed:
        geometry = window_geometry(window_id)
        if geometry and geometry.width > 1 and geometry.height > 1:
            windows.append(geometry)
    return windows


def windows_sized(width, height, tolerance=0):
    return [w for w in visible_windows()
            if abs(w.width - width) <= tolerance and abs(w.height - height) <= tolerance]


def screen_size():
    out = run_tool(["xwininfo", "-root"]).stdout
    w = int(re.search(r"Width:\s+(\d+)", out).group(1))
    h = int(re.search(r"Height:\s+(\d+)", out).group(1))
    return w, h


def xdotool(*args):
    result = run_tool(["xdotool", *[str(a) for a in args]])
    if result.returncode != 0:
        raise E2EError(f"xdotool {' '.join(map(str, args))} failed: {result.stderr.strip()}")
    return result.stdout


def screenshot(path):
    path.parent.mkdir(parents=True, exist_ok=True)
    result = run_tool(["import", "-window", "root", str(path)])
    if result.returncode != 0:
        raise E2EError(f"import could not save {path}: {result.stderr.strip()}")
    return path


# ---------------------------------------------------------------------------------------------
# Processes.

class Process:
    """A child process whose standard output and error go to a file."""

    def __init__(self, name, args, env, output, cwd=None):
        self.name = name
        self.output = output
        # A process started again on the same output file reads only what it printed itself.
        self._start = output.stat().st_size if output.exists() else 0
        self._file = open(output, "ab")
        self.popen = subprocess.Popen([str(a) for a in args], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                      stdout=self._file, stderr=subprocess.STDOUT, start_new_session=True)

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def text(self):
        try:
            with open(self.output, "rb") as f:
                f.seek(self._start)
                return f.read().decode(errors="replace")
        except FileNotFoundError:
            return ""

    def wait_for_line(self, pattern, what=None, deadline=DEADLINE):
        regex = re.compile(pattern, re.M)

        def found():
            m = regex.search(self.text())
            if m:
                return m
            if not self.running():
                raise E2EError(f"{self.name} ended (status {self.popen.returncode}) before printing "
                               f"{what or pattern!r}; its output is in {self.output}")
            return None
        return wait_until(found, what or f"{self.name} to print {pattern!r}", deadline)

    def stop(self, grace=5.0):
        if self.running():
            try:
                self.popen.send_signal(signal.SIGTERM)
                self.popen.wait(grace)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(5)
        # Anything the process started in its own session (WebKit's helpers) goes with it.
        try:
            os.killpg(self.popen.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        self._file.close()


def resident_kib(pid):
    """VmRSS of a process in KiB, or None when it is gone."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        return None
    return None


def descendants(pid):
    children = []
    try:
        out = run_tool(["ps", "-o", "pid=", "--ppid", str(pid)]).stdout
    except subprocess.SubprocessError:
        return children
    for line in out.split():
        child = int(line)
        children.append(child)
        children.extend(descendants(child))
    return children


# ---------------------------------------------------------------------------------------------
# The shared settings file.

def settings_dictionary(logged_in=False, guide_shown=True, status_item=False):
    """A settings file as the application writes for a new user, with the onboarding marked as
    seen (so it does not cover the windows under test) and the login state chosen."""
    return {
        "kQuarn_AI_QA_WIDNDOW_PIN_STATE": False,
        "kQuarn_AI_UD_Accessiblity_Permission": False,
        "kQuarn_AI_UD_AuthUserInfo": {"state": 0 if logged_in else 1, "avatar": "",
                                      "userName": "Test User" if logged_in else ""},
        "kQuarn_AI_UD_GuideWindow_HasChoosedShowAIBar": 0,
        "kQuarn_AI_UD_HasShowGuideWindow": guide_shown,
        "kQuarn_AI_UD_PowerBootShowAILogo": True,
        "kQuarn_AI_UD_ShowStatusBarItem": status_item,
        "kQuarn_AI_UD_StatusBarHiddenOnLiquidScreenAlertShow": False,
        "kQuarn_AI_UD_UseSelectTextTool": False,
    }


# ---------------------------------------------------------------------------------------------
# One run of the application against the stand-ins.

class Session:
    def __init__(self, name, *, settings=None, logged_in=False, service_args=(), start_host=True, tray=False,
                 tray_background=None, tray_edge="top", desktop_services=None, app_env=None, app_prefix=(),
                 window_manager=None, language="zh-Hans"):
        self.name = name
        self.out = output_root() / name
        if self.out.exists():
            shutil.rmtree(self.out)
        self.out.mkdir(parents=True)
        # A short root: the desktop's runtime folder lies under it, and the sockets that programs
        # make there (i3's, the bus's) must fit the 108 bytes of a socket address.
        self.root = Path(tempfile.mkdtemp(prefix=f"quarn-e2e-{name[:24]}-"))
        self.home = self.root / "home"
        self.sysroot = self.root / "sysroot"
        self.home.mkdir()
        # The host's language, as the host records it (None: no record, the system's decides).
        if language is not None:
            record = self.home / "Library" / "Application Support" / "Quarn" / "language"
            record.parent.mkdir(parents=True, exist_ok=True)
            record.write_text(language + "\n")
        self.desktop = desktop_environment(self.home)
        self.settings_initial = settings
        self.logged_in = logged_in
        self.service_args = list(service_args)
        self.start_host = start_host
        self.tray = tray
        # The tray's background as 0xRRGGBB, None for trayer's own (its theme's).
        self.tray_background = tray_background
        # The screen edge the tray sits at, on the right ("top" or "bottom").
        self.tray_edge = tray_edge
        self.tray_process = None
        # QuarnDesktopServices' arguments (the status-item watcher, the portals), None for none;
        # variables only the application gets (XDG_SESSION_TYPE=wayland).
        self.desktop_services_args = desktop_services
        self.desktop_services = None
        self.desktop_services_fifo = self.root / "desktop-services.fifo"
        self.app_env = dict(app_env or {})
        # A command the application runs under ("unshare --pid --fork" for a known process id).
        self.app_prefix = list(app_prefix)
        # A window manager's command line, started before the application: ["i3"] runs i3 with
        # a configuration of its defaults (no bar, no start-up wizard).
        self.window_manager = window_manager
        self.service = None
        self.host = None
        self.app = None
        self.host_fifo = self.root / "host.fifo"
        self.base_url = None
        self.shots = 0
        self._extra = []

    # -- set-up

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def env(self):
        env = {k: v for k, v in os.environ.items() if k not in self.desktop}
        env.update({k: v for k, v in self.desktop.items() if v is not None})
        env.update({
            "QUARN_SYSTEM_ROOT": str(self.sysroot),
            "QUARN_RESOURCES_DIR": str(source_dir() / "resources"),
        })
        if os.environ.get("QUARN_E2E_INSTALLED"):
            # An installed program finds its resources and extension by itself.
            for key in ("QUARN_RESOURCES_DIR", "QUARN_WEBKIT_EXTENSIONS_DIR", "QUARN_SOURCE_DIR"):
                env.pop(key, None)
        if self.base_url:
            env["QUARN_AI_BASE_URL"] = self.base_url
        for key in ("QUARN_HOST_CONTROL", "QUARN_HOST_OUTPUT", "QUARN_GETTEXT_CONTROL", "QUARN_GETTEXT_OUTPUT"):
            env.pop(key, None)
        return env

    def start(self):
        for tool in ("xdotool", "xwininfo", "import"):
            if not shutil.which(tool):
                raise E2EError(f"{tool} is missing (bash scripts/install-deps.sh)")
        if not os.environ.get("DISPLAY") or not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
            raise E2EError("the end-to-end tests need DISPLAY and a session bus (run them through "
                           "tests/support/run-under-xvfb.sh)")
        self.layout()
        if self.settings_initial is not None:
            self.write_settings(self.settings_initial)
        self.start_service()
        if self.tray:
            self.start_tray()
        if self.desktop_services_args is not None:
            self.start_desktop_services()
        if self.window_manager:
            self.start_window_manager(self.window_manager)
        if self.start_host:
            self.start_host_standin()
        self.start_app()

    def layout(self):
        bin_dir = program("QuarnHost").parent
        result = run_tool(["bash", str(source_dir() / "peers" / "layout-sysroot.sh"), str(self.sysroot),
                           "--bin", str(bin_dir), "--resources", str(source_dir() / "resources")])
        if result.returncode != 0:
            raise E2EError("layout-sysroot.sh failed: " + result.stderr)
        app = self.sysroot / APP_EXECUTABLE
        wanted = program("QuarnAI")
        if not app.exists() or app.resolve() != wanted.resolve():
            app.parent.mkdir(parents=True, exist_ok=True)
            if app.is_symlink() or app.exists():
                app.unlink()
            app.symlink_to(wanted)

    def start_service(self):
        args = [program("QuarnAIService"), "--port", "0", *self.service_args]
        if self.logged_in and "--logged-in" not in self.service_args:
            args.append("--logged-in")
        self.service = Process("QuarnAIService", args, self.env(), self.out / "service.log")
        m = self.service.wait_for_line(r'^listening (\{.*\})$', "the AI service to listen")
        self.base_url = json.loads(m.group(1))["baseAddress"]

    def start_host_standin(self):
        self.host = Process("QuarnHost", [self.sysroot / HOST_EXECUTABLE, "--control", self.host_fifo, "--no-stdin"],
                            self.env(), self.out / "host.log")
        self.host.wait_for_line(r'^ready ', "the host stand-in to own its bus name")

    def start_tray(self):
        """A system tray (an XEmbed tray manager) in the right-hand corner of the screen's top or bottom edge."""
        if not shutil.which("trayer"):
            raise E2EError("trayer is missing (bash scripts/install-deps.sh)")
        background = (["--transparent", "false"] if self.tray_background is None else
                      ["--transparent", "true", "--alpha", "0", "--tint", f"0x{self.tray_background:06x}"])
        self.tray_process = self.add_process("trayer", ["trayer", "--edge", self.tray_edge, "--align", "right",
                                                        "--widthtype", "pixel", "--width", "120",
                                                        "--heighttype", "pixel", "--height", "32",
                                                        "--expand", "false", *background])
        wait_until(self.tray_window, "the system tray to come up")

    def start_desktop_services(self):
        """The desktop's services on the bus, as QuarnDesktopServices stands in for them."""
        self.desktop_services = self.add_process(
            "desktop-services", [program("QuarnDesktopServices"), *self.desktop_services_args,
                                 "--control", self.desktop_services_fifo])
        self.desktop_services.wait_for_line(r"^ready$", "the desktop services to own their names")

    def desktop_services_command(self, line):
        write_control_line(self.desktop_services_fifo, line, "the desktop services")

    def desktop_services_lines(self, verb):
        """The words of every line of the desktop services that begins with `verb`."""
        text = self.desktop_services.text() if self.desktop_services else ""
        return [line.split()[1:] for line in text.splitlines() if line.split()[:1] == [verb]]

    def tray_window(self):
        # A top-level window, or under a window manager that frames docks (i3) one level down.
        for depth in (["--maxdepth", "1"], ["--maxdepth", "2"]):
            found = run_tool(["xdotool", "search", *depth, "--onlyvisible", "--class", "trayer"])
            ids = found.stdout.split()
            if ids:
                return int(ids[0])
        return None

    def tray_icons(self):
        """The viewable windows docked in the tray."""
        tray = self.tray_window()
        if not tray:
            return []
        out = run_tool(["xwininfo", "-tree", "-id", str(tray)]).stdout
        icons = []
        for m in re.finditer(r"^\s+(0x[0-9a-f]+) .*?(\d+)x(\d+)[+-]", out, re.M):
            geometry = window_geometry(int(m.group(1), 16))
            if geometry and geometry.width > 1 and geometry.height > 1:
                icons.append(geometry)
        return icons

    def start_app(self):
        self.app = Process("QuarnAI", [*self.app_prefix, self.sysroot / APP_EXECUTABLE], {**self.env(), **self.app_env},
                           self.out / "app.log")
        self.wait_app_log(r"\[AppDelegate\] applicationDidFinishLaunching end", "the launch sequence to end")

    def start_window_manager(self, command=("openbox", "--sm-disable")):
        """A window manager (openbox unless told otherwise; ["i3"] runs i3 with a configuration of its
        defaults, no bar and no start-up wizard): it frames, stacks and focuses windows as a user's
        desktop does; without one the X server leaves the focus where it was. A window mapped
        while the manager is still starting can stay unmapped for good, so this returns once the
        manager has framed a window that was there before it."""
        args = list(command)
        if not shutil.which(args[0]):
            raise E2EError(f"{args[0]} is missing (bash scripts/install-deps.sh)")
        if args == ["i3"]:
            config = self.root / "i3.config"
            config.write_text("# i3 config file (v4)\nfont pango:DejaVu Sans 8\n")
            args += ["-c", str(config)]
        probe = self.add_process("wm-probe", ["xmessage", "-name", "wm-probe", "-geometry", "+0+0", "probe"])

        def probe_windows():
            found = run_tool(["xdotool", "search", "--onlyvisible", "--classname", "wm-probe"]).stdout.split()
            return [int(w) for w in found]
        wait_until(probe_windows, "a window for the window manager to take in")
        self.add_process(args[0], args)
        wait_until(lambda: set(probe_windows()) & managed_windows(), "the window manager to frame a window")
        probe.stop()

    def add_process(self, name, args, env=None):
        process = Process(name, args, env or self.env(), self.out / f"{name}.log")
        self._extra.append(process)
        return process

    # -- tear-down

    def close(self):
        try:
            self.save_status()
        except Exception:
            pass
        for process in [self.app, self.host, *self._extra, self.service]:
            if process:
                process.stop()
        self.copy_settings()
        shutil.rmtree(self.root, ignore_errors=True)

    def save_status(self):
        if self.base_url and self.service and self.service.running():
            (self.out / "service-status.json").write_text(json.dumps(self.status(), indent=1, ensure_ascii=False))

    def copy_settings(self):
        settings = self.home / SETTINGS_RELATIVE
        if settings.exists():
            shutil.copy(settings, self.out / "QuarnAIConfig.plist")

    # -- the application

    def app_log(self):
        return self.app.text() if self.app else ""

    def opened(self):
        """What the application opened through the desktop (folders, files, addresses), in order."""
        record = self.home / ".local" / "state" / "opened"
        return record.read_text().splitlines() if record.exists() else []

    def wait_app_log(self, pattern, what=None, deadline=DEADLINE):
        return self.app.wait_for_line(pattern, what, deadline)

    def screenshot(self, label):
        self.shots += 1
        return screenshot(self.out / f"{self.shots:02d}-{label}.png")

    # -- the host stand-in

    def host_command(self, line, deadline=10.0):
        write_control_line(self.host_fifo, line, "the host stand-in", deadline)

    def host_output(self):
        return self.host.text() if self.host else ""

    def host_lines(self, kind, name):
        """User information of every `kind` ("sent" or "received") notification `name`."""
        return notification_lines(self.host_output(), kind, name)

    def set_hotkey(self, hotkey_type, hotkey):
        key_code, modifiers, _ = hotkey
        before = len(self.host_lines("received", "M2A_KZAIIPCHotKeySetSuccessNotification"))
        self.host_command(f"shortcut {hotkey_type} {key_code} {modifiers}")

        def answered():
            if self.host_lines("received", "M2A_KZAIIPCHotKeySettingFailedNotification"):
                raise E2EError("the application refused the hot key: " + self.host_output())
            return len(self.host_lines("received", "M2A_KZAIIPCHotKeySetSuccessNotification")) > before
        wait_until(answered, f"the application to accept the {hotkey_type} hot key")

    # -- the text tool stand-in

    def text_tool(self, command):
        result = subprocess.run([str(program("QuarnGetText")), "--send", command], env=self.env(),
                                capture_output=True, text=True, timeout=30)
        with (self.out / "text-tool.log").open("a") as log:
            log.write(result.stdout + result.stderr)
        if result.returncode != 0:
            raise E2EError(f"QuarnGetText --send {command!r} failed: {result.stdout}{result.stderr}")

    # -- the AI service stand-in

    def status(self):
        with urllib.request.urlopen(self.base_url + "__status", timeout=10) as response:
            return json.load(response)

    def page_command(self, page, **command):
        """Has the stand-in's pages of one kind run a command: click="element id", saved=bool."""
        body = json.dumps(dict(command, page=page)).encode()
        request = urllib.request.Request(self.base_url + "__page/commands", data=body, method="POST",
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as response:
            return json.load(response)

    def events(self, page=None, direction=None, handler=None):
        found = []
        for event in self.status().get("events", []):
            if page and event.get("page") != page:
                continue
            if direction and event.get("direction") != direction:
                continue
            if handler and event.get("handlerName") != handler:
                continue
            found.append(event)
        return found

    def wait_page_ready(self, page, deadline=DEADLINE):
        return wait_until(lambda: self.events(page, "j2n", "WebIsReady"), f"the {page} page to be ready", deadline)

    # -- the shared settings

    def settings_path(self):
        return self.home / SETTINGS_RELATIVE

    def read_settings(self):
        try:
            with open(self.settings_path(), "rb") as f:
                return plistlib.load(f)
        except (FileNotFoundError, plistlib.InvalidFileException):
            return None

    def write_settings(self, dictionary):
        path = self.settings_path()
        path.parent.mkdir(parents=True, exist_ok=True)
        with open(path, "wb") as f:
            plistlib.dump(dictionary, f)

    # -- the side window

    def side_window(self):
        """The side window: 390 to 420 wide and as high as the screen less 40, once it has slid
        in completely."""
        _, screen_h = screen_size()
        for w in visible_windows():
            if 390 <= w.width <= 420 and w.height == min(screen_h - 40, 2160):
                return w
        return None

    def wait_side_window(self, deadline=DEADLINE):
        return wait_until(self.side_window, "the side window to slide in", deadline)

    def wait_side_window_gone(self, deadline=DEADLINE):
        def gone():
            return not [w for w in visible_windows() if 0 < w.width <= 420 and w.height >= 800]
        wait_until(gone, "the side window to slide out", deadline)


def screen_pixels(region):
    """(x0, y0, width, [(r, g, b), ...] row by row) of the screen inside region (x, y, width,
    height), clipped to the screen; None when nothing of it is on the screen or it cannot be read."""
    x, y, width, height = region
    screen_w, screen_h = screen_size()
    x0, y0 = max(0, x), max(0, y)
    x1, y1 = min(screen_w, x + width), min(screen_h, y + height)
    if x1 <= x0 or y1 <= y0:
        return None
    w, h = x1 - x0, y1 - y0
    raw = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x0}+{y0}", "-depth", "8", "rgb:-"],
                         capture_output=True, timeout=30).stdout
    if len(raw) < w * h * 3:
        return None
    return x0, y0, w, [(raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]) for i in range(w * h)]


def find_colour(region, matches, min_pixels=4):
    """The centre, in root coordinates, of the pixels inside region (x, y, width, height) whose
    (r, g, b) satisfy matches; None when fewer than min_pixels match. Used to find controls drawn
    in a known colour (a close button, a page's button) the way a user would see them."""
    read = screen_pixels(region)
    if not read:
        return None
    x0, y0, w, pixels = read
    sum_x = sum_y = count = 0
    for index, (r, g, b) in enumerate(pixels):
        if matches(r, g, b):
            sum_x += index % w
            sum_y += index // w
            count += 1
    if count < min_pixels:
        return None
    return x0 + sum_x // count, y0 + sum_y // count


def contrast_ratio(a, b):
    """The contrast of two (r, g, b) colours of 0...255 by their relative luminance, 1 to 21."""
    def luminance(rgb):
        def linear(c):
            c /= 255
            return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
        r, g, b = (linear(c) for c in rgb)
        return 0.2126 * r + 0.7152 * g + 0.0722 * b
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def is_close_red(r, g, b):
    return r > 235 and 70 < g < 110 and 60 < b < 100


def close_button(window, deadline=DEADLINE):
    """The centre of a window's close button (the red circle at its top left), once drawn."""
    return wait_until(lambda: find_colour((window.x, window.y, 80, 60), is_close_red),
                      "the window's close button to be drawn", deadline, 0.2)


def wait_drawn(window, deadline=DEADLINE):
    """Waits until the window shows something: a mapped window is black until its first frame."""
    def drawn():
        return find_colour((window.x, window.y, window.width, window.height),
                           lambda r, g, b: r + g + b > 90, window.width * window.height // 4)
    return wait_until(drawn, "the window to be drawn", deadline, 0.2)


def click(x, y, button=1):
    xdotool("mousemove", x, y)
    time.sleep(0.05)
    xdotool("click", button)
