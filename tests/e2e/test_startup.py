"""The installer's start: it looks for Install.PLF beside its own executable,
whatever it is called and wherever it is started from."""

import unittest

import plf_e2e as e2e
from plf_e2e import CAPTION_WARNING, place_program, scratch_folder, write_file

NOT_FOUND = "Soubor Install.PLF nebyl nalezen!"
WARNING_STYLE = 0x10030  # MB_SETFOREGROUND | MB_ICONEXCLAMATION, button OK


class MissingPackage(unittest.TestCase):
    def assert_one_warning(self, result, text):
        self.assertEqual(result.exit_code, 0, result.describe())
        self.assertEqual(len(result.boxes), 1, result.describe())
        box = result.boxes[0]
        self.assertEqual((box.caption, box.text), (CAPTION_WARNING, text))
        if box.style is not None:
            self.assertEqual(box.style, WARNING_STYLE)

    def test_warns_when_no_package_lies_beside_the_program(self):
        # Started under another name, from another folder that holds a
        # (broken) Install.PLF of its own, which must not be taken; beside
        # the program only a folder of that name.
        for target in e2e.targets():
            for relative in (False, True):
                with self.subTest(target=target.name, relative=relative), scratch_folder() as root:
                    program = place_program(target, root / "setup folder", "another name")
                    write_file(root / "setup folder" / "Install.PLF" / "SCRIPT", b"[Files]\n")
                    cwd = root / "elsewhere"
                    write_file(cwd / "Install.PLF", b"not a package")
                    result = target.run(".." / program.relative_to(root) if relative else program, cwd=cwd)
                    self.assert_one_warning(result, NOT_FOUND)
                    if isinstance(target, e2e.NativeTarget):
                        self.assertEqual(result.stderr.decode("utf-8").count("\n"), 1, result.stderr)
                        self.assertEqual(result.stdout, b"")


if __name__ == "__main__":
    unittest.main()
