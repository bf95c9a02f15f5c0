"""Whole installs by the real programs: a package beside the installer, the
installer started in the folder that relative targets are relative to, then
the files, backups, "~" names, dates and the message looked at."""

import os
import subprocess
import time
import unittest
import zlib

import plf_e2e as e2e
import plf_package as pkg
from plf_e2e import CAPTION_ERROR, place_program, scratch_folder, write_file


class Install:
    """One installer with its package, and the folder it installs into."""

    def __init__(self, target, root, entries, setup="setup"):
        self.target = target
        self.program = place_program(target, root / setup, "plfsetup")
        write_file(root / setup / "Install.PLF", entries if isinstance(entries, bytes) else pkg.build(entries))
        self.folder = root / "app"
        self.folder.mkdir()

    def run(self, env=None):
        return self.target.run(self.program, cwd=self.folder, env=env)

    def read(self, name):
        path = self.folder / name
        return path.read_bytes() if path.exists() else None

    def names(self):
        return sorted(str(p.relative_to(self.folder)).replace(os.sep, "/")
                      for p in self.folder.rglob("*") if p.is_file())


class Installs(unittest.TestCase):
    def each_target(self, entries, prepare=None):
        for target in e2e.targets():
            with self.subTest(target=target.name), scratch_folder() as root:
                install = Install(target, root, entries)
                if prepare:
                    prepare(install)
                yield install

    def assert_clean(self, result):
        self.assertEqual((result.exit_code, result.boxes), (0, []), result.describe())

    def test_backup_states_and_a_second_run(self):
        script = pkg.script_entry("[Files]\nnew=none.txt\nold=target.txt\nboth=both.txt\nbak=onlybak.txt\n")
        entries = [script] + [pkg.entry(n, b"new " + n.encode()) for n in ("new", "old", "both", "bak")]

        def prepare(i):
            write_file(i.folder / "target.txt", b"old target")
            write_file(i.folder / "both.txt", b"old both")
            write_file(i.folder / "both_OLD.txt", b"older both")
            write_file(i.folder / "onlybak_OLD.txt", b"a backup")

        for i in self.each_target(entries, prepare):
            self.assert_clean(i.run())
            expected = {
                "none.txt": b"new new", "target.txt": b"new old", "target_OLD.txt": b"old target",
                "both.txt": b"new both", "both_OLD.txt": b"older both", "onlybak.txt": b"new bak",
                "onlybak_OLD.txt": b"a backup",
            }
            self.assertEqual(i.names(), sorted(expected))
            for name, content in expected.items():
                self.assertEqual(i.read(name), content, name)
            # Again: a backup is made only where none was, so the oldest file
            # stays in each backup and those targets are replaced through
            # their "~" file.
            self.assert_clean(i.run())
            expected["none_OLD.txt"] = b"new new"
            self.assertEqual(i.names(), sorted(expected))
            for name, content in expected.items():
                self.assertEqual(i.read(name), content, name)

    def test_folders_missing_entries_and_read_only_targets(self):
        script = pkg.script_entry("[Files]\nmissing=gone\\sub\\x.txt\ndeep=aaa\\bbb\\ccc\\deep.txt\nro=ro.txt\n")
        entries = [script, pkg.entry("deep", b"deep"), pkg.entry("ro", b"new")]

        def prepare(i):
            write_file(i.folder / "ro.txt", b"protected")
            os.chmod(i.folder / "ro.txt", 0o444)

        for i in self.each_target(entries, prepare):
            self.assert_clean(i.run())
            self.assertTrue((i.folder / "gone" / "sub").is_dir(), "a missing entry still makes its folder")
            self.assertEqual(i.read("aaa/bbb/ccc/deep.txt"), b"deep")
            self.assertEqual(i.read("ro.txt"), b"protected")
            self.assertEqual(i.names(), ["aaa/bbb/ccc/deep.txt", "ro.txt"])

    def test_dates_come_from_the_entry_and_the_time_stamp(self):
        script = pkg.script_entry("[Options]\nTimeStamp=12:00:01\n[Files]\ndated=dated.txt\nundated=undated.txt\n")
        entries = [script, pkg.entry("dated", b"d", (2000, 3, 5)), pkg.entry("undated", b"u")]
        for i in self.each_target(entries):
            before = time.time()
            self.assert_clean(i.run())
            stamp = time.localtime(os.stat(i.folder / "dated.txt").st_mtime)
            self.assertEqual(tuple(stamp)[:6], (2000, 3, 5, 12, 0, 0))  # two-second steps
            self.assertGreater(os.stat(i.folder / "undated.txt").st_mtime, before - 5)

    def test_a_corrupt_entry_stops_the_run_and_keeps_the_old_file(self):
        good = zlib.compress(b"second", 6)
        damaged = good[:-1] + bytes([good[-1] ^ 0xFF])  # a wrong checksum
        script = pkg.script_entry("[Files]\nfirst=first.txt\nsecond=second.txt\nthird=third.txt\n")
        entries = [script, pkg.entry("first", b"first"), pkg.entry("second", b"second", raw=damaged),
                   pkg.entry("third", b"third")]

        def prepare(i):
            write_file(i.folder / "second.txt", b"old second")

        for i in self.each_target(entries, prepare):
            result = i.run()
            self.assertEqual(result.exit_code, 1, result.describe())
            self.assertEqual([(b.caption, b.text) for b in result.boxes], [(CAPTION_ERROR, "Decompression error -3")])
            self.assertEqual(i.read("first.txt"), b"first")
            self.assertEqual(i.read("second.txt"), b"old second")
            self.assertEqual(i.names(), ["first.txt", "second.txt"])

    def test_safe_replacement_rules(self):
        # An entry that cannot be opened leaves the target where it is; a
        # backup named like the "~" file is not truncated; a backup named
        # like the target keeps no backup; data shorter than recorded fails.
        cases = [
            ("unopenable", "[Files]\nx=t.txt\n", [pkg.entry("x", b"new", offset=19)],
             {"t.txt": b"old"}, 0, {"t.txt": b"old"}),
            ("backup is the ~ name", "[Options]\nRename=*.~*\n[Files]\nx=t.txt\n", [pkg.entry("x", b"new")],
             {"t.txt": b"old"}, 0, {"t.txt": b"new", "t.~txt": b"old"}),
            ("backup is the target", "[Options]\nRename=*.*\n[Files]\nx=t.txt\n", [pkg.entry("x", b"new")],
             {"t.txt": b"old"}, 0, {"t.txt": b"new"}),
            ("short data", "[Files]\nx=t.txt\n", [pkg.entry("x", b"new", uncompressed=10)],
             {"t.txt": b"old"}, 1, {"t.txt": b"old"}),
        ]
        for what, script, extra, before, code, after in cases:
            def prepare(i, before=before):
                for name, content in before.items():
                    write_file(i.folder / name, content)

            for i in self.each_target([pkg.script_entry(script)] + extra, prepare):
                result = i.run()
                self.assertEqual(result.exit_code, code, f"{what}: {result.describe()}")
                self.assertEqual(i.names(), sorted(after), what)
                for name, content in after.items():
                    self.assertEqual(i.read(name), content, f"{what}: {name}")


