#!/usr/bin/env python3
"""The gateway under load: LINES lines of TAGS tags each on paced simulators, a real Mosquitto
broker, for SECONDS. Prints per line the median cycle time against the line's own physical limit
(the bytes of every request and answer plus the 3.5 characters of silence before each frame, at
the line's speed), and the gateway's CPU, RSS and publish rate.

Usage: gateway_load.py QARN [--lines 8] [--tags 50] [--seconds 600] [--baud 19200]
Needs mosquitto and mosquitto_sub (Debian: mosquitto, mosquitto-clients). Everything runs on
loopback and ptys, and stops by itself.
"""

import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, timeout=15):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if check():
            return
        time.sleep(0.05)
    sys.exit("timed out waiting for " + what)


def physical_cycle_ms(qarn, tags_file, baud):
    """Wire time of one cycle: each request and answer with 3.5 characters of silence before it,
    11 bits a character (8E1, the quick form's default)."""
    plan = json.loads(subprocess.run([qarn, "poll", "--tags", tags_file, "--plan", "--format",
                                      "jsonl", "--baud", str(baud)], check=True,
                                     capture_output=True, text=True).stdout)
    chars = 0.0
    for request in plan:
        answer = 5 + 2 * request["count"]  # node, function, byte count, data, CRC
        chars += 8 + answer + 2 * 3.5
    return chars * 11 * 1000.0 / baud, len(plan)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("qarn")
    ap.add_argument("--lines", type=int, default=8)
    ap.add_argument("--tags", type=int, default=50)
    ap.add_argument("--seconds", type=int, default=600)
    ap.add_argument("--baud", type=int, default=19200)
    args = ap.parse_args()

    folder = tempfile.mkdtemp(prefix="qarn-load-")
    procs = []
    try:
        port = free_port()
        conf = os.path.join(folder, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
        procs.append(subprocess.Popen(["mosquitto", "-c", conf], stderr=subprocess.DEVNULL))

        # Live values, so that publish-on-change has something to publish.
        profile = os.path.join(folder, "meter.profile")
        with open(profile, "w") as f:
            for k in range(args.tags):
                f.write("hreg %d int32 %d ro wave 40 %d noise 4\n" % (400001 + 2 * k, 2300 + k,
                                                                      60 + k))
        tags = os.path.join(folder, "line.tags")
        with open(tags, "w") as f:
            for k in range(args.tags):
                f.write("t%d 1?HREG?%d?int(swap2,swap4)\n" % (k, 400001 + 2 * k))
        limit_ms, requests = physical_cycle_ms(args.qarn, tags, args.baud)

        lines = ""
        for n in range(args.lines):
            link = os.path.join(folder, "line%d" % n)
            procs.append(subprocess.Popen([args.qarn, "simulate", "--pty", "--link", link,
                                           "--baud", str(args.baud), "--slave", "1:" + profile],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            wait_for("simulator %d" % n, lambda: os.path.exists(link))
            lines += ('[[line]]\nname = "line%d"\ndevice = "%s"\nbaud = %d\ninterval = 0\n'
                      'timeout = 200\ntags_file = "%s"\n' % (n, link, args.baud, tags))
        web = free_port()
        gw_conf = os.path.join(folder, "gw.toml")
        with open(gw_conf, "w") as f:
            f.write('[gateway]\nstore = "%s/store.ini"\n[mqtt]\nurl = "mqtt://127.0.0.1:%d/load"\n'
                    '[web]\nlisten = "127.0.0.1:%d"\n%s' % (folder, port, web, lines))

        published = [0]
        sub = subprocess.Popen(["mosquitto_sub", "-p", str(port), "-t", "load/+/+"],
                               stdout=subprocess.PIPE, text=True)
        procs.append(sub)

        def count():
            for _ in sub.stdout:
                published[0] += 1
        threading.Thread(target=count, daemon=True).start()

        gateway = subprocess.Popen([args.qarn, "gateway", gw_conf], stdout=subprocess.DEVNULL,
                                   stderr=open(os.path.join(folder, "gateway.err"), "w"))
        procs.append(gateway)
        time.sleep(5)  # settle: ports open, first cycles, the retained burst of the connect
        cpu0, published0, t0 = cpu_seconds(gateway.pid), published[0], time.monotonic()
        rss_max = 0
        while time.monotonic() - t0 < args.seconds:
            if gateway.poll() is not None:
                sys.exit("the gateway ended early; see " + folder)
            rss_max = max(rss_max, rss_kb(gateway.pid))
            time.sleep(1)
        elapsed = time.monotonic() - t0
        cpu = cpu_seconds(gateway.pid) - cpu0
        rate = (published[0] - published0) / elapsed

        print("%d lines x %d tags at %d baud, %d s; %d requests a cycle, physical limit %.1f ms"
              % (args.lines, args.tags, args.baud, elapsed, requests, limit_ms))
        print("line   cycles  median cycle ms  over the limit")
        medians = []
        for n in range(args.lines):
            with urllib.request.urlopen("http://127.0.0.1:%d/api/health?line=line%d"
                                        % (web, n)) as r:
                health = json.load(r)
            median = health["cycle_ms"]["median"]
            medians.append(median)
            print("line%d  %6d  %15.1f  %+13.1f%%" % (n, health["cycles"], median,
                                                       100.0 * (median / limit_ms - 1)))
        print("gateway CPU %.1f%% of one core, RSS max %.1f MB, %.0f publishes/s"
              % (100.0 * cpu / elapsed, rss_max / 1024.0, rate))
        print("median over lines %.1f ms (%+.1f%%)" % (statistics.median(medians),
                                                        100.0 * (statistics.median(medians)
                                                                 / limit_ms - 1)))
    finally:
        for p in reversed(procs):
            p.terminate()
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()


if __name__ == "__main__":
    main()
