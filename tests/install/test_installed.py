"""The installed product: `cmake --install` into a temporary prefix (the CTest fixture does it), then
the installed program run end to end with the installed stand-ins, the desktop entry validated, and
a program whose resources are gone stopping with a clear error.

QUARN_INSTALL_PREFIX names the prefix; the other variables are the end-to-end suite's.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))

from e2e_harness import Session, settings_dictionary, wait_until  # noqa: E402

APP_ID = "com.morvane.QuarnAIAssistant"


def prefix():
    return Path(os.environ["QUARN_INSTALL_PREFIX"])


class Installed(unittest.TestCase):
    def test_installed_program_talks_to_the_chat_page(self):
        self.assertTrue(os.environ.get("QUARN_E2E_INSTALLED"), "run through CTest, which sets the installed mode")
        with Session("installed_program", settings=settings_dictionary(logged_in=True), logged_in=True) as s:
            self.assertEqual(Path(os.readlink(s.sysroot / "Applications/Morvane Quarn.app/Contents/Frameworks/"
                                              "QuarnAI.app/Contents/MacOS/QuarnAI")).resolve(),
                             (prefix() / "bin" / "QuarnAI").resolve())
            s.wait_page_ready("chat")
            s.text_tool("side 2 asked of the installed program")
            wait_until(lambda: [e for e in s.events("chat", "n2j", "SwipeOverMessage")
                                if (e.get("data") or {}).get("message") == "asked of the installed program"],
                       "the installed program's chat page to receive the text")
            s.screenshot("installed-side-window")
            log = s.app_log()
            for broken in ("could not be read", "extension is missing"):
                self.assertNotIn(broken, log)

    def test_installed_files_and_desktop_entry(self):
        root = prefix()
        for relative in ("bin/QuarnAI", "bin/QuarnHost", "bin/QuarnGetText", "bin/QuarnAIService",
                         "lib/quarnai/quarn-webkit-page-extension.so", "share/quarnai/Info.plist",
                         "share/quarnai/bridge/WebViewJavascriptBridge.js", f"share/applications/{APP_ID}.desktop"):
            self.assertTrue((root / relative).is_file(), f"{relative} is not installed")
        self.assertFalse((root / "share/quarnai/images/test").exists(), "test images are installed")
        entry = root / f"share/applications/{APP_ID}.desktop"
        result = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout.strip(), "", "desktop-file-validate warned")
        text = entry.read_text()
        self.assertIn(f"Icon={APP_ID}\n", text)
        icons = list((root / "share/icons/hicolor").glob(f"*/apps/{APP_ID}.*"))
        self.assertTrue(icons, "no icon in the hicolor theme")

    def test_debian_package(self):
        build = Path(os.environ["QUARN_BINARY_DIR"])
        with tempfile.TemporaryDirectory(prefix="quarn-package-") as folder:
            made = subprocess.run(["cpack", "-G", "DEB", "-B", folder, "-D", "CPACK_STRIP_FILES=ON"], cwd=build,
                                  capture_output=True, text=True, timeout=600)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            deb = next(Path(folder).glob("*.deb"))
            contents = subprocess.run(["dpkg-deb", "--contents", str(deb)], capture_output=True, text=True).stdout
            for path in ("./usr/bin/QuarnAI", "./usr/lib/quarnai/quarn-webkit-page-extension.so",
                         "./usr/share/quarnai/bridge/WebViewJavascriptBridge.js", "./usr/share/quarnai/Info.plist",
                         f"./usr/share/applications/{APP_ID}.desktop", f"/apps/{APP_ID}."):
                self.assertIn(path, contents)
            info = subprocess.run(["dpkg-deb", "--info", str(deb)], capture_output=True, text=True).stdout
            depends = next((line for line in info.splitlines() if line.strip().startswith("Depends:")), "")
            for library in ("libwebkit2gtk-4.1-0", "libgtk-3-0", "libplist3", "libsoup-3.0-0"):
                self.assertIn(library, depends)
            self.assertIn("Recommends: fonts-noto-cjk", info)

    def test_missing_resources_stop_the_program_with_a_clear_error(self):
        with tempfile.TemporaryDirectory(prefix="quarn-noresources-") as folder:
            bin_dir = Path(folder) / "bin"
            bin_dir.mkdir()
            program = bin_dir / "QuarnAI"
            shutil.copy2(prefix() / "bin" / "QuarnAI", program)
            env = {k: v for k, v in os.environ.items()
                   if k not in ("QUARN_RESOURCES_DIR", "QUARN_SOURCE_DIR", "DISPLAY")}
            env["HOME"] = folder
            result = subprocess.run([str(program)], env=env, capture_output=True, text=True, timeout=60)
            self.assertNotEqual(result.returncode, 0, "the program started without its resources")
            self.assertIn("WebViewJavascriptBridge.js is missing", result.stderr)
            self.assertFalse((Path(folder) / "Library").exists(), "it wrote into the home folder before stopping")


if __name__ == "__main__":
    unittest.main()