def czech_locale() -> bool:
    """Whether Wine can be given a Czech locale, and with it code page 1250."""
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    return "cs_cz.utf8" in out or "cs_cz.utf-8" in out


class CodePage(unittest.TestCase):
    """Script text, entry names and targets are bytes in code page 1250; each
    program shows and creates them as a Czech Windows does."""

    NAME = "příliš žluťoučký.txt"

    def test_czech_target_names_and_messages(self):
        # The installer lies in a Czech folder too: its own path comes back
        # from the system and must lead to the package beside it.
        install_script = pkg.script_entry("[Files]\nkůň=out\\" + self.NAME + "\n")
        verify_script = pkg.script_entry("[Verify]\nFile=chybí.txt\nMessage=Chybí soubor „chybí.txt“ – nic nebylo instalováno.\n")
        czech = {"LANG": "cs_CZ.UTF-8", "LC_ALL": "cs_CZ.UTF-8"}
        for target in e2e.targets():
            with self.subTest(target=target.name):
                if isinstance(target, e2e.WineTarget) and not czech_locale():
                    self.skipTest("no Czech locale (scripts/deps.sh makes it)")
                with scratch_folder() as root:
                    install = Install(target, root, [install_script, pkg.entry("kůň", b"k\xf9\xf2")], setup="instalační složka")
                    result = install.run(env=czech)
                    self.assertEqual((result.exit_code, result.boxes), (0, []), result.describe())
                    self.assertEqual(install.names(), ["out/" + self.NAME])
                    self.assertEqual(install.read("out/" + self.NAME), b"k\xf9\xf2")
                with scratch_folder() as root:
                    install = Install(target, root, [verify_script])
                    result = install.run(env=czech)
                    self.assertEqual(result.exit_code, 0, result.describe())
                    self.assertEqual([(b.caption, b.text) for b in result.boxes],
                                     [(e2e.CAPTION_WARNING, "Chybí soubor „chybí.txt“ – nic nebylo instalováno.")])


    def plf(self, *args):
        if e2e.plf_tool is None:
            self.skipTest("the package tool was not given (--plf)")
        return subprocess.run([str(e2e.plf_tool), *map(str, args)], capture_output=True)

    def test_packed_on_linux_installed_under_the_same_names(self):
        # A script as Notepad saves it (UTF-8, byte order mark) and files
        # with Czech names: pack turns both into code page 1250.
        script = "\ufeff[Files]\nsrc\\" + self.NAME + "=out\\" + self.NAME + "\nsrc\\složka\\čaj.txt=out\\čaj.txt\n"
        czech = {"LANG": "cs_CZ.UTF-8", "LC_ALL": "cs_CZ.UTF-8"}
        for target in e2e.targets():
            with self.subTest(target=target.name), scratch_folder() as root:
                if isinstance(target, e2e.WineTarget) and not czech_locale():
                    self.skipTest("no Czech locale (scripts/deps.sh makes it)")
                write_file(root / "src" / self.NAME, "žluťoučký kůň".encode())
                write_file(root / "src" / "složka" / "čaj.txt", b"tea")
                write_file(root / "setup.ini", script.encode())
                packed = self.plf("pack", root / "p.plf", root / "setup.ini", f"src={root / 'src'}")
                self.assertEqual(packed.returncode, 0, packed.stderr.decode())
                self.assertIn("byte order mark", packed.stderr.decode())
                listed = self.plf("list", root / "p.plf").stdout.decode()
                self.assertIn("src\\složka\\čaj.txt", listed)
                install = Install(target, root, (root / "p.plf").read_bytes())
                result = install.run(env=czech)
                self.assertEqual((result.exit_code, result.boxes), (0, []), result.describe())
                self.assertEqual(install.names(), ["out/" + self.NAME, "out/čaj.txt"])
                self.assertEqual(install.read("out/" + self.NAME), "žluťoučký kůň".encode())

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
                    r = self.plf(*args)
                    self.assertEqual(r.returncode, code, r.stderr.decode())
                    self.assertIn(named, r.stderr.decode())
                    self.assertFalse((root / "o.plf").exists())
            # Western European: the same names and text pack, and show again.
            r = self.plf("pack", "--code-page", "1252", root / "o.plf", root / "s.ini", root / "es")
            self.assertEqual(r.returncode, 0, r.stderr.decode())
            self.assertIn(b"a\xf1o.txt", (root / "o.plf").read_bytes())
            self.assertIn("año.txt", self.plf("list", "--code-page=1252", root / "o.plf").stdout.decode())
            self.assertNotIn("año.txt", self.plf("list", root / "o.plf").stdout.decode())


