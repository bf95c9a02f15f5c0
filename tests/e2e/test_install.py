"""Whole installs by the real programs: a package beside the installer, the
installer started in the folder that relative targets are relative to, then
the files, backups, dates and the message looked at."""

import os
import subprocess
import time
import unittest

import plf_e2e as e2e
import plf_package as pkg
from plf_e2e import place_program, scratch_folder, write_file

CZECH = {"LANG": "cs_CZ.UTF-8", "LC_ALL": "cs_CZ.UTF-8"}


class Install:
    """One installer with its package, and the folder it installs into."""

    def __init__(self, target, root, package, setup="setup", folder="app"):
        self.target, self.setup = target, root / setup
        self.program = place_program(target, self.setup, "plfsetup")
        self.put(package)
        self.folder = root / folder
        self.folder.mkdir(exist_ok=True)

    def put(self, package):
        write_file(self.setup / "Install.PLF", package if isinstance(package, bytes) else pkg.build(package))

    def run(self, test, env=None, boxes=()):
        result = self.target.run(self.program, cwd=self.folder, env=env)
        test.assertEqual((result.exit_code, [(b.caption, b.text) for b in result.boxes]), (0, list(boxes)),
                         result.describe())

    def files(self):
        return {str(p.relative_to(self.folder)).replace(os.sep, "/"): p.read_bytes()
                for p in self.folder.rglob("*") if p.is_file()}


def plf(test, *args, code=0):
    if e2e.plf_tool is None:
        test.skipTest("the package tool was not given (--plf)")
    r = subprocess.run([str(e2e.plf_tool), *map(str, args)], capture_output=True)
    test.assertEqual(r.returncode, code, r.stderr.decode())
    return r


class Installs(unittest.TestCase):
    def test_backups_dates_and_a_second_run(self):
        # A backup is made only where none was, so on the second run the
        # oldest file stays in each backup and those targets are replaced
        # through their "~" file. Dates: the entry's plus the time stamp, in
        # two-second steps; now for an entry without one.
        script = pkg.script_entry("[Options]\nTimeStamp=12:00:01\n[Files]\n"
                                  "new=none.txt\nold=target.txt\nboth=both.txt\nbak=onlybak.txt\n")
        entries = [script, pkg.entry("new", b"new new", (2000, 3, 5))]
        entries += [pkg.entry(n, b"new " + n.encode()) for n in ("old", "both", "bak")]
        before = {"target.txt": b"old target", "both.txt": b"old both", "both_OLD.txt": b"older both",
                  "onlybak_OLD.txt": b"a backup"}
        for target in e2e.targets():
            with self.subTest(target=target.name), scratch_folder() as root:
                i = Install(target, root, entries)
                for name, content in before.items():
                    write_file(i.folder / name, content)
                started = time.time()
                i.run(self)
                expected = {"none.txt": b"new new", "target.txt": b"new old", "target_OLD.txt": b"old target",
                            "both.txt": b"new both", "both_OLD.txt": b"older both", "onlybak.txt": b"new bak",
                            "onlybak_OLD.txt": b"a backup"}
                self.assertEqual(i.files(), expected)
                self.assertEqual(tuple(time.localtime(os.stat(i.folder / "none.txt").st_mtime))[:6],
                                 (2000, 3, 5, 12, 0, 0))
                self.assertGreater(os.stat(i.folder / "target.txt").st_mtime, started - 5)
                i.run(self)
                self.assertEqual(i.files(), dict(expected, **{"none_OLD.txt": b"new new"}))

    def test_colon_and_wildcard_characters_in_posix_targets(self):
        # On Linux ":", "?" and "*" are file-name characters: no drive ends
        # at a ":" (not even in the installer's own path), and a target is
        # its own name, never a pattern that finds another.
        script = pkg.script_entry("[Files]\nx=v1:2\\a:b\\c.txt\nx=sub\\a?\n")
        for target in e2e.targets():
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
        for target in e2e.targets():
            with self.subTest(target=target.name), scratch_folder() as root:
                if isinstance(target, e2e.WineTarget) and not czech_locale():
                    self.skipTest("no Czech locale (scripts/deps.sh makes it)")
                write_file(root / "src" / self.NAME, "žluťoučký kůň".encode())
                write_file(root / "src" / "složka" / "čaj.txt", b"tea")
                write_file(root / "setup.ini", script.encode())
                packed = plf(self, "pack", root / "p.plf", root / "setup.ini", f"src={root / 'src'}")
                self.assertIn("byte order mark", packed.stderr.decode())
                self.assertIn("src\\složka\\čaj.txt", plf(self, "list", root / "p.plf").stdout.decode())
                i = Install(target, root, (root / "p.plf").read_bytes(), setup="instalační složka")
                i.run(self, env=CZECH)
                self.assertEqual(i.files(), {"out/" + self.NAME: "žluťoučký kůň".encode(), "out/čaj.txt": b"tea"})
                i.put([pkg.script_entry("[Verify]\nFile=chybí.txt\nMessage=" + message + "\n")])
                i.run(self, env=CZECH, boxes=[(e2e.CAPTION_WARNING, message)])

    def test_what_the_code_page_cannot_hold_is_refused(self):
        with scratch_folder() as root:
            write_file(root / "es" / "año.txt", b"x")
            write_file(root / "s.ini", "[Files]\naño.txt=C:\\año.txt\n".encode())
            write_file(root / "cz.ini", "[Files]\nčaj=C:\\ñ\n".encode())
            cases = [  # arguments, exit code, what stderr names
                (["pack", root / "o.plf", root / "s.ini", root / "es"], 1, "año.txt"),
                (["pack", root / "o.plf", root / "cz.ini"], 1, "line 2, column 9: \"ñ\" has no character in code page 1250"),
                (["list", root / "ñ.plf"], 2, "\"ñ\", which code page 1250 has no character for"),
            ]
            for args, code, named in cases:
                with self.subTest(args=args[:2]):
                    self.assertIn(named, plf(self, *args, code=code).stderr.decode())
                    self.assertFalse((root / "o.plf").exists())
            # Western European: the same names and text pack, and show again.
            plf(self, "pack", "--code-page", "1252", root / "o.plf", root / "s.ini", root / "es")
            self.assertIn(b"a\xf1o.txt", (root / "o.plf").read_bytes())
            self.assertIn("año.txt", plf(self, "list", "--code-page=1252", root / "o.plf").stdout.decode())
            self.assertNotIn("año.txt", plf(self, "list", root / "o.plf").stdout.decode())


