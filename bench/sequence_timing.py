#!/usr/bin/env python3
"""panelshow_sequence's timing as the brightness file sees it.

Runs each given runner on a directory of 30 entries (settle 100 ms, display
200 ms) with bench/brightness_clock preloaded, and prints per entry the settle
time (the image program's fork to the close of the brightness file with the
"on" level) and the lit time (that close to the close with "off"), each as the
excess over its nominal value in milliseconds. Nominal: the first entry settles
1200 ms and is lit 324.5 ms, later entries settle 100 ms and are lit 224.9 ms.
No root needed: the brightness file is a file in a temporary folder, the image
program /bin/sleep, lightsout /bin/true. A benchmark, not a test.

usage: sequence_timing.py --shim build/bench/libbrightness_clock.so
                          [--load N] [--rounds R] NAME=RUNNER [NAME=RUNNER ...]
  --load N   N busy loops run alongside (one per core loads the machine fully)
"""
import argparse
import os
import statistics
import struct
import subprocess
import tempfile

ENTRIES = 30
SETTLE_NS = 100_000_000
DISPLAY_NS = 200_000_000
NOMINAL_SETTLE = [1_200_000_000] + [SETTLE_NS] * (ENTRIES - 1)
NOMINAL_LIT = [DISPLAY_NS + 124_500_000] + [DISPLAY_NS + 24_900_000] * (ENTRIES - 1)
FORK, CLOSED = 1, 2


def run_once(shim, runner, scratch):
    images = os.path.join(scratch, "images")
    os.makedirs(images, exist_ok=True)
    for i in range(ENTRIES):
        open(os.path.join(images, f"{i:02d}.png"), "w").close()
    log = os.path.join(scratch, "log")
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, LD_PRELOAD=os.path.abspath(shim), KDT_BENCH_LOG=log,
               KDT_BENCH_BACKLIGHT=scratch)
    subprocess.run([runner, images, str(SETTLE_NS), str(DISPLAY_NS)], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    with open(log, "rb") as f:
        data = f.read()
    count = struct.unpack_from("<q", data, 0)[0]
    events = [struct.unpack_from("<qq", data, 16 + 16 * i) for i in range(count)]
    # Per entry: fork, close with "on", close with "off".
    settle, lit = [], []
    for i in range(0, len(events), 3):
        (k0, fork), (k1, on), (k2, off) = events[i:i + 3]
        assert (k0, k1, k2) == (FORK, CLOSED, CLOSED), events[i:i + 3]
        settle.append(on - fork)
        lit.append(off - on)
    assert len(lit) == ENTRIES, f"{len(lit)} entries lit"
    with open(os.path.join(scratch, "brightness")) as f:
        assert f.read() == "0\n", "the backlight was left on"
    return ([(s - n) / 1e6 for s, n in zip(settle, NOMINAL_SETTLE)],
            [(l - n) / 1e6 for l, n in zip(lit, NOMINAL_LIT)])


def summary(values):
    within = [sum(abs(v) <= limit for v in values) for limit in (0.1, 0.25, 1.0)]
    return (f"median {statistics.median(values):+.3f}  min {min(values):+.3f}  "
            f"max {max(values):+.3f}  within 0.1/0.25/1 ms: "
            + "/".join(str(n) for n in within) + f" of {len(values)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shim", required=True)
    parser.add_argument("--load", type=int, default=0)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("runners", nargs="+", metavar="NAME=RUNNER")
    opts = parser.parse_args()
    runners = [r.split("=", 1) for r in opts.runners]

    loops = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(opts.load)]
    try:
        results = {name: [] for name, _ in runners}
        # tmpfs where there is one: a disk file system's close after truncation
        # flushes, which the sysfs file never does.
        where = "/dev/shm" if os.path.isdir("/dev/shm") else None
        with tempfile.TemporaryDirectory(prefix="kdt-seqbench-", dir=where) as scratch:
            for _ in range(opts.rounds):
                for name, runner in runners:  # alternate, so both see the same machine
                    results[name].append(run_once(opts.shim, runner, scratch))
    finally:
        for p in loops:
            p.kill()
            p.wait()

    print(f"excess over nominal in ms, {ENTRIES} entries, settle {SETTLE_NS // 1000000} ms, "
          f"display {DISPLAY_NS // 1000000} ms, {opts.load} busy loops, last of {opts.rounds} "
          "round(s)")
    header = "entry " + "".join(f"| {name + ' settle':>14} {name + ' lit':>11} "
                                 for name, _ in runners)
    print(header)
    for i in range(ENTRIES):
        row = f"{i:5d} "
        for name, _ in runners:
            settle, lit = results[name][-1]
            row += f"| {settle[i]:+14.3f} {lit[i]:+11.3f} "
        print(row)
    for name, _ in runners:
        for r, (settle, lit) in enumerate(results[name]):
            print(f"{name} round {r + 1}: lit {summary(lit)} | settle {summary(settle)}")
        all_lit = [v for _, lit in results[name] for v in lit]
        all_settle = [v for settle, _ in results[name] for v in settle]
        print(f"{name} all rounds: lit {summary(all_lit)} | settle {summary(all_settle)}")


if __name__ == "__main__":
    main()
