"""The Windows executables as shipped: a GUI program that needs no DLL
beyond the system's, with its manifest, version and string table."""

import re
import unittest

import plf_e2e as e2e
from pe_image import MACHINE_AMD64, MACHINE_I386, SUBSYSTEM_GUI, PeImage

# DLLs that every Windows has; the C runtime msvcrt.dll among them.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
               "msvcrt.dll", "comctl32.dll", "version.dll", "ntdll.dll"}

CAPTIONS = {65425: "Nastala chyba:", 65426: "Upozornění", 65427: "Informace", 65428: "Souhlasíte?"}


class WindowsExecutable(unittest.TestCase):
    def test_gui_program_with_system_dlls_captions_manifest_and_version(self):
        version = tuple(int(p) for p in e2e.project_version.split("."))
        for target in (t for t in e2e.TARGETS if isinstance(t, e2e.WineTarget)):
            with self.subTest(target=target.name):
                image = PeImage(target.program.read_bytes())
                machine = MACHINE_AMD64 if target.name.endswith("x64") else MACHINE_I386
                self.assertEqual((image.subsystem, image.machine), (SUBSYSTEM_GUI, machine))
                imports = {name.lower() for name in image.imports()}
                self.assertIn("kernel32.dll", imports)
                self.assertLessEqual(imports, SYSTEM_DLLS, "runtime DLLs would have to ship with the installer")
                table = image.string_table()
                self.assertEqual({k: table.get(k) for k in CAPTIONS}, CAPTIONS)
                manifest = image.manifest() or ""
                self.assertIn('requestedExecutionLevel level="highestAvailable"', manifest)
                self.assertIn("supportedOS", manifest)
                fixed, data = image.version_info()
                self.assertEqual(fixed[:len(version)], version)
                for key, value in (("ProductName", "plf"), ("FileDescription", "plf update installer"),
                                   ("FileVersion", e2e.project_version)):
                    text = [re.escape(t.encode("utf-16-le")) for t in (key, value)]
                    self.assertRegex(data, text[0] + b"\0\0(\0\0)?" + text[1] + b"\0\0", key)


if __name__ == "__main__":
    unittest.main()
