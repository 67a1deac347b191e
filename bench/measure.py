#!/usr/bin/env python3
"""Timing and memory half of the quarvend benchmark; bench/run.sh calls it.

It expects the work folder made by run.sh (big.ost, big.b64, small.ost,
tiny.ost, and big.expected, the text that quarvend-encode encodes) and times the commands in rounds, each round running every command
once, the order reversed every other round so that no command always runs
right after the same neighbour. Start-up is timed as a batch of runs on the
100-byte tiny.ost. Then it measures quarvend's peak resident memory with GNU
time, and prints a summary and a Markdown table.
"""

import argparse
import os
import platform
import statistics
import subprocess
import sys
import time

# Goals for the ratios of medians: (numerator, denominator, goal).
GOALS = [("A", "R2", 1.5), ("B", "R2", 2.0), ("C", "R3", 2.5), ("S", "R4", 1.0),
         ("E", "R5", 1.0), ("E", "R6", 1.5), ("F", "R7", 2.5)]
STARTUP_BATCH = 100  # runs of a start-up command per timed round
GOAL_RSS_MAX_KIB = 4096
GOAL_RSS_DIFF_KIB = 256  # between the 8 MiB and the big input: flat with size


def parse_args():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--bin", required=True, help="quarvend binary")
    p.add_argument("--enc", required=True, help="quarvend-encode binary")
    p.add_argument("--work", required=True, help="work folder with the inputs")
    p.add_argument("--rounds", type=int, default=7)
    p.add_argument("--mem-runs", type=int, default=3, help="runs per memory figure (the largest is kept)")
    p.add_argument("--time-bin", default="", help="GNU time; empty skips the memory figures")
    args = p.parse_args()
    if args.rounds < 1:
        p.error("--rounds must be at least 1")
    return args


def cpu_name():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


class Command:
    def __init__(self, key, label, argv, input_path, before=None, batch=1):
        self.key = key
        self.label = label  # how it reads in the report
        self.argv = argv
        self.input_size = os.path.getsize(input_path) * batch
        self.before = before  # untimed step before each run
        self.batch = batch  # runs timed together as one
        self.times = []


def run_once(cmd, err_path):
    """Runs cmd `batch` times with stdout to /dev/null; returns wall seconds.
    Exits on failure."""
    if cmd.before:
        cmd.before()
    with open(os.devnull, "wb") as null, open(err_path, "wb") as err:
        t0 = time.perf_counter()
        for _ in range(cmd.batch):
            rc = subprocess.call(cmd.argv, stdin=subprocess.DEVNULL, stdout=null, stderr=err)
            if rc != 0:
                break
        t1 = time.perf_counter()
    if rc != 0:
        with open(err_path, "rb") as f:
            msg = f.read().decode(errors="replace").strip()
        sys.exit(f"measure: {cmd.key} ({' '.join(cmd.argv)}) failed with status {rc}\n{msg}")
    return t1 - t0


def peak_rss_kib(time_bin, argv, runs, work):
    """Largest peak RSS in KiB over `runs` runs of argv, as GNU time reports it."""
    out_path = os.path.join(work, "rss.txt")
    best = 0
    for _ in range(runs):
        with open(os.devnull, "wb") as null:
            rc = subprocess.call([time_bin, "-f", "%M", "-o", out_path] + argv,
                                 stdin=subprocess.DEVNULL, stdout=null, stderr=subprocess.DEVNULL)
        if rc != 0:
            sys.exit(f"measure: {' '.join(argv)} failed with status {rc} while measuring memory")
        with open(out_path) as f:
            best = max(best, int(f.read().split()[-1]))
    return best


def verdict(ok):
    return "met" if ok else "NOT met"


