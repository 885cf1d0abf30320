#!/usr/bin/env python3
"""panelshow_timed, panelshow_sequence, panelinfo and the outside stand-ins, run
as a user runs them.

Each run happens in a private mount namespace (needs root): /usr gets an overlay
whose upper layer lives in a tmpfs, /usr/lib/kestrin-display-tools and /sys/class
get their own tmpfs. The host's /usr and /sys are never written. The outside
programs are fake_outside copies that record their argv, pid and which earlier
children are still present; the brightness file is a FIFO read by the test, so
backlight writes and child starts arrive as one ordered stream of events.

usage: launchers_test.py --bin DIR --fake FAKE_OUTSIDE [unittest args, e.g. -k Timed]
"""
import argparse
import fcntl
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

LIBEXEC = "/usr/lib/kestrin-display-tools"
PANELSHOW = LIBEXEC + "/panelshow"
BURSTKIT = LIBEXEC + "/burstkit/panelshow"
PANELQUERY = LIBEXEC + "/panelquery"
LIGHTSOUT = "/usr/bin/lightsout"
BACKLIGHT = "/sys/class/backlight/ae94000.dsi.0"
END = "__end_of_events__"
WAIT = 10  # seconds before a run counts as hung

OPTS = None
SCRATCH = None


def sh(*args):
    subprocess.run(args, check=True)


def mount_type(path):
    """The file system type of the last mount on path, None when nothing is mounted there."""
    kind = None
    with open("/proc/self/mountinfo") as f:
        for line in f:
            fields = line.split()
            if fields[4] == path:
                kind = fields[fields.index("-") + 1]
    return kind


def enter_namespace():
    if os.environ.get("KDT_LAUNCH_NS") == "1":
        return
    if os.geteuid() != 0:
        print("skipped: needs root for a private mount namespace")
        sys.exit(77)
    os.environ["KDT_LAUNCH_NS"] = "1"
    os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable,
                          os.path.abspath(__file__)] + sys.argv[1:])


def overlay(path, scratch, name):
    """Lays a writable layer from scratch over path: the host's files stay visible,
    every write lands in the layer."""
    upper, work = f"{scratch}/{name}-upper", f"{scratch}/{name}-work"
    os.makedirs(upper)
    os.makedirs(work)
    sh("mount", "-t", "overlay", f"kdt-{name}", "-o",
       f"lowerdir={path},upperdir={upper},workdir={work}", path)
    assert mount_type(path) == "overlay", f"no overlay on {path}: refusing to go on"


def setUpModule():
    global SCRATCH
    # One tmpfs of our own holds the backlight folder and the writable layers over
    # /tmp and /usr. The layers keep the host's files visible (the source and build
    # trees may live under /tmp) while nothing of a run reaches the host.
    sh("mount", "-t", "tmpfs", "kdt-sysclass", "/sys/class")
    assert mount_type("/sys/class") == "tmpfs", "no tmpfs on /sys/class: refusing to go on"
    layers = "/sys/class/kdt-layers"
    overlay("/tmp", layers, "tmp")
    overlay("/usr", layers, "usr")
    SCRATCH = tempfile.mkdtemp(prefix="kdt-launch-")
    os.makedirs(LIBEXEC, exist_ok=True)
    sh("mount", "-t", "tmpfs", "kdt-libexec", LIBEXEC)
    assert mount_type(LIBEXEC) == "tmpfs"
    os.makedirs(BACKLIGHT)


class Events:
    """Lines written to the brightness FIFO, in the order they arrived."""

    def __init__(self, path):
        self.path = path
        self.fd = os.open(path, os.O_RDWR)  # also a writer: readers never see EOF
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        buf = b""
        while True:
            buf += os.read(self.fd, 4096)
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                with self.cond:
                    if line.decode() == END:
                        return
                    self.lines.append(line.decode())
                    self.cond.notify_all()

    def wait_for(self, pattern):
        with self.cond:
            ok = self.cond.wait_for(lambda: any(re.match(pattern, l) for l in self.lines), WAIT)
        assert ok, f"no event like {pattern!r}; events: {self.lines}"
        return next(l for l in self.lines if re.match(pattern, l))

    def finish(self):
        fd = os.open(self.path, os.O_WRONLY)
        os.write(fd, (END + "\n").encode())
        os.close(fd)
        self.thread.join(WAIT)
        os.close(self.fd)
        return self.lines


