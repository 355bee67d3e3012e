"""The user package and the program file in it, read as Windows reads them:
what a user unpacks, which DLLs Windows must find, which icon and version
Explorer shows and the manifest that decides controls and DPI scaling."""

import os
import struct
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winharness as wh  # noqa: E402


class Package(unittest.TestCase):
    def test_one_folder_with_the_program_and_the_pictures_unchanged(self):
        with zipfile.ZipFile(wh.package_zip()) as z:
            files = [i.filename for i in z.infolist() if not i.is_dir()]
            folders = {f.split("/")[0] for f in files}
            self.assertEqual(len(folders), 1, files)
            folder = folders.pop()
            self.assertEqual(sorted(files), sorted(folder + "/" + n for n in ["orvantis.exe"] + wh.DATA_FILES))
            for name in wh.DATA_FILES:
                with open(os.path.join(wh.DATA_DIR, name), "rb") as f:
                    self.assertEqual(z.read(folder + "/" + name), f.read(), name)
            # The program in the package is the one that was built, stripped
            # of its symbols: Windows loads the same DLLs for both.
            packed = wh.PeFile(z.read(folder + "/orvantis.exe"))
        self.assertEqual(packed.imported_dlls(), wh.PeFile(wh.EXE).imported_dlls())
        self.assertEqual(packed.subsystem, 2)


class ProgramFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = wh.PeFile(wh.EXE)

    def test_a_64_bit_windowed_program_that_needs_only_windows_own_dlls(self):
        self.assertEqual(self.pe.machine, 0x8664)
        # 2: the GUI subsystem; a console program would open a console window.
        self.assertEqual(self.pe.subsystem, 2)
        dlls = [d.lower() for d in self.pe.imported_dlls()]
        self.assertIn("ws2_32.dll", dlls)
        self.assertEqual([d for d in dlls if d not in wh.SYSTEM_DLLS and not d.startswith("api-ms-win-")], [],
                         "the program would not start on a PC without these DLLs")

    def test_explorer_shows_the_program_icon_at_every_size(self):
        resources = self.pe.resources()
        groups = resources.get(wh.RT_GROUP_ICON, {})
        # Explorer and the taskbar take the first icon group; named groups
        # come first, in alphabetical order.
        names = sorted((n for n in groups if isinstance(n, str)))
        self.assertTrue(names, "no named icon group")
        self.assertEqual(names[0], "AAAAORVANTIS")
        group = groups["AAAAORVANTIS"]
        icons = resources[wh.RT_ICON]
        images = [icons[i] for i in wh.group_icon_ids(group)]
        # The icon drawn at build time, unchanged, in the sizes Windows asks
        # for from the title bar (16) to Explorer's large views (256).
        with open(os.path.join(wh.BUILD_DIR, "generated", "orvantis.ico"), "rb") as f:
            self.assertEqual(images, wh.ico_images(f.read()))
        sizes = []
        for image in images:
            if image.startswith(b"\x89PNG"):
                width, height = struct.unpack_from(">II", image, 16)
            else:
                width, height = struct.unpack_from("<ii", image, 4)
                height //= 2  # a DIB icon's height counts its mask too
            self.assertEqual(width, height)
            sizes.append(width)
        self.assertEqual(sorted(sizes), [16, 24, 32, 48, 256])

    def test_explorer_shows_the_product_and_its_version(self):
        version = tuple(int(v) for v in wh.project_version().split(".")) + (0,)
        file_version, product_version, strings = wh.version_info(self.pe.resources()[wh.RT_VERSION][1])
        self.assertEqual(file_version, version)
        self.assertEqual(product_version, version)
        self.assertEqual(strings["ProductName"], "Orvantis")
        self.assertEqual(strings["ProductVersion"], wh.project_version())
        self.assertEqual(strings["FileVersion"], wh.project_version())
        self.assertEqual(strings["OriginalFilename"], "orvantis.exe")
        self.assertTrue(strings["FileDescription"])
        self.assertIn("Copyright", strings["LegalCopyright"])

    def test_manifest_selects_modern_controls_and_per_monitor_dpi_awareness(self):
        manifests = self.pe.resources().get(wh.RT_MANIFEST, {})
        # Resource 1 is the one Windows applies to a program.
        self.assertIn(1, manifests)
        text = manifests[1].decode("utf-8")
        self.assertRegex(text, r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"')
        # Without DPI awareness Windows would scale the program's screenshots
        # down to the "logical" size on a 150 % display and blur its window.
        self.assertRegex(text, r"<dpiAwareness[^>]*>\s*PerMonitorV2")
        self.assertRegex(text, r"<dpiAware[^>]*>\s*true")


if __name__ == "__main__":
    wh.main(need_display=False, need_namespace=False)