def main():
    args = parse_args()
    work = args.work
    big_ost = os.path.join(work, "big.ost")
    big_b64 = os.path.join(work, "big.b64")
    small_ost = os.path.join(work, "small.ost")
    tiny_ost = os.path.join(work, "tiny.ost")
    text = os.path.join(work, "big.expected")
    out_txt = os.path.join(work, "out.txt")
    err_path = os.path.join(work, "stderr.txt")

    def remove_out():
        try:
            os.unlink(out_txt)
        except FileNotFoundError:
            pass

    cmds = [
        Command("A", "quarvend big.ost > /dev/null", [args.bin, big_ost], big_ost),
        Command("B", "quarvend big.ost out.txt > /dev/null", [args.bin, big_ost, out_txt], big_ost,
                before=remove_out),
        Command("C", "taskset -c 0 quarvend big.ost > /dev/null",
                ["taskset", "-c", "0", args.bin, big_ost], big_ost),
        Command("S", f"quarvend tiny.ost > /dev/null, {STARTUP_BATCH} runs",
                [args.bin, tiny_ost], tiny_ost, batch=STARTUP_BATCH),
        Command("R1", "base64 -d big.b64 > /dev/null", ["base64", "-d", big_b64], big_b64),
        Command("R2", "cat big.ost > /dev/null", ["cat", big_ost], big_ost),
        Command("R3", "taskset -c 0 cat big.ost > /dev/null",
                ["taskset", "-c", "0", "cat", big_ost], big_ost),
        Command("R4", f"cat tiny.ost > /dev/null, {STARTUP_BATCH} runs", ["cat", tiny_ost],
                tiny_ost, batch=STARTUP_BATCH),
        Command("E", "quarvend-encode text > /dev/null", [args.enc, text], text),
        Command("R5", "base64 text > /dev/null", ["base64", text], text),
        Command("F", "taskset -c 0 quarvend-encode text > /dev/null",
                ["taskset", "-c", "0", args.enc, text], text),
        Command("R6", "cat text > /dev/null", ["cat", text], text),
        Command("R7", "taskset -c 0 cat text > /dev/null", ["taskset", "-c", "0", "cat", text], text),
    ]
    by_key = {c.key: c for c in cmds}

    print("quarvend benchmark")
    print(f"  binary : {args.bin}")
    print(f"  encoder: {args.enc}")
    print(f"  cpu    : {cpu_name()} ({os.cpu_count()} logical)")
    print(f"  inputs : big.ost {by_key['A'].input_size} bytes, big.b64 {by_key['R1'].input_size} bytes,"
          f" small.ost {os.path.getsize(small_ost)} bytes, text {by_key['E'].input_size} bytes")
    print(f"  rounds : {args.rounds} timed after 1 warm-up; order reverses every other round")
    print()

    # Warm-up round: not timed, but it checks that every command works.
    for c in cmds:
        run_once(c, err_path)

    for r in range(args.rounds):
        order = cmds if r % 2 == 0 else list(reversed(cmds))
        for c in order:
            c.times.append(run_once(c, err_path))
        print(f"  round {r + 1}/{args.rounds}: " +
              "  ".join(f"{c.key} {c.times[-1]:.3f}s" for c in cmds), flush=True)
    remove_out()
    print()

    med = {c.key: statistics.median(c.times) for c in cmds}
    gbps = {c.key: c.input_size / med[c.key] / 1e9 for c in cmds}

    print(f"Wall time, median of {args.rounds} rounds")
    print(f"  {'':3} {'command':40} {'median':>9} {'min':>9} {'max':>9} {'GB/s in':>8}")
    for c in cmds:
        print(f"  {c.key:3} {c.label:40} {med[c.key]:8.3f}s {min(c.times):8.3f}s "
              f"{max(c.times):8.3f}s {gbps[c.key]:8.2f}")
    print()

    ratios = [(f"{n}/{d}", med[n] / med[d], goal) for n, d, goal in GOALS]
    ratios.append(("A/R1", med["A"] / med["R1"], None))
    print("Ratios of medians")
    for name, value, goal in ratios:
        if goal is None:
            print(f"  {name:6} {value:6.3f}   (no goal: against base64 -d)")
        else:
            print(f"  {name:6} {value:6.3f}   goal <= {goal}: {verdict(value <= goal)}")
    print()

    rss = None
    if args.time_bin:
        medium_ost = os.path.join(work, "medium.ost")
        rss = {
            "big": peak_rss_kib(args.time_bin, [args.bin, big_ost], args.mem_runs, work),
            "medium": peak_rss_kib(args.time_bin, [args.bin, medium_ost], args.mem_runs, work),
            "small": peak_rss_kib(args.time_bin, [args.bin, small_ost], args.mem_runs, work),
            "big_out": peak_rss_kib(args.time_bin, [args.bin, big_ost, out_txt], args.mem_runs, work),
            "enc_big": peak_rss_kib(args.time_bin, [args.enc, text], args.mem_runs, work),
            "enc_small": peak_rss_kib(args.time_bin, [args.enc, os.path.join(work, "small.expected")],
                                      args.mem_runs, work),
        }
        remove_out()
        diff = abs(rss["big"] - rss["medium"])
        under = max(rss.values()) < GOAL_RSS_MAX_KIB
        print(f"Peak resident memory, largest of {args.mem_runs} runs (GNU time %M)")
        print(f"  quarvend big.ost           {rss['big']:8d} KiB")
        print(f"  quarvend medium.ost        {rss['medium']:8d} KiB   (8 MiB)")
        print(f"  quarvend small.ost         {rss['small']:8d} KiB   (1 KB, one thread)")
        print(f"  quarvend big.ost out.txt   {rss['big_out']:8d} KiB")
        print(f"  quarvend-encode text       {rss['enc_big']:8d} KiB")
        print(f"  quarvend-encode small      {rss['enc_small']:8d} KiB   (small.ost's text)")
        print(f"  big - medium               {diff:8d} KiB   goal <= {GOAL_RSS_DIFF_KIB} KiB: "
              f"{verdict(diff <= GOAL_RSS_DIFF_KIB)}")
        print(f"  all under {GOAL_RSS_MAX_KIB} KiB: {verdict(under)}")
    else:
        print("Peak resident memory: skipped (GNU time not available)")
    print()

    big_mib = by_key["A"].input_size / (1 << 20)
    print("Markdown table (for the README)")
    print()
    print(f"Measured on {cpu_name()}, {big_mib:.0f} MiB input, median of {args.rounds} alternating rounds.")
    print()
    print("| Measure | Result | Goal |")
    print("| --- | --- | --- |")
    for c in cmds:
        rate = "" if c.batch > 1 else f" ({gbps[c.key]:.2f} GB/s)"
        print(f"| {c.key}: `{c.label}` | {med[c.key]:.3f} s{rate} | |")
    for name, value, goal in ratios:
        print(f"| {name} | {value:.3f} | {'' if goal is None else f'<= {goal}'} |")
    if rss:
        print(f"| Peak RSS, {big_mib:.0f} MiB input | {rss['big']} KiB | < {GOAL_RSS_MAX_KIB} KiB |")
        print(f"| Peak RSS, 8 MiB input | {rss['medium']} KiB | < {GOAL_RSS_MAX_KIB} KiB |")
        print(f"| Peak RSS, 1 KB input | {rss['small']} KiB | < {GOAL_RSS_MAX_KIB} KiB |")
        print(f"| Peak RSS, with an output file | {rss['big_out']} KiB | < {GOAL_RSS_MAX_KIB} KiB |")
        print(f"| Peak RSS, big less 8 MiB | {rss['big'] - rss['medium']} KiB | <= {GOAL_RSS_DIFF_KIB} KiB |")
        print(f"| Peak RSS, quarvend-encode text | {rss['enc_big']} KiB | < {GOAL_RSS_MAX_KIB} KiB |")
        print(f"| Peak RSS, quarvend-encode small text | {rss['enc_small']} KiB | < {GOAL_RSS_MAX_KIB} KiB |")


if __name__ == "__main__":
    main()