class Updates(unittest.TestCase):
    """An update package installed over the old release leaves every target
    as the full new package does; only the unchanged files keep their old
    write and have no new backup."""

    def test_old_then_update_equals_old_then_new(self):
        old = {"a.txt": b"same", "sub/b.txt": b"b 1", "c.txt": b"same c"}
        new = {"a.txt": b"same", "sub/b.txt": b"b 2", "c.txt": b"same c", "sub/d.txt": b"new d"}

        def pack(root, name, files, *options):
            lines = "".join(f"{n}=app\\{n}\n".replace("/", "\\") for n in sorted(files))
            for n, data in files.items():
                write_file(root / (name + ".tree") / n, data)
            write_file(root / (name + ".ini"), ("[Options]\nRename=*_OLD.*\n[Files]\n" + lines).encode())
            said = plf(self, "pack", "--no-progress", *options, root / (name + ".plf"), root / (name + ".ini"),
                       root / (name + ".tree")).stdout.decode()
            return (root / (name + ".plf")).read_bytes(), said

        for target in e2e.targets():
            with self.subTest(target=target.name), scratch_folder() as root:
                old_pkg, _ = pack(root, "old", old)
                new_pkg, _ = pack(root, "new", new)
                delta_pkg, said = pack(root, "delta", new, "--delta-from", root / "old.plf")
                self.assertIn("2 unchanged entries and 2 [Files] lines left out", said)
                results = {}
                for second, package in (("new", new_pkg), ("delta", delta_pkg)):
                    i = Install(target, root / second, old_pkg, folder="")
                    i.run(self)
                    i.put(package)
                    i.run(self)
                    files = i.files()
                    results[second] = ({n: files.get("app/" + n) for n in new}, sorted(n for n in files if "_OLD" in n))
                self.assertEqual(results["new"][0], new)
                self.assertEqual(results["delta"], (new, ["app/sub/b_OLD.txt"]))


if __name__ == "__main__":
    unittest.main()