class Updates(unittest.TestCase):
    """An update package installed over the old release leaves every target
    as the full new package does; only the unchanged files keep their old
    write and have no new backup."""

    SCRIPT = "[Options]\nRename=*_OLD.*\n[Files]\n{lines}"

    def test_old_then_update_equals_old_then_new(self):
        if e2e.plf_tool is None:
            self.skipTest("the package tool was not given (--plf)")
        old = {"a.txt": b"same", "sub/b.txt": b"b 1", "c.txt": b"same c"}
        new = {"a.txt": b"same", "sub/b.txt": b"b 2", "c.txt": b"same c", "sub/d.txt": b"new d"}

        def lines(files):
            return "".join(f"{n.replace('/', chr(92))}=app{chr(92)}{n.replace('/', chr(92))}\n" for n in sorted(files))

        def pack(root, name, files, *options):
            tree = root / (name + ".tree")
            for n, data in files.items():
                write_file(tree / n, data)
            write_file(root / (name + ".ini"), self.SCRIPT.format(lines=lines(files)).encode())
            r = subprocess.run([str(e2e.plf_tool), "pack", "--no-progress", *options, str(root / (name + ".plf")),
                                str(root / (name + ".ini")), str(tree)], capture_output=True)
            self.assertEqual(r.returncode, 0, r.stderr.decode())
            return (root / (name + ".plf")).read_bytes(), r.stdout.decode()

        for target in e2e.targets():
            with self.subTest(target=target.name), scratch_folder() as root:
                old_pkg, _ = pack(root, "old", old)
                new_pkg, _ = pack(root, "new", new)
                delta_pkg, said = pack(root, "delta", new, "--delta-from", str(root / "old.plf"))
                self.assertIn("2 unchanged entries and 2 [Files] lines left out", said)
                results = {}
                for second in ("new", "delta"):
                    machine = root / second
                    install = Install(target, machine, old_pkg)
                    install.folder.rmdir()
                    install.folder = machine
                    self.assertEqual(install.run().exit_code, 0)
                    write_file(machine / "setup" / "Install.PLF", new_pkg if second == "new" else delta_pkg)
                    result = install.run()
                    self.assertEqual((result.exit_code, result.boxes), (0, []), result.describe())
                    results[second] = {n: install.read("app/" + n) for n in new}
                    backups = sorted(n for n in install.names() if "_OLD" in n)
                    results[second + " backups"] = backups
                self.assertEqual(results["delta"], results["new"])
                self.assertEqual(results["delta"], new)
                self.assertEqual(results["delta backups"], ["app/sub/b_OLD.txt"])


class PosixNames(unittest.TestCase):
    """On Linux ":", "?" and "*" are file-name characters: no drive ends at a
    ":", and a target is its own name, never a pattern that finds another."""

    def test_colon_and_wildcard_characters_in_targets(self):
        script = pkg.script_entry("[Files]\nx=v1:2\\a:b\\c.txt\nx=sub\\a?\n")
        for target in e2e.targets():
            if isinstance(target, e2e.WineTarget):
                continue
            with self.subTest(target=target.name), scratch_folder() as root:
                install = Install(target, root, [script, pkg.entry("x", b"new")], setup="setup:v2")
                write_file(install.folder / "sub" / "ab", b"unrelated")
                result = install.run()
                self.assertEqual((result.exit_code, result.boxes), (0, []), result.describe())
                self.assertEqual(install.names(), ["sub/a?", "sub/ab", "v1:2/a:b/c.txt"])
                self.assertEqual(install.read("sub/ab"), b"unrelated")


if __name__ == "__main__":
    unittest.main()