def ignoring_sigchld():
    """As some station daemons start programs: SIGCHLD left ignored."""
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)


class Run:
    """One program run with stdout collected line by line."""

    def __init__(self, argv, stdin=subprocess.DEVNULL, parent=None):
        self.proc = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, preexec_fn=parent)
        self.lines = []
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        # Read aside too: a child left running would keep the pipe open for ever.
        self.errors = []
        self.err_reader = threading.Thread(
            target=lambda: self.errors.append(self.proc.stderr.read()), daemon=True)
        self.err_reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            with self.cond:
                self.lines.append(raw.decode(errors="replace").rstrip("\n"))
                self.cond.notify_all()

    def wait_line(self, line):
        with self.cond:
            ok = self.cond.wait_for(lambda: line in self.lines, WAIT)
        assert ok, f"no line {line!r}; output so far: {self.lines}"

    def finish(self):
        try:
            status = self.proc.wait(WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError(f"still running after {WAIT} s; output: {self.lines}")
        self.reader.join(WAIT)
        self.err_reader.join(WAIT)
        self.stderr = b"".join(self.errors).decode(errors="replace")
        return status


def record(name, pid, argv, alive=""):
    return f"{name} pid={pid} argv={'|'.join(argv)} alive={alive}"


class Rig(unittest.TestCase):
    """Fresh outside programs, backlight and logs for every test."""

    def setUp(self):
        for entry in os.listdir(LIBEXEC):
            shutil.rmtree(LIBEXEC + "/" + entry, ignore_errors=True)
            if os.path.exists(LIBEXEC + "/" + entry):
                os.unlink(LIBEXEC + "/" + entry)
        if os.path.lexists(LIGHTSOUT):
            os.unlink(LIGHTSOUT)
        self.dir = tempfile.mkdtemp(dir=SCRATCH)
        with open(BACKLIGHT + "/max_brightness", "w") as f:
            f.write("255\n")
        if os.path.lexists(BACKLIGHT + "/brightness"):
            os.unlink(BACKLIGHT + "/brightness")
        os.mkfifo(BACKLIGHT + "/brightness")
        os.environ["KDT_FAKE_EVENTS"] = BACKLIGHT + "/brightness"
        os.environ["KDT_FAKE_PIDS"] = self.dir + "/pids"
        os.environ["KDT_FAKE_QUERY_LOG"] = self.dir + "/query"
        os.environ["KDT_FAKE_LIGHTSOUT_STATUS"] = "0"
        for name in ("KDT_FAKE_PANELSHOW_EXIT", "KDT_FAKE_PANELQUERY_LINE",
                     "KDT_FAKE_PANELQUERY_STATUS", "KDT_FAKE_PANELQUERY_HANG",
                     "KDT_FAKE_PANELQUERY_LINGER", "KDT_FAKE_PANELQUERY_MORE"):
            os.environ.pop(name, None)
        self.events = Events(BACKLIGHT + "/brightness")

    def tearDown(self):
        if self.events is not None:
            self.events.finish()

    def install(self, path, program=None):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(program or OPTS.fake, path)
        os.chmod(path, 0o755)
        return path

    def install_wrapped(self, path):
        """A shell wrapper at path that starts the fake without exec (it forks)."""
        real = self.install(f"{LIBEXEC}/real/{os.path.basename(path)}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(f'#!/bin/sh\n{real} "$@"\nexit $?\n')
        os.chmod(path, 0o755)
        return real

    def all_events(self):
        lines = self.events.finish()
        self.events = None
        return lines

    def program(self, name):
        return os.path.join(OPTS.bin, name)

    def levels(self, events):
        return [e for e in events if re.fullmatch(r"-?\d+", e)]

    def cannot_run(self, launcher, *paths):
        return "".join(f"{launcher}: cannot run {p}: No such file or directory\n" for p in paths)

    def with_reader_gone(self, argv):
        """Status of a run whose stdout reader has gone before the first line."""
        proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        proc.stdout.close()
        return proc.wait(WAIT), proc.pid


class Timed(Rig):
    def start(self, *args, keys=True, child=True, parent=None):
        if child:
            self.install(PANELSHOW)
        self.image = self.dir + "/image.png"
        if keys:
            self.master, slave = pty.openpty()
            run = Run([self.program("panelshow_timed"), self.image, *args], stdin=slave)
            os.close(slave)
        else:
            run = Run([self.program("panelshow_timed"), self.image, *args], parent=parent)
        return run

    def press(self, keys):
        os.write(self.master, keys)

    def child_started(self, mode="0"):
        return self.events.wait_for(
            "panelshow pid=\\d+ argv=" + re.escape(f"{PANELSHOW}|{self.image}|-m|{mode} alive=") + "$")

    def test_untimed_showing_ends_on_enter(self):
        run = self.start("0", "0")
        self.child_started()
        run.wait_line("0")
        self.press(b"\n")
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines, ["0", "got exit character"])
        self.assertEqual(self.levels(self.all_events()), ["255", "0"])

    def test_one_second_with_power_down_hands_over_to_lightsout(self):
        self.install(LIGHTSOUT)
        os.environ["KDT_FAKE_LIGHTSOUT_STATUS"] = "3"
        run = self.start("1000000000", "1", "-b", "50", "-m", "300", "-i", "9", keys=False)
        self.child_started(mode="44")
        self.assertEqual(run.finish(), 3, "status is lightsout's own")
        self.assertEqual(run.lines, [f"display {self.image} for 1 sec 0 nsec", "0"])
        events = self.all_events()
        self.assertEqual(self.levels(events), ["127", "0"])
        # Same process (exec, not a new child), and the killed panelshow already reaped.
        self.assertEqual(events[-1], record("lightsout", run.proc.pid, [LIGHTSOUT]))

    def test_s_key_powers_down_whatever_the_argument(self):
        self.install(LIGHTSOUT)
        run = self.start("0", "0")
        self.child_started()
        run.wait_line("0")
        self.press(b"s")
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines, ["0", "got exit character"])
        events = self.all_events()
        self.assertEqual(self.levels(events), ["255", "0"])
        self.assertEqual(events[-1], record("lightsout", run.proc.pid, [LIGHTSOUT]))

    def test_other_keys_do_nothing(self):
        run = self.start("0", "0")
        self.child_started()
        run.wait_line("0")
        self.press(b"q")
        time.sleep(0.2)
        self.assertIsNone(run.proc.poll(), "'q' ended the showing")
        self.press(b"x\n")
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines, ["0", "got exit character"])

    def test_interrupt_ends_in_order(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            self.install(LIGHTSOUT)
            run = self.start("0", "1")
            self.child_started()
            run.wait_line("0")
            run.proc.send_signal(sig)
            self.assertEqual(run.finish(), 0, sig)
            self.assertEqual(run.lines, ["0"], sig)
            events = self.all_events()
            self.assertEqual(self.levels(events), ["255", "0"], sig)
            self.assertEqual(events[-1], record("lightsout", run.proc.pid, [LIGHTSOUT]), sig)
            os.close(self.master)
            self.setUp()

    def test_reader_that_goes_away_does_not_cut_the_showing(self):
        self.install(PANELSHOW)
        status, _ = self.with_reader_gone([self.program("panelshow_timed"), "i", "20000000", "0"])
        self.assertEqual(status, 0)
        self.assertEqual(self.levels(self.all_events()), ["255", "0"])

    def test_image_program_that_ended_early_darkens_and_fails(self):
        os.environ["KDT_FAKE_PANELSHOW_EXIT"] = "4"
        run = self.start("0", "0", keys=False, parent=ignoring_sigchld)
        self.assertEqual(run.finish(), 1)
        self.assertEqual(run.lines, ["0", f"image program for {self.image} ended with status 4 "
                                          "before it was shown"])
        self.assertEqual(self.levels(self.all_events()), ["255", "0"])

    def test_background_job_runs_without_keys_and_takes_them_in_the_foreground(self):
        self.install(PANELSHOW)
        master, slave = pty.openpty()
        shell = subprocess.Popen(
            ["bash", "-c", 'set -m; "$@" 100000000 0 & wait; "$@" 0 0 & read -r _; fg', "job",
             self.program("panelshow_timed"), self.dir + "/image.png"],
            stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(slave)
        os.write(master, b"\n\n")  # the shell's line, then Enter for the job brought to the front
        self.assertEqual(shell.wait(WAIT), 0)
        os.close(master)
        self.assertEqual(self.levels(self.all_events()), ["255", "0", "255", "0"])

    def test_time_below_one_tick_kills_the_child_at_once(self):
        run = self.start("5000000", "1", keys=False)
        self.assertEqual(run.finish(), 1, "no lightsout installed: the displays stay on")
        self.assertEqual(run.stderr, self.cannot_run("panelshow_timed", LIGHTSOUT))
        self.assertEqual(run.lines, [f"display {self.image} for 0 sec 5000000 nsec", "0"])
        self.assertEqual(self.levels(self.all_events()), ["255", "0"])

    def test_minus_one_is_the_longest_time(self):
        run = self.start("-1", "0")
        self.child_started()
        run.wait_line("0")
        self.press(b"\n")
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines, [f"display {self.image} for 18446744073 sec 709551615 nsec",
                                     "0", "got exit character"])

    def test_brightness_capped_or_off(self):
        run = self.start("20000000", "0", "-b", "150", keys=False)
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines[0], "Capping requested brightness 150% to 100%")
        self.assertEqual(self.levels(self.all_events()), ["255", "0"])
        self.setUp()
        run = self.start("20000000", "0", "-b", "-5", keys=False)
        self.assertEqual(run.finish(), 0)
        self.assertEqual(self.levels(self.all_events()), ["0", "0"])

    def test_power_down_only_for_exactly_one(self):
        self.install(LIGHTSOUT)
        for arg in ("2", "yes"):
            run = self.start("20000000", arg, keys=False)
            self.assertEqual(run.finish(), 0)
        events = self.all_events()
        self.assertFalse([e for e in events if e.startswith("lightsout")], events)

    def test_child_that_cannot_start_is_dark_at_once_and_fails(self):
        # Untimed: without its end noticed the panels would stay lit for ever.
        for power_down, status in (("0", 1), ("1", 3)):
            self.install(LIGHTSOUT)
            os.environ["KDT_FAKE_LIGHTSOUT_STATUS"] = "3"
            run = self.start("0", power_down, keys=False, child=False)
            self.assertEqual(run.finish(), status, power_down)
            self.assertEqual(run.lines, [f"failed to display image {self.image}", "0",
                                         f"image program for {self.image} ended with status 127 "
                                         "before it was shown"], power_down)
            self.assertEqual(run.stderr, self.cannot_run("panelshow_timed", PANELSHOW))
            events = self.all_events()
            self.assertEqual(self.levels(events), ["0"], power_down)
            self.assertEqual(events[-1].startswith("lightsout"), power_down == "1", events)
            self.setUp()

    def test_bad_command_lines_start_nothing(self):
        usage = ("usage: {} <image> <image display time in nsec ( 0 for infinite delay )> "
                 "<power down displays after image ( 1=power down)> [-m <mode_sel>] "
                 "[-b <brightness (0-100)>]")
        prog = self.program("panelshow_timed")
        for args, status in ((["img", "1"], 1), (["img", "1", "0", "-m"], 0),
                             (["img", "1", "0", "-x", "1"], 1)):
            run = Run([prog, *args])
            self.assertEqual(run.finish(), status, args)
            self.assertEqual(run.lines, [usage.format(prog)], args)
        self.assertEqual(self.all_events(), [])


