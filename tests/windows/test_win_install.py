"""The Windows installer under Wine, end to end: a silent install for the
current user, the program started from its Start-menu shortcut serving
from the folder it was installed to, and the uninstaller taking it all
away again."""

import os
import shlex
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winharness as wh  # noqa: E402
from winharness import get, jpeg_size, parse, wait_until  # noqa: E402

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvantis"


class Installer(unittest.TestCase):
    def setUp(self):
        self.program = None

    def tearDown(self):
        if self.program:
            if self._outcome.success is False:
                sys.stderr.write("--- orvantis.exe output ---\n" + self.program.output())
            self.program.cleanup()

    def test_silent_install_start_from_the_shortcut_and_uninstall(self):
        wine = wh.Wine.shared()
        r = wine.run([wh.installer(), "/S"], timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

        # The files: per user, in a folder the user may write, the same
        # program and pictures as in the zip.
        folder_win = wine.expand("%LOCALAPPDATA%") + "\\Programs\\Orvantis"
        folder = wine.unix_path(folder_win)
        self.assertEqual(sorted(os.listdir(folder)), sorted(["orvantis.exe", "uninstall.exe"] + wh.DATA_FILES))
        with zipfile.ZipFile(wh.package_zip()) as z:
            top = z.namelist()[0].split("/")[0]
            for name in ["orvantis.exe"] + wh.DATA_FILES:
                with open(os.path.join(folder, name), "rb") as f:
                    self.assertEqual(f.read(), z.read(top + "/" + name), name)

        # The Start-menu shortcut starts the program in that folder; the
        # desktop one is left to the user's choice.
        programs_win = wine.expand("%APPDATA%") + "\\Microsoft\\Windows\\Start Menu\\Programs"
        lnk = os.path.join(wine.unix_path(programs_win), "Orvantis.lnk")
        shortcut = wh.read_shortcut(lnk)
        self.assertEqual(shortcut["target"].lower(), (folder_win + "\\orvantis.exe").lower())
        self.assertEqual(shortcut["workdir"].lower(), folder_win.lower())
        desktop = wine.unix_path(wine.expand("%USERPROFILE%") + "\\Desktop")
        self.assertFalse(os.path.exists(os.path.join(desktop, "Orvantis.lnk")))

        # Add/Remove Programs lists it for this user, under the names and
        # the version that the installed program carries itself, with the
        # icon of the installed program and where it went.
        entry = wine.registry_values(UNINSTALL_KEY)
        self.assertIsNotNone(entry, "no uninstall entry under HKCU")
        carried = wh.version_strings(os.path.join(folder, "orvantis.exe"))
        self.assertEqual(entry["DisplayName"], carried["ProductName"])
        self.assertEqual(entry["Publisher"], carried["CompanyName"])
        self.assertEqual(entry["DisplayVersion"], carried["ProductVersion"])
        self.assertEqual(entry["DisplayVersion"], wh.project_version())
        icon, _, index = entry["DisplayIcon"].rpartition(",")
        self.assertTrue(os.path.samefile(wine.unix_path(icon.strip('"')), os.path.join(folder, "orvantis.exe")))
        self.assertEqual(index, "0")
        self.assertTrue(os.path.samefile(wine.unix_path(entry["InstallLocation"]), folder))

        # Started as the shortcut starts it, the program serves the page and
        # its pictures from its folder and keeps its screenshot there.
        p = self.program = wh.WindowsProgram(folder=folder).start_from_shortcut(lnk)
        p.main_window()
        head, _, body = get(p.port, "/").partition(b"\r\n\r\n")
        self.assertEqual(head + b"\r\n\r\n", wh.answer_header(200, "text/html", len(body)))
        with open(wh.GOLDEN_PAGE, "rb") as f:
            self.assertEqual(wh.as_golden_page(body), f.read())
        with open(os.path.join(folder, "bg.gif"), "rb") as f:
            gif = f.read()
        self.assertEqual(get(p.port, "/bg.gif"), wh.answer_header(200, "image/GIF", len(gif)) + gif)
        _, _, _, jpeg = parse(get(p.port, "/getss1"))
        self.assertGreater(jpeg_size(jpeg)[0], 0)
        self.assertTrue(os.path.isfile(os.path.join(folder, "ss.jpg")))
        p.close()

        # The uninstall command the entry gives (the uninstaller runs on from
        # a copy of itself) removes the folder with the screenshot, the
        # shortcut and the entry.
        uninstall = shlex.split(entry["QuietUninstallString"].replace("\\", "\\\\"))
        self.assertTrue(os.path.samefile(wine.unix_path(uninstall[0]), os.path.join(folder, "uninstall.exe")))
        self.assertTrue(os.path.samefile(wine.unix_path(entry["UninstallString"].strip('"')),
                                         wine.unix_path(uninstall[0])))
        r = wine.run(uninstall, timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        wait_until(lambda: not os.path.exists(folder), 30, step=0.2, what="the uninstaller to remove " + folder)
        self.assertFalse(os.path.exists(lnk))
        self.assertIsNone(wine.registry_values(UNINSTALL_KEY))


if __name__ == "__main__":
    wh.main()
