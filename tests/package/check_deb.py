#!/usr/bin/env python3
"""Checks a built kestrin-display-tools or kestrin-display-tools-standins .deb:
name and control fields, every installed path, the fixed paths the programs
start, the man pages against the programs' own usage text, copyright and
changelog, lintian (no error, no warning), and an install and removal with dpkg
into a scratch root whose package database is a copy of this system's (so
Depends must be satisfiable by Debian's real packages). The stand-ins are
installed together with the suite's package found beside them.
Given the source package (.dsc) or a build's .changes (which lists the source,
every .deb with the -dbgsym ones, and the .buildinfo), it runs lintian on that.

usage: check_deb.py PACKAGE.deb|SOURCE.dsc|BUILD.changes [unittest args]

The package's programs are run only to print their usage text; an arm64 package
is run under qemu-user (qemu-aarch64-static with Debian's arm64 libraries).
"""
import gzip
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

SUITE = "kestrin-display-tools"
STANDINS = "kestrin-display-tools-standins"
LIBEXEC = "/usr/lib/kestrin-display-tools"
PROGRAMS = ["panelshow", "panelcolor", "paneldefect",
            "panelshow_timed", "panelshow_sequence", "panelinfo"]
# Man pages of each package.
PAGES = {SUITE: PROGRAMS, STANDINS: ["lightsout", "panelquery"]}


def doc_files(package):
    return [f"/usr/share/doc/{package}/copyright", f"/usr/share/doc/{package}/changelog.gz"]


# Every file each package must hold, and nothing else (directories aside). The
# stand-ins sit at the paths of the device's own programs, so they have a package
# of their own that the device never installs.
PACKAGE_FILES = {
    SUITE: sorted([f"/usr/bin/{p}" for p in PROGRAMS] + [f"{LIBEXEC}/panelshow"]
                  + [f"/usr/share/man/man1/{p}.1.gz" for p in PAGES[SUITE]]
                  + doc_files(SUITE)),
    STANDINS: sorted(["/usr/bin/lightsout", f"{LIBEXEC}/burstkit/panelshow",
                      f"{LIBEXEC}/panelquery"]
                     + [f"/usr/share/man/man1/{p}.1.gz" for p in PAGES[STANDINS]]
                     + doc_files(STANDINS)),
}

# Outside programs each launcher starts by absolute path.
STARTS = {
    "panelshow_timed": [f"{LIBEXEC}/panelshow", "/usr/bin/lightsout"],
    "panelshow_sequence": [f"{LIBEXEC}/burstkit/panelshow", "/usr/bin/lightsout"],
    "panelinfo": [f"{LIBEXEC}/panelquery"],
}

# Command lines that make each program print its usage text without touching a
# device, with the exit status the program gives for it.
USAGE_RUNS = {
    "panelshow": ([], 0),
    "panelcolor": (["1", "2", "3", "4", "5"], 0),
    "paneldefect": (["1", "2"], 0),
    "panelshow_timed": ([], 1),
    "panelshow_sequence": ([], 1),
}

ELF_MACHINE = {"amd64": 62, "arm64": 183}
MULTIARCH = {"amd64": "x86_64-linux-gnu", "arm64": "aarch64-linux-gnu"}

DEB = None


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def elf_machine(path):
    with open(path, "rb") as f:
        head = f.read(20)
    if head[:4] != b"\x7fELF":
        return None
    return struct.unpack_from("<H", head, 18)[0]


def rendered_man(path, section):
    """Lines of one section of a man page, rendered as plain text without wrapping."""
    with gzip.open(path, "rt") as f:
        source = f.read()
    out = run(["groff", "-man", "-t", "-Tascii", "-P-cbou", "-rLL=400n", "-ww", "-z"],
              input=source)
    warnings = out.stderr.strip()
    text = run(["groff", "-man", "-t", "-Tascii", "-P-cbou", "-rLL=400n"], input=source).stdout
    lines, inside = [], False
    for line in text.splitlines():
        if line and not line[0].isspace():
            inside = line.strip() == section
            continue
        if inside and line.strip():
            lines.append(line.strip())
    return lines, warnings


