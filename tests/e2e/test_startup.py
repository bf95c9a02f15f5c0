"""The installer's start: it looks for Install.PLF beside its own executable,
whatever it is called and wherever it is started from."""

import unittest

import plf_e2e as e2e
from plf_e2e import place_program, scratch_folder, write_file


class MissingPackage(unittest.TestCase):
    def test_warns_when_no_package_lies_beside_the_program(self):
        # Started under another name, from another folder that holds a
        # (broken) Install.PLF of its own, which must not be taken; beside
        # the program only a folder of that name. Under Wine the box's style
        # is known too: MB_SETFOREGROUND | MB_ICONEXCLAMATION, button OK.
        for target in e2e.TARGETS:
            for relative in (False, True):
                with self.subTest(target=target.name, relative=relative), scratch_folder() as root:
                    program = place_program(target, root / "setup folder", "another name")
                    write_file(root / "setup folder" / "Install.PLF" / "SCRIPT", b"[Files]\n")
                    cwd = write_file(root / "elsewhere" / "Install.PLF", b"not a package").parent
                    r = target.run(".." / program.relative_to(root) if relative else program, cwd=cwd)
                    wine = isinstance(target, e2e.WineTarget)
                    box = (e2e.CAPTION_WARNING, "Soubor Install.PLF nebyl nalezen!", 0x10030 if wine else None)
                    shown = (r.exit_code, [(b.caption, b.text, b.style) for b in r.boxes], b"" if wine else r.stdout)
                    self.assertEqual(shown, (0, [box], b""), r)


if __name__ == "__main__":
    unittest.main()
