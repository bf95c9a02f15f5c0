"""Whole installs by the real programs: a package beside the installer, the
installer started in the folder that relative targets are relative to, then
the files, backups, dates and the message looked at."""

import subprocess
import unittest

import plf_e2e as e2e
import plf_package as pkg
from plf_e2e import place_program, scratch_folder, write_file

CZECH = {"LANG": "cs_CZ.UTF-8", "LC_ALL": "cs_CZ.UTF-8"}


class Install:
    """One installer with its package, and the folder it installs into."""

    def __init__(self, target, root, package, setup="setup"):
        self.target, self.setup = target, root / setup
        self.program = place_program(target, self.setup, "plfsetup")
        self.put(package)
        self.folder = root / "app"
        self.folder.mkdir(exist_ok=True)

    def put(self, package):
        write_file(self.setup / "Install.PLF", package if isinstance(package, bytes) else pkg.build(package))

    def run(self, test, env=None, boxes=()):
        r = self.target.run(self.program, cwd=self.folder, env=env)
        test.assertEqual((r.exit_code, [(b.caption, b.text) for b in r.boxes]), (0, list(boxes)), r)

    def files(self):
        return {p.relative_to(self.folder).as_posix(): p.read_bytes() for p in self.folder.rglob("*") if p.is_file()}


def plf(test, *args, code=0):
    if e2e.plf_tool is None:
        test.skipTest("the package tool was not given (--plf)")
    r = subprocess.run([str(e2e.plf_tool), *map(str, args)], capture_output=True)
    test.assertEqual(r.returncode, code, r.stderr.decode())
    return r


class Installs(unittest.TestCase):
    def test_colon_and_wildcard_characters_in_posix_targets(self):
        # On Linux ":", "?" and "*" are file-name characters: no drive ends
        # at a ":" (not even in the installer's own path), and a target is
        # its own name, never a pattern that finds another.
        script = pkg.script_entry("[Files]\nx=v1:2\\a:b\\c.txt\nx=sub\\a?\n")
        for target in e2e.TARGETS:
            if isinstance(target, e2e.WineTarget):
                continue
            with self.subTest(target=target.name), scratch_folder() as root:
                i = Install(target, root, [script, pkg.entry("x", b"new")], setup="setup:v2")
                write_file(i.folder / "sub" / "ab", b"unrelated")
                i.run(self)
                self.assertEqual(i.files(), {"sub/a?": b"new", "sub/ab": b"unrelated", "v1:2/a:b/c.txt": b"new"})


def czech_locale() -> bool:
    # Whether Wine can be given a Czech locale, and with it code page 1250.
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    return "cs_cz.utf8" in out or "cs_cz.utf-8" in out


class CodePage(unittest.TestCase):
    """Script text, entry names and targets are bytes in code page 1250; each
    program shows and creates them as a Czech Windows does."""

    NAME = "příliš žluťoučký.txt"

    def test_packed_on_linux_installed_under_czech_names(self):
        # A script as Notepad saves it (UTF-8, byte order mark) and files
        # with Czech names: pack turns both into code page 1250. The
        # installer lies in a Czech folder too: its own path comes back from
        # the system and must lead to the package beside it.
        script = "\ufeff[Files]\nsrc\\" + self.NAME + "=out\\" + self.NAME + "\nsrc\\složka\\čaj.txt=out\\čaj.txt\n"
        message = "Chybí soubor „chybí.txt“ – nic nebylo instalováno."
        for target in e2e.TARGETS:
            with self.subTest(target=target.name), scratch_folder() as root:
                if isinstance(target, e2e.WineTarget) and not czech_locale():
                    self.skipTest("no Czech locale (scripts/deps.sh makes it)")
                write_file(root / "src" / self.NAME, "žluťoučký kůň".encode())
                write_file(root / "src" / "složka" / "čaj.txt", b"tea")
                write_file(root / "setup.ini", script.encode())
                plf(self, "pack", root / "p.plf", root / "setup.ini", f"src={root / 'src'}")
                self.assertIn("src\\složka\\čaj.txt", plf(self, "list", root / "p.plf").stdout.decode())
                i = Install(target, root, (root / "p.plf").read_bytes(), setup="instalační složka")
                i.run(self, env=CZECH)
                self.assertEqual(i.files(), {"out/" + self.NAME: "žluťoučký kůň".encode(), "out/čaj.txt": b"tea"})
                i.put([pkg.script_entry("[Verify]\nFile=chybí.txt\nMessage=" + message + "\n")])
                i.run(self, env=CZECH, boxes=[(e2e.CAPTION_WARNING, message)])

    def test_the_code_page_is_chosen_at_the_start(self):
        # An argument the code page cannot hold is refused as the program
        # starts; another code page packs and shows the names of its own.
        with scratch_folder() as root:
            write_file(root / "es" / "año.txt", b"x")
            write_file(root / "s.ini", "[Files]\naño.txt=C:\\año.txt\n".encode())
            self.assertIn("\"ñ\", which code page 1250 has no character for",
                          plf(self, "list", root / "ñ.plf", code=2).stderr.decode())
            plf(self, "pack", "--code-page", "1252", root / "o.plf", root / "s.ini", root / "es")
            self.assertIn(b"a\xf1o.txt", (root / "o.plf").read_bytes())
            self.assertIn("año.txt", plf(self, "list", "--code-page=1252", root / "o.plf").stdout.decode())


if __name__ == "__main__":
    unittest.main()