def assert_lintian_clean(case, path):
    # Overrides, if any, sit in the package with a one-line reason each.
    r = run(["lintian", "--fail-on", "error,warning", "--tag-display-limit", "0", path])
    case.assertEqual(r.returncode, 0, f"lintian {os.path.basename(path)}:\n{r.stdout}{r.stderr}")


class Package(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.deb = DEB
        cls.fields = {}
        for key in ["Package", "Version", "Architecture", "Depends", "Maintainer",
                    "Description"]:
            r = run(["dpkg-deb", "-f", cls.deb, key])
            cls.fields[key] = r.stdout.strip()
        cls.arch = cls.fields["Architecture"]
        cls.name = cls.fields["Package"]
        cls.expected = PACKAGE_FILES.get(cls.name, [])
        cls.executables = [f for f in cls.expected if f.startswith(("/usr/bin/", LIBEXEC))]
        cls.pages = PAGES.get(cls.name, [])
        # The suite's package built with this one (the stand-ins depend on it).
        cls.suite_deb = os.path.join(os.path.dirname(cls.deb),
                                     f"{SUITE}_{cls.fields['Version']}_{cls.arch}.deb")
        cls.tmp = tempfile.mkdtemp(prefix="kdt-deb-")
        cls.root = os.path.join(cls.tmp, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)
        listing = run(["dpkg-deb", "-c", cls.deb]).stdout.splitlines()
        # mode owner size date time path [-> target]
        cls.entries = {}
        for line in listing:
            parts = line.split(None, 5)
            path = parts[5].split(" -> ")[0]
            cls.entries["/" + path.lstrip("./").rstrip("/")] = (parts[0], parts[1])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def emulator(self):
        if self.arch == "arm64" and os.uname().machine != "aarch64":
            return ["qemu-aarch64-static", "-L", "/"]
        return []

    def run_program(self, path, argv0, args):
        prefix = self.emulator()
        if prefix:
            cmd = prefix + ["-0", argv0, path] + args
            return subprocess.run(cmd, capture_output=True, text=True, timeout=30,
                                  stdin=subprocess.DEVNULL)
        return subprocess.run([argv0] + args, executable=path, capture_output=True,
                              text=True, timeout=30, stdin=subprocess.DEVNULL)

    # --- name and control ------------------------------------------------------------
    def test_file_name_and_control_fields_agree(self):
        f = self.fields
        self.assertIn(f["Package"], PACKAGE_FILES)
        self.assertIn(f["Architecture"], ELF_MACHINE, "unexpected Architecture")
        self.assertEqual(os.path.basename(self.deb),
                         f"{f['Package']}_{f['Version']}_{f['Architecture']}.deb")
        self.assertRegex(f["Version"], r"^\d+\.\d+\.\d+$")
        self.assertTrue(f["Maintainer"], "Maintainer is empty")
        self.assertTrue(f["Description"], "Description is empty")

    def test_depends_names_the_package_of_every_needed_library(self):
        depends = {d.split()[0].split(":")[0] for d in self.fields["Depends"].split(",") if d.strip()}
        self.assertIn("libc6", depends, f"Depends: {self.fields['Depends']}")
        if self.name == STANDINS:
            self.assertIn(f"{SUITE} (= {self.fields['Version']})", self.fields["Depends"])
        triplet = MULTIARCH[self.arch]
        for rel in self.executables:
            path = self.root + rel
            if os.path.islink(path):
                continue
            dyn = run([f"{triplet}-objdump" if shutil.which(f"{triplet}-objdump") else "objdump",
                       "-p", path]).stdout
            for soname in re.findall(r"^\s*NEEDED\s+(\S+)", dyn, re.M):
                owner = run(["dpkg", "-S", f"/lib/{triplet}/{soname}"])
                if owner.returncode != 0:
                    owner = run(["dpkg", "-S", f"/usr/lib/{triplet}/{soname}"])
                self.assertEqual(owner.returncode, 0,
                                 f"{rel} needs {soname}, which no installed {self.arch} package holds")
                pkg = owner.stdout.split(":")[0]
                self.assertIn(pkg, depends, f"{rel} needs {soname} from {pkg}, "
                              f"not in Depends: {self.fields['Depends']}")

    # --- installed paths ---------------------------------------------------------------
    def test_holds_exactly_the_expected_files(self):
        found = sorted(p for p, (mode, _) in self.entries.items() if not mode.startswith("d"))
        missing = [p for p in self.expected if p not in found]
        extra = [p for p in found if p not in self.expected]
        self.assertEqual({"missing": missing, "extra": extra}, {"missing": [], "extra": []})

    def test_every_path_is_owned_by_root_with_the_right_mode(self):
        for path, (mode, owner) in sorted(self.entries.items()):
            with self.subTest(path=path):
                self.assertEqual(owner, "root/root", f"{path} owner")
                if mode.startswith("d"):
                    self.assertEqual(mode, "drwxr-xr-x", f"{path} mode")
                elif path in self.executables:
                    self.assertIn(mode, ("-rwxr-xr-x", "lrwxrwxrwx"), f"{path} mode")
                else:
                    self.assertEqual(mode, "-rw-r--r--", f"{path} mode")

    def test_programs_are_executables_for_the_package_architecture(self):
        for rel in self.executables:
            with self.subTest(path=rel):
                self.assertTrue(os.path.lexists(self.root + rel), f"{rel} is missing")
                path = os.path.realpath(self.root + rel)
                self.assertTrue(path.startswith(self.root + "/"), f"{rel} points out of the package")
                st = os.stat(path)
                self.assertTrue(stat.S_ISREG(st.st_mode), f"{rel} is not a file")
                self.assertEqual(elf_machine(path), ELF_MACHINE[self.arch],
                                 f"{rel} is not an {self.arch} ELF executable")

    def test_libexec_panelshow_is_the_panelshow_program(self):
        if self.name != SUITE:
            self.skipTest("the suite's package holds panelshow")
        with open(self.root + "/usr/bin/panelshow", "rb") as a, \
             open(self.root + f"{LIBEXEC}/panelshow", "rb") as b:
            self.assertTrue(a.read() == b.read(),
                            f"{LIBEXEC}/panelshow differs from /usr/bin/panelshow")

    def test_every_fixed_path_a_program_starts_is_installed(self):
        both = PACKAGE_FILES[SUITE] + PACKAGE_FILES[STANDINS]
        for rel in self.executables:
            if not os.path.isfile(self.root + rel):
                continue  # reported by the file list check
            with open(self.root + rel, "rb") as f:
                data = f.read()
            for raw in re.findall(rb"/usr/(?:bin|lib/kestrin-display-tools)/[A-Za-z0-9_./-]+", data):
                target = raw.decode()
                with self.subTest(program=rel, starts=target):
                    self.assertIn(target, both, f"{rel} names {target}, not in either package")
        for prog, targets in STARTS.items() if self.name == SUITE else []:
            with open(self.root + f"/usr/bin/{prog}", "rb") as f:
                data = f.read()
            for target in targets:
                with self.subTest(program=prog, starts=target):
                    self.assertIn(target.encode() + b"\0", data,
                                  f"{prog} does not start {target}")

    # --- man pages --------------------------------------------------------------------
    def test_man_pages_are_compressed_as_debian_ships_them(self):
        for prog in self.pages:
            path = self.root + f"/usr/share/man/man1/{prog}.1.gz"
            with self.subTest(page=prog):
                with open(path, "rb") as f:
                    head = f.read(10)
                self.assertEqual(head[:3], b"\x1f\x8b\x08", f"{prog}.1.gz is not gzip")
                self.assertEqual(head[3] & 0x08, 0, f"{prog}.1.gz stores a file name")
                self.assertEqual(struct.unpack_from("<I", head, 4)[0], 0,
                                 f"{prog}.1.gz stores a time stamp")
                self.assertEqual(run(["gzip", "-t", path]).returncode, 0, f"{prog}.1.gz is corrupt")

    def test_man_pages_render_cleanly_and_cover_every_section(self):
        interactive = {"panelcolor", "paneldefect", "panelshow_timed"}
        for prog in self.pages:
            path = self.root + f"/usr/share/man/man1/{prog}.1.gz"
            with self.subTest(page=prog):
                name, warnings = rendered_man(path, "NAME")
                self.assertEqual(warnings, "", f"groff warnings for {prog}.1")
                self.assertTrue(name and name[0].startswith(f"{prog} - "),
                                f"{prog}.1 NAME is {name}")
                sections = ["SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "FILES"]
                for section in sections + (["SIGNALS"] if prog in PROGRAMS else []):
                    body, _ = rendered_man(path, section)
                    self.assertTrue(body, f"{prog}.1 has no {section}")
                keys, _ = rendered_man(path, "KEYS")
                self.assertEqual(bool(keys), prog in interactive,
                                 f"{prog}.1 KEYS section presence")

    def test_man_synopsis_is_the_programs_usage_text(self):
        for prog, (args, status) in USAGE_RUNS.items() if self.name == SUITE else []:
            with self.subTest(program=prog):
                r = self.run_program(self.root + f"/usr/bin/{prog}", prog, args)
                self.assertEqual(r.returncode, status, f"{prog} {args}: {r.stdout}{r.stderr}")
                usage = [line.strip()[len("usage: "):] if line.startswith("usage: ") else line.strip()
                         for line in r.stdout.splitlines() if line.strip().startswith(prog + " ")
                         or line.startswith("usage: ")]
                synopsis, _ = rendered_man(self.root + f"/usr/share/man/man1/{prog}.1.gz", "SYNOPSIS")
                self.assertTrue(usage, f"{prog} printed no usage line: {r.stdout!r}")
                self.assertEqual(synopsis[:len(usage)], usage,
                                 f"{prog}.1 SYNOPSIS differs from the usage text")

    # --- copyright, changelog, lintian -----------------------------------------------
    def test_copyright_is_machine_readable_and_changelog_names_this_version(self):
        with open(self.root + f"/usr/share/doc/{self.name}/copyright") as f:
            copyright_text = f.read()
        self.assertTrue(copyright_text.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"))
        self.assertIn("\nFiles: *\n", copyright_text)
        self.assertIn("\nLicense: other\n", copyright_text)
        with gzip.open(self.root + f"/usr/share/doc/{self.name}/changelog.gz", "rt") as f:
            first = f.readline()
        self.assertTrue(first.startswith(f"{SUITE} ({self.fields['Version']}) "), first)

    def test_lintian_reports_no_error_and_no_warning(self):
        assert_lintian_clean(self, self.deb)

    # --- dpkg -----------------------------------------------------------------------
    def test_dpkg_installs_and_removes_it_in_a_scratch_root(self):
        root = os.path.join(self.tmp, "dpkg-root")
        admin = os.path.join(root, "var/lib/dpkg")
        os.makedirs(os.path.join(admin, "info"))
        os.makedirs(os.path.join(admin, "updates"))
        # This system's package database, so Depends resolve against real packages.
        shutil.copy("/var/lib/dpkg/status", admin)
        if os.path.exists("/var/lib/dpkg/arch"):
            shutil.copy("/var/lib/dpkg/arch", admin)
        open(os.path.join(admin, "available"), "w").close()
        dpkg = ["dpkg", f"--root={root}", "--no-triggers", "--log=/dev/null"]
        debs = [self.deb] if self.name == SUITE else [self.suite_deb, self.deb]
        r = run(dpkg + ["-i"] + debs)
        self.assertEqual(r.returncode, 0, f"dpkg -i failed:\n{r.stdout}{r.stderr}")
        listed = run(dpkg + ["-L", self.name]).stdout.split()
        for path in self.expected:
            with self.subTest(path=path):
                self.assertIn(path, listed, "not registered by dpkg")
                self.assertTrue(os.path.lexists(root + path), "not installed by dpkg")
        r = run(dpkg + ["-r", self.name])
        self.assertEqual(r.returncode, 0, f"dpkg -r failed:\n{r.stdout}{r.stderr}")
        left = [p for p in self.expected if os.path.lexists(root + p)]
        self.assertEqual(left, [], "left behind by dpkg -r")


class SourceOrBuild(unittest.TestCase):
    def test_lintian_reports_no_error_and_no_warning(self):
        assert_lintian_clean(self, DEB)


if __name__ == "__main__":
    if len(sys.argv) < 2 or not sys.argv[1].endswith((".deb", ".dsc", ".changes")):
        print(next(line for line in __doc__.splitlines() if line.startswith("usage: ")))
        sys.exit(2)
    DEB = os.path.abspath(sys.argv.pop(1))
    unittest.main(defaultTest="Package" if DEB.endswith(".deb") else "SourceOrBuild",
                  verbosity=2)
