#!/usr/bin/env python3
"""Value-oracle soak: `qarn poll` against `qarn simulate` through every line model and fault.

Every simulated input register holds a known function of its node and address, so every value
the poll reports as good can be checked. The run fails on a single wrong value reported as good,
on failures beyond what the faults explain (with a stated tolerance for time-outs a loaded
machine causes), on a tag that stays failed into the next cycle more often than the faults
explain, and on growth of the poll's memory or open files.

Usage: soak.py --qarn PATH [--reads N] [--only NAME,...] [--keep DIR]
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

NODES = (1, 2, 3)
BLOCKS = (1, 101, 201, 301)  # far enough apart that some requests merge and some do not
BLOCK = 20
TIMEOUT_MS = 100
# Failures a loaded machine may add (a time-out on every attempt of a request), per 1000 reads.
LOAD_TOLERANCE_PER_1000 = 3


def oracle(node, item):
    return (node * 7919 + item * 31) & 0xFFFF


def tags():
    """Name, address and expected value(s) of every tag polled."""
    out = []
    for node in NODES:
        for base in BLOCKS:
            out.append((f"n{node}_{base}", f"{node}?IREG?{300000 + base}?unsignedShort",
                        oracle(node, base)))
        # Long answers, for the bursts and the echo.
        out.append((f"n{node}_long", f"{node}?IREG?{300000 + BLOCKS[-1]}?unsignedShort-{BLOCK}",
                    [oracle(node, BLOCKS[-1] + i) for i in range(BLOCK)]))
    return out


# name, share of the reads (the slow models, where every fault costs a time-out and a guard, get
# fewer), simulator options, poll options, the faulted node (None: any)
SCENARIOS = [
    ("clean", 6, [], [], None),
    ("latency below the time-out", 1, ["--latency-ms", "20", "--jitter-ms", "60"], [], None),
    ("late beyond the time-out, within time-out plus guard", 1,
     ["--delay-ms", str(TIMEOUT_MS + 60), "--delay-every", "9"], [], None),
    ("queueing slave, late", 1,
     ["--queue", "--delay-ms", str(TIMEOUT_MS + 60), "--delay-every", "9"], [], None),
    ("USB bursts", 2, ["--burst-ms", "16"], [], None),
    ("local echo", 4, ["--echo"], ["--echo", "auto"], None),
    ("noise between frames", 1, ["--noise", "0.3"], [], None),
    ("drops", 1, ["--drop-every", "7"], [], None),
    ("bad CRC", 1, ["--bad-crc-every", "7"], [], None),
    ("wrong node", 1, ["--wrong-node-every", "7"], [], None),
    ("exceptions", 2, ["--exception-every", "7"], [], None),
    ("one faulty node", 1, ["--fault-node", "2", "--drop-every", "3", "--exception-every", "5"],
     [], 2),
]


def write_profiles(folder):
    paths = {}
    for node in NODES:
        path = os.path.join(folder, f"node{node}.prof")
        with open(path, "w") as f:
            f.write("framing rtu\n")
            for base in BLOCKS:
                for item in range(base, base + BLOCK):
                    f.write(f"ireg {300000 + item} uint16 {oracle(node, item)}\n")
        paths[node] = path
    return paths


def sample(pid):
    """Resident memory in kB and the number of open files of a process."""
    with open(f"/proc/{pid}/status") as f:
        rss = int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


class Failed(Exception):
    pass


def run(qarn, folder, profiles, name, sim_args, poll_args, faulty_node, reads):
    link = os.path.join(folder, "line")
    line = ["--baud", "115200", "--parity", "none"]
    sim_err = open(os.path.join(folder, "sim.err"), "w+")
    slaves = [a for node in NODES for a in ("--slave", f"{node}:{profiles[node]}")]
    sim = subprocess.Popen([qarn, "simulate", "--pty", "--no-pace", "--link", link, *line,
                            *slaves, *sim_args], stdout=subprocess.PIPE, stderr=sim_err,
                           text=True)
    try:
        sim.stdout.readline()  # the pty's path: the line is up
        polled = tags()
        cycles = max(3, reads // len(polled))
        poll = subprocess.Popen(
            [qarn, "poll", "--device", link, *line, "--timeout", str(TIMEOUT_MS), "--interval", "0",
             "--count", str(cycles), "--format", "jsonl", "--store", os.path.join(folder, "store"),
             *poll_args, *[f"{n}={a}" for n, a, _ in polled]],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        expected = {n: v for n, _, v in polled}
        node_of = {n: int(a.split("?")[0]) for n, a, _ in polled}
        results = {}  # (cycle, name) -> ok
        reads_done = wrong = failed_requests = 0
        early = late = None
        for text in poll.stdout:
            row = json.loads(text)
            if "summary" in row:
                failed_requests += row["summary"]["failed"]
                if row["cycle"] == max(1, cycles // 5):
                    early = sample(poll.pid)
                if row["cycle"] == cycles - 1:
                    late = sample(poll.pid)
                continue
            reads_done += 1
            ok = "error" not in row
            results[(row["cycle"], row["name"])] = ok
            if ok and row["value"] != expected[row["name"]]:
                wrong += 1
                print(f"  WRONG VALUE: cycle {row['cycle']} {row['name']} = {row['value']}, "
                      f"the slave holds {expected[row['name']]}")
            if not ok and faulty_node is not None and node_of[row["name"]] != faulty_node:
                raise Failed(f"{row['name']} failed, but only node {faulty_node} is faulty: "
                             f"{row['error']}")
        poll.wait(timeout=30)
    finally:
        if "poll" in locals() and poll.poll() is None:
            poll.kill()
        sim.send_signal(signal.SIGINT)
        try:
            sim.wait(timeout=10)
        except subprocess.TimeoutExpired:
            sim.kill()
    sim_err.seek(0)
    sim_text = sim_err.read()
    faults = sum(int(n) for n in re.findall(r"(?:drop|bad-crc|wrong-node|exception|delay) (\d+)",
                                            sim_text.split("faults:")[-1])) \
        if "faults:" in sim_text else 0

    failed = sum(1 for ok in results.values() if not ok)
    stuck = sum(1 for (c, n), ok in results.items()
                if not ok and results.get((c + 1, n)) is False)
    tolerance = LOAD_TOLERANCE_PER_1000 * reads_done // 1000 + 2
    print(f"  {reads_done} reads, {failed} failed ({failed_requests} requests), "
          f"{faults} faults injected, {stuck} failed again the next cycle, {wrong} wrong")
    if wrong:
        raise Failed(f"{wrong} wrong value(s) reported as good")
    if reads_done < cycles * len(expected) or poll.returncode not in (0, 1):
        raise Failed(f"poll ended early (status {poll.returncode}): {poll.stderr.read()[-400:]}")
    # A failed request fails the tags it serves; each fault fails at most one request.
    if failed_requests > faults + tolerance:
        raise Failed(f"{failed_requests} failed requests, but only {faults} faults "
                     f"(tolerance {tolerance})")
    if faulty_node is None and stuck > faults // 4 + tolerance:
        raise Failed(f"{stuck} tags failed again in the next cycle")
    if early and late and (late[0] - early[0] > 2048 or late[1] != early[1]):
        raise Failed(f"the poll grew: {early[0]} kB and {early[1]} files after a fifth of the "
                     f"run, {late[0]} kB and {late[1]} files at the end")
    return reads_done


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--qarn", required=True)
    ap.add_argument("--reads", type=int, default=6000, help="reads in all, spread over the models")
    ap.add_argument("--only", help="comma-separated scenario names (default: all)")
    ap.add_argument("--keep", help="folder for the profiles and logs (default: a temporary one)")
    args = ap.parse_args()

    chosen = [s for s in SCENARIOS if not args.only or s[0] in args.only.split(",")]
    shares = sum(s[1] for s in chosen)
    folder = args.keep or tempfile.mkdtemp(prefix="qarn-soak-")
    os.makedirs(folder, exist_ok=True)
    profiles = write_profiles(folder)
    total = 0
    start = time.monotonic()
    failures = []
    for name, share, sim_args, poll_args, faulty in chosen:
        print(f"{name}: simulate {' '.join(sim_args) or '(no faults)'}", flush=True)
        began = time.monotonic()
        try:
            reads = max(len(tags()) * 3, args.reads * share // shares)
            total += run(args.qarn, folder, profiles, name, sim_args, poll_args, faulty, reads)
        except Failed as e:
            print(f"  FAILED: {e}")
            failures.append(name)
        print(f"  {time.monotonic() - began:.1f} s", flush=True)
    print(f"{total} reads in {time.monotonic() - start:.0f} s, {len(chosen)} line models")
    print(f"{len(chosen) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