class Sequence(Rig):
    def images(self, names, base=None):
        d = base or (self.dir + "/images")
        os.makedirs(d, exist_ok=True)
        for n in names:
            if n.endswith("/"):
                os.makedirs(d + "/" + n)
            else:
                open(d + "/" + n, "w").close()
        return d

    def run_sequence(self, *args):
        return Run([self.program("panelshow_sequence"), *args], parent=ignoring_sigchld)

    def test_every_entry_lit_in_turn_with_one_child_at_a_time(self):
        self.every_entry_lit(self.install)

    def test_every_entry_lit_in_turn_also_through_a_wrapper_that_forks(self):
        self.every_entry_lit(self.install_wrapped)  # the wrapper's whole process group ends

    def every_entry_lit(self, install):
        program = install(BURSTKIT)
        self.install(LIGHTSOUT)
        os.environ["KDT_FAKE_LIGHTSOUT_STATUS"] = "5"
        d = self.images(["a.png", ".hidden", "sub/"])
        order = os.listdir(d)  # readdir order, dot entries left out
        run = self.run_sequence(d, "100000000", "50000000", "-m", "7")
        self.assertEqual(run.finish(), 5, "the runner becomes lightsout")
        expected = [f"{d} 100000000 50000000", f"opened directory {d}",
                    "setting delays 0 100000000 0 50000000"]
        for n in order:
            expected += [f"found image {d}/{n}", f"manage backlight for {n}", f"close {n}"]
        expected.append("reached end of images")
        self.assertEqual(run.lines, expected)

        events = self.all_events()
        self.assertEqual(len(events), 3 * len(order) + 1, events)
        for i, n in enumerate(order):
            child, on, off = events[3 * i: 3 * i + 3]
            self.assertRegex(child, "^panelshow pid=\\d+ argv=" +
                             re.escape(f"{program}|{d}/{n}|-m|7 alive=") + "$",
                             f"image {i}: a previous image program still present")
            self.assertEqual((on, off), ("193", "0"), f"image {i}")
        self.assertEqual(events[-1], record("lightsout", run.proc.pid, [LIGHTSOUT]),
                         "lightsout must not start while a killed child remains")

    def test_zero_times_fall_back(self):
        self.install(LIGHTSOUT)
        d = self.images([])
        run = self.run_sequence(d, "0", "x")
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines, [f"{d} 0 x", f"opened directory {d}",
                                     "failed to convert vsync delay",
                                     "setting delays 0 999999999 0 999999999",
                                     "reached end of images"])
        self.assertEqual(self.all_events(), [record("lightsout", run.proc.pid, [LIGHTSOUT])])

    def test_delays_split_into_seconds(self):
        d = self.images([])
        run = self.run_sequence(d, "2500000000", "500000000")
        self.assertEqual(run.finish(), 1, "lightsout missing: status 1")
        self.assertIn("setting delays 2 500000000 0 500000000", run.lines)

    def test_negative_times_refused_before_any_child(self):
        self.install(BURSTKIT)
        d = self.images(["a.png"])
        for args, message in (
                (["-5", "1"], "delay nsec before vsync enable must not be negative: -5"),
                (["1", "-1"], "image display time nsec must not be negative: -1")):
            run = self.run_sequence(d, *args)
            self.assertEqual(run.finish(), 1, args)
            self.assertEqual(run.lines, [f"{d} {args[0]} {args[1]}", f"opened directory {d}",
                                         message])
        self.assertEqual(self.all_events(), [])

    def test_bad_command_lines_and_missing_directory(self):
        prog = self.program("panelshow_sequence")
        usage = (f"usage: {prog} <image directory> <delay nsec before vsync enable> "
                 "<image display time nsec> [-m <mode>]")
        for args, status in ((["d", "1"], 1), (["d", "1", "2", "-x", "3"], 0)):
            run = self.run_sequence(*args)
            self.assertEqual(run.finish(), status, args)
            self.assertEqual(run.lines, [usage], args)
        run = self.run_sequence(self.dir + "/none", "1", "2")
        self.assertEqual(run.finish(), 1)
        self.assertEqual(run.lines[1:], ["could not open directory for images"])
        self.assertEqual(self.all_events(), [])

    def test_long_path_passed_whole_and_extra_words_ignored(self):
        self.install(BURSTKIT)
        d = self.images(["i" * 120 + ".png"], base=self.dir + "/" + "d" * 200 + "/")
        path = d + "/" + "i" * 120 + ".png"  # the argument's slash doubled, as given
        self.assertGreater(len(path), 300)
        run = self.run_sequence(d, "1", "1", "-m", "9", "extra")
        self.assertEqual(run.finish(), 1, "lightsout missing")
        self.assertIn(f"found image {path}", run.lines)
        self.assertIn("//" + "i" * 120, path)
        self.assertRegex(self.all_events()[0], "^panelshow pid=\\d+ argv=" +
                         re.escape(f"{BURSTKIT}|{path}|-m|0 alive=") + "$")

    def test_image_program_missing_is_never_lit(self):
        d = self.images(["a.png"])
        run = self.run_sequence(d, "1", "1")
        self.assertEqual(run.finish(), 1, "lightsout missing too")
        self.assertEqual(run.lines[-5:], ["execl failed", "manage backlight for a.png",
                                          "image program for a.png ended with status 127 before "
                                          "it was shown", "close a.png", "reached end of images"])
        self.assertEqual(self.all_events(), ["0"])
        self.assertEqual(run.stderr, self.cannot_run("panelshow_sequence", BURSTKIT, LIGHTSOUT))

    def test_image_program_that_ended_early_is_not_lit(self):
        self.install(BURSTKIT)
        self.install(LIGHTSOUT)
        os.environ["KDT_FAKE_PANELSHOW_EXIT"] = "4"
        run = self.run_sequence(self.images(["a.png"]), "1", "1")
        self.assertEqual(run.finish(), 0)
        self.assertEqual(run.lines[-3:], ["image program for a.png ended with status 4 before it "
                                          "was shown", "close a.png", "reached end of images"])
        self.assertEqual(self.all_events()[1:], ["0", record("lightsout", run.proc.pid, [LIGHTSOUT])])

    def test_stop_signals_darken_reap_and_end_as_a_finished_directory(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            self.install(BURSTKIT)
            self.install(LIGHTSOUT)
            d = self.images(["a.png", "b.png"])
            run = self.run_sequence(d, "1", "60000000000")
            self.events.wait_for("193")
            run.proc.send_signal(sig)
            self.assertEqual(run.finish(), 0, sig)
            first = os.listdir(d)[0]
            self.assertEqual(run.lines[-3:], [f"manage backlight for {first}", f"stopped at {first}",
                                              "reached end of images"], sig)
            self.assertEqual(self.all_events()[1:], ["193", "0", record("lightsout", run.proc.pid,
                                                                        [LIGHTSOUT])], sig)
            self.setUp()

    def test_reader_that_goes_away_does_not_cut_the_sequence(self):
        self.install(BURSTKIT)
        self.install(LIGHTSOUT)
        status, pid = self.with_reader_gone([self.program("panelshow_sequence"),
                                             self.images(["a.png"]), "1", "1"])
        self.assertEqual(status, 0)
        self.assertEqual(self.all_events()[1:], ["193", "0", record("lightsout", pid, [LIGHTSOUT])])


class PanelInfo(Rig):
    ZERO = b"Left Panel:  " + bytes(7) + b"\nRight Panel:  " + bytes(7) + b"\n"

    def numbers(self, from_27):
        return ["0"] * 27 + [str(v) for v in from_27]

    def run_to_files(self):
        """Status, stdout and stderr of panelinfo run into files: a panelquery left
        running would hold a pipe open."""
        with open(self.dir + "/out", "w+b") as out, open(self.dir + "/err", "w+b") as err:
            status = subprocess.Popen([self.program("panelinfo")], stdout=out,
                                      stderr=err).wait(WAIT)
            out.seek(0)
            err.seek(0)
            return status, out.read(), err.read()

    def query_pids(self):
        with open(self.dir + "/query") as f:
            return re.findall(r"pid=(\d+)", f.read())

    def test_both_layouts_from_panelquery(self):
        self.install(PANELQUERY)
        left = self.numbers([1, 65, 66, 67, 68, 69, 10, 70, 71, 72, 3, 7, 2])
        right = self.numbers([80, 78, 49, 50, 51, 52, 53, 54, 55, 56, 57, 48, 65])
        os.environ["KDT_FAKE_PANELQUERY_LINE"] = " ".join(left + right)
        result = subprocess.run([self.program("panelinfo"), "ignored"], capture_output=True)
        self.assertEqual(result.returncode, 0)
        shown = b"Left Panel:  1ABCDEAFGH3072\nRight Panel:  PN1234567890A\n"
        self.assertEqual(result.stdout, shown)
        with open(self.dir + "/query") as f:
            self.assertRegex(f.read(), "argv=" + re.escape(PANELQUERY) + " ")
        # Its numbers shown, but a panelquery that failed fails; one that a wrapper ran
        # and that was cut off after its line (SIGPIPE) has not failed.
        os.environ["KDT_FAKE_PANELQUERY_STATUS"] = "1"
        self.assertEqual(self.run_to_files(), (1, shown, f"panelinfo: {PANELQUERY} exited with "
                                                         "status 1\n".encode()))
        self.install_wrapped(PANELQUERY)
        os.environ["KDT_FAKE_PANELQUERY_MORE"] = "1"
        self.assertEqual(self.run_to_files(), (0, shown, b""))

    def test_no_data_prints_seven_zero_bytes_per_panel(self):
        zero = self.ZERO
        said = f"panelinfo: no panel data: {PANELQUERY} ".encode()
        result = subprocess.run([self.program("panelinfo")], capture_output=True)
        self.assertEqual((result.returncode, result.stdout), (1, zero), "panelquery missing")
        self.assertEqual(result.stderr, said + b"cannot be started: No such file or directory\n")
        self.install(PANELQUERY, self.program("panelquery"))
        result = subprocess.run([self.program("panelinfo")], capture_output=True,
                                preexec_fn=ignoring_sigchld)
        self.assertEqual((result.returncode, result.stdout), (1, zero), "stand-in panelquery")
        self.assertIn(b"no source of the panels' manufacturing data", result.stderr)
        self.assertTrue(result.stderr.endswith(b"\n" + said + b"exited with status 1\n"))
        self.install(PANELQUERY)
        result = subprocess.run([self.program("panelinfo")], capture_output=True)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (1, zero, said + b"printed no line\n"), "fake printing nothing")
        for line in ("", "x -"):
            os.environ["KDT_FAKE_PANELQUERY_LINE"] = line
            self.assertEqual(self.run_to_files(), (1, zero, said + b"printed no numbers\n"), line)

    def test_panelquery_that_never_ends_is_ended(self):
        self.install(PANELQUERY)
        os.environ["KDT_FAKE_PANELQUERY_LINE"] = "1 2"
        os.environ["KDT_FAKE_PANELQUERY_HANG"] = "1"
        status, out, _ = self.run_to_files()
        self.assertEqual(status, 0)
        self.assertTrue(out.startswith(b"Left Panel:  "))
        self.assertFalse(os.path.exists("/proc/" + self.query_pids()[0]), "panelquery running")

    def test_silent_panelquery_is_ended_after_5_s(self):
        self.install(PANELQUERY)
        os.environ["KDT_FAKE_PANELQUERY_HANG"] = "1"
        said = f"panelinfo: no panel data: {PANELQUERY} printed no line within 5 s\n"
        self.assertEqual(self.run_to_files(), (1, self.ZERO, said.encode()))
        self.assertFalse(os.path.exists("/proc/" + self.query_pids()[0]), "panelquery running")

    def test_panelquery_ending_ends_its_line_though_its_child_holds_the_pipe(self):
        self.install(PANELQUERY)
        os.environ["KDT_FAKE_PANELQUERY_LINE"] = " ".join(
            self.numbers([1, 65, 66, 67, 68, 69, 10, 70, 71, 72, 3, 7, 2]))
        os.environ["KDT_FAKE_PANELQUERY_LINGER"] = "1"  # no newline, a child keeps stdout
        status, out, err = self.run_to_files()
        self.assertFalse(os.path.exists("/proc/" + self.query_pids()[1]), "its child running")
        self.assertEqual((status, err), (0, b""))
        self.assertTrue(out.startswith(b"Left Panel:  1ABCDEAFGH3072\n"), out)


class StandIns(Rig):
    def test_panelquery_says_it_has_no_data(self):
        result = subprocess.run([self.program("panelquery")], capture_output=True)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr, b"panelquery: this system has no source of the "
                                        b"panels' manufacturing data\n")

    def test_lightsout_switches_backlight_off_first_then_needs_the_device(self):
        if os.path.exists("/dev/dri"):
            sh("mount", "-t", "tmpfs", "kdt-no-dri", "/dev/dri")
        result = subprocess.run([self.program("lightsout")], capture_output=True)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.decode(),
                         r"^lightsout: src/display/display_init\.cpp:\d+: display_init: "
                         r"Assertion `fd >= 0' failed\.\n"
                         r"lightsout: open /dev/dri/card0: No such file or directory\n$")
        self.assertEqual(self.all_events(), ["0"])


if __name__ == "__main__":
    enter_namespace()
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--fake", required=True)
    OPTS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
