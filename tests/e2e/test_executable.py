"""The Windows executables as shipped: a GUI program that needs no DLL
beyond the system's, with its manifest, version and string table."""

import unittest

import plf_e2e as e2e
from pe_image import MACHINE_AMD64, MACHINE_I386, SUBSYSTEM_GUI, PeImage

# DLLs that every Windows has; the C runtime msvcrt.dll among them.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
               "msvcrt.dll", "comctl32.dll", "version.dll", "ntdll.dll"}

CAPTIONS = {65425: "Nastala chyba:", 65426: "Upozornění", 65427: "Informace", 65428: "Souhlasíte?"}


class WindowsExecutable(unittest.TestCase):
    def images(self):
        for target in e2e.windows_targets():
            with self.subTest(target=target.name):
                yield target, PeImage(target.program.read_bytes())

    def test_is_a_gui_program_of_its_architecture(self):
        for target, image in self.images():
            self.assertEqual(image.subsystem, SUBSYSTEM_GUI)
            self.assertEqual(image.machine, MACHINE_AMD64 if target.name.endswith("x64") else MACHINE_I386)

    def test_imports_only_system_dlls(self):
        for _, image in self.images():
            imports = {name.lower() for name in image.imports()}
            self.assertIn("kernel32.dll", imports)
            self.assertLessEqual(imports, SYSTEM_DLLS, "runtime DLLs would have to ship with the installer")

    def test_string_table_holds_the_captions_in_utf16(self):
        for _, image in self.images():
            table = image.string_table()
            self.assertEqual({k: table.get(k) for k in CAPTIONS}, CAPTIONS)

    def test_manifest_asks_for_the_highest_available_level(self):
        for _, image in self.images():
            manifest = image.manifest()
            self.assertIsNotNone(manifest)
            self.assertIn('requestedExecutionLevel level="highestAvailable"', manifest)
            self.assertIn("supportedOS", manifest)

    def test_version_resource_names_the_product(self):
        for _, image in self.images():
            fixed, strings = image.version_info()
            version = tuple(int(p) for p in e2e.project_version.split("."))
            self.assertEqual(fixed[:len(version)], version)
            self.assertEqual(strings.get("ProductName"), "plf")
            self.assertEqual(strings.get("FileDescription"), "plf update installer")
            self.assertEqual(strings.get("FileVersion"), e2e.project_version)


if __name__ == "__main__":
    unittest.main()
