#!/usr/bin/env python3
"""qarn gateway and qarn poll --mqtt against a real Mosquitto broker on a free loopback port and
`qarn simulate` lines on ptys: values and their JSON, retained values for late subscribers,
writes and their results, broker restart, a dead line beside a live one, the last will, reload.

Usage: gateway_mqtt.py --qarn PATH
"""

import argparse
import json
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

QARN = None
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
PROFILE = "hreg 400001 uint16 0x1234\nhreg 400002 int16 -2\ncoil 1..16 0\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if check():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Broker:
    def __init__(self, folder, port):
        self.port = port
        self.conf = os.path.join(folder, "mosquitto.conf")
        # Read before mosquitto drops to its own user; no persistence, logs to stderr: no
        # files that user would have to reach.
        with open(self.conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
        self.log = open(os.path.join(folder, "mosquitto.log"), "a")
        self.proc = None
        self.start()

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-c", self.conf], stdout=self.log,
                                     stderr=subprocess.STDOUT)

        def up():
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return True
            except OSError:
                return False
        wait_for("the broker", up, 10)

    def kill(self):
        self.proc.kill()
        self.proc.wait()


class Sub:
    """mosquitto_sub on filters; each message as (retained, topic, payload)."""

    def __init__(self, port, *filters):
        args = ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-F", "%r %t %p"]
        for f in filters:
            args += ["-t", f]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        self.messages = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            retained, topic, payload = (line.rstrip("\n").split(" ", 2) + ["", ""])[:3]
            self.messages.put((retained == "1", topic, payload))

    def next(self, match, timeout=10):
        """The first message (retained, topic, payload) for which match() is true."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                m = self.messages.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                break
            self.seen.append(m)
            if match(*m):
                return m
        raise AssertionError("no matching message; seen: %r" % self.seen[-10:])

    def drain(self, seconds):
        out = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                out.append(self.messages.get(timeout=max(0.01, end - time.monotonic())))
            except queue.Empty:
                pass
        return out

    def close(self):
        self.proc.kill()
        self.proc.wait()


def collect(sub, topics, timeout=10):
    """The first payload of each of `topics`, in whatever order they come."""
    got = {}
    wait_for("messages on " + ", ".join(sorted(topics)),
             lambda: got.update({t: p for r, t, p in sub.drain(0.1)
                                 if t in topics and t not in got}) or set(topics) <= set(got),
             timeout)
    return got


def value_of(sub, topic, match=lambda j: True, timeout=10):
    _, _, payload = sub.next(lambda r, t, p: t == topic and p and match(json.loads(p)), timeout)
    return json.loads(payload)


class Fixture:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="qarn-gw-")
        self.port = free_port()
        self.broker = Broker(self.dir, self.port)
        self.procs = []
        self.subs = []
        with open(self.path("dev.prof"), "w") as f:
            f.write(PROFILE)
        self.sims = {}

    def path(self, name):
        return os.path.join(self.dir, name)

    def simulate(self, line, slave):
        link = self.path(line)
        if os.path.lexists(link):
            os.unlink(link)
        p = subprocess.Popen([QARN, "simulate", "--pty", "--link", link, "--slave", slave,
                              "--baud", "38400", "--no-pace"], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        self.sims[line] = p
        wait_for("the simulator of " + line, lambda: os.path.exists(link), 10)

    def config(self, extra_one="", extra="", publish="change"):
        return """
[gateway]
store = "{dir}/store.ini"
[mqtt]
url = "mqtt://127.0.0.1:{port}/site"
health_interval = 1
publish = "{publish}"
{extra}
[[line]]
name = "one"
device = "{dir}/one"
baud = 38400
timeout = 200
repeat = 0
interval = 200
allow_writes = true
[[line.tag]]
name = "volts"
address = "1?HREG?400001?unsignedShort"
scale = 0.1
unit = "V"
[[line.tag]]
name = "signed"
address = "1?HREG?400002?short"
{extra_one}
[[line]]
name = "two"
device = "{dir}/two"
baud = 38400
timeout = 200
repeat = 0
interval = 200
[[line.tag]]
name = "model"
address = "1?HREG?400012?unsignedShort"
""".format(dir=self.dir, port=self.port, publish=publish, extra=extra, extra_one=extra_one)

    def write_config(self, text):
        with open(self.path("gw.toml"), "w") as f:
            f.write(text)
        return self.path("gw.toml")

    def gateway(self, text=None):
        self.simulate("one", "1:" + self.path("dev.prof"))
        self.simulate("two", "1:EM24")
        conf = self.write_config(text or self.config())
        self.err = open(self.path("gateway.err"), "w")
        p = subprocess.Popen(["timeout", "120", QARN, "gateway", conf],
                             stdout=subprocess.DEVNULL, stderr=self.err)
        self.procs.append(p)
        return p

    def errors(self):
        with open(self.path("gateway.err")) as f:
            return f.read()

    def sub(self, *filters):
        s = Sub(self.port, *filters)
        self.subs.append(s)
        time.sleep(0.3)  # subscribed before anything is sent
        return s

    def close(self):
        for s in self.subs:
            s.close()
        for p in self.procs + list(self.sims.values()):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        self.broker.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def check_value(j, value, unit=None):
    assert j["ok"] is True and j["value"] == value, j
    assert TIME.match(j["time"]), j
    assert "error" not in j, j
    assert j.get("unit") == unit, j


def test_values_writes_and_retained(fx):
    sub = fx.sub("site/#")
    fx.gateway()
    # The tags of a cycle come in no set order.
    first = collect(sub, {"site/status", "site/one/volts", "site/one/signed", "site/two/model",
                          "site/one/$health"})
    assert first["site/status"] == "online", first
    check_value(json.loads(first["site/one/volts"]), 466.0, "V")
    check_value(json.loads(first["site/one/signed"]), -2)
    assert json.loads(first["site/two/model"])["ok"] is True
    health = json.loads(first["site/one/$health"])
    assert health["tags"] == 2 and health["interval_ms"] == 200, health

    # A late subscriber gets every tag from the broker's retained store.
    late = fx.sub("site/+/+", "site/status")
    got = {t: p for r, t, p in late.drain(1.0) if r}
    assert set(got) >= {"site/status", "site/one/volts", "site/one/signed", "site/two/model"}, got
    check_value(json.loads(got["site/one/volts"]), 466.0, "V")

    # A write goes through to the device, with its result; the read after it shows it.
    subprocess.run(["mosquitto_pub", "-p", str(fx.port), "-t", "site/one/volts/set", "-m",
                    "123.4"], check=True)
    after = collect(sub, {"site/one/volts/set/result", "site/one/volts"})
    result = json.loads(after["site/one/volts/set/result"])
    assert result["ok"] is True and result["value"] == "123.4", result
    check_value(json.loads(after["site/one/volts"]), 123.4, "V")
    # Refused: a line without allow_writes, a value that does not fit, an unknown tag.
    for topic, text, why in [("site/two/model/set", "5", "writes are not allowed"),
                             ("site/one/signed/set", "40000", "refused, nothing sent"),
                             ("site/one/nothere/set", "1", "no tag 'nothere'")]:
        subprocess.run(["mosquitto_pub", "-p", str(fx.port), "-t", topic, "-m", text],
                       check=True)
        r = value_of(sub, topic + "/result")
        assert r["ok"] is False and why in r["error"], (topic, r)
    check_value(value_of(fx.sub("site/one/signed"), "site/one/signed"), -2)


def test_broker_restart_republishes_and_change_only_once(fx):
    fx.gateway()
    sub = fx.sub("site/one/signed")
    value_of(sub, "site/one/signed")
    # 200 ms cycles: over 1.5 s the unchanged value is not sent again on this connection.
    again = [m for m in sub.drain(1.5) if m[1] == "site/one/signed"]
    assert again == [], again
    fx.broker.kill()
    time.sleep(0.5)
    fx.broker.start()  # an empty broker: nothing retained survives
    wait_for("the reconnection", lambda: fx.errors().count(": connected") == 2, 40)
    late = fx.sub("site/+/+", "site/status")
    got = {t: p for r, t, p in late.drain(1.0) if r}
    assert {"site/status", "site/one/volts", "site/one/signed", "site/two/model"} <= set(got), got
    check_value(json.loads(got["site/one/signed"]), -2)


def test_dead_line_does_not_slow_the_other(fx):
    fx.gateway()
    sub = fx.sub("site/+/$health", "site/two/model")
    value_of(sub, "site/two/model", lambda j: j["ok"])
    fx.sims["two"].kill()
    fx.sims["two"].wait()
    bad = value_of(sub, "site/two/model", lambda j: not j["ok"], timeout=15)
    assert bad["value"] is None and "error -6" in bad["error"], bad
    # Line one keeps its pace meanwhile: its cycles go on at about 5 a second.
    first = value_of(sub, "site/one/$health")
    time.sleep(3)
    last = None
    for r, t, p in sub.drain(1.2):
        if t == "site/one/$health":
            last = json.loads(p)
    assert last is not None, "no health of line one"
    assert last["cycles"] - first["cycles"] >= 10, (first, last)
    assert last["cycle_ms"] < 150, last
    fx.simulate("two", "1:EM24")
    assert value_of(sub, "site/two/model", lambda j: j["ok"], timeout=20)["ok"]


def test_last_will_on_kill(fx):
    gw = fx.gateway()
    sub = fx.sub("site/status")
    sub.next(lambda r, t, p: p == "online")
    # timeout(1) runs qarn as its child: the gateway is the grandchild.
    pid = int(subprocess.check_output(["pgrep", "-P", str(gw.pid)]).split()[0])
    os.kill(pid, signal.SIGKILL)
    sub.next(lambda r, t, p: p == "offline", timeout=30)  # keepalive 30 s * 1.5 at the most
    gw.wait()


def test_reload(fx):
    gw = fx.gateway()
    sub = fx.sub("site/#")
    value_of(sub, "site/two/model", lambda j: j["ok"])
    pid = int(subprocess.check_output(["pgrep", "-P", str(gw.pid)]).split()[0])
    # A tag added to line one: published; line two did not change and keeps running.
    fx.write_config(fx.config(extra_one='[[line.tag]]\nname = "relay"\n'
                                        'address = "1?OUTP?1?boolean"\n'))
    os.kill(pid, signal.SIGHUP)
    check_value(value_of(sub, "site/one/relay"), False)
    wait_for("the reload note", lambda: "1 lines kept running, 1 (re)started" in fx.errors(), 5)
    # A broken file: refused with its place, the running lines go on.
    fx.write_config(fx.config().replace('baud = 38400', 'baud = "fast"', 1))
    os.kill(pid, signal.SIGHUP)
    wait_for("the refusal", lambda: "reload refused" in fx.errors(), 5)
    assert re.search(r"gw\.toml:\d+: line\[1\]\.baud: must be an integer", fx.errors()), \
        fx.errors()
    value_of(sub, "site/two/model", lambda j: j["ok"])
    fx.procs[0].send_signal(signal.SIGTERM)


def test_web_page_and_metrics_over_all_lines(fx):
    import urllib.request
    fx.gateway(fx.config(extra='[web]\nlisten = "127.0.0.1:0"'))
    wait_for("the URL", lambda: "serving http://" in fx.errors(), 10)
    url = re.search(r"serving (http://\S+)", fx.errors()).group(1)

    def get(path):
        with urllib.request.urlopen(url + path, timeout=10) as r:
            return r.read().decode()
    info = json.loads(get("api/info"))
    assert info["lines"] == ["one", "two"], info
    wait_for("the broker in /metrics", lambda: "qarn_mqtt_connected 1" in get("metrics"), 10)
    wait_for("values of both lines", lambda: 'line="two",name="model"' in get("metrics") and
             'line="one",name="volts"' in get("metrics"), 10)
    tags = json.loads(get("api/tags?line=one"))
    assert [t["value"] for t in tags] == [466.0, -2], tags  # scaled as published
    # Each line's traffic view holds its own frames only: node 1's reads of its own registers.
    for line, first_register in (("one", "0000"), ("two", "000b")):
        frames = json.loads(get("api/traffic?line=%s&since=0" % line))["frames"]
        requests = [f["hex"].replace(" ", "").lower() for f in frames if f["dir"] == "TX"]
        assert requests and all(r[4:8] == first_register for r in requests), (line, frames[:3])
    fx.broker.kill()
    wait_for("the lost broker in /metrics", lambda: "qarn_mqtt_connected 0" in get("metrics"), 10)
    assert json.loads(get("api/info"))["mqtt"]["connected"] is False


def test_poll_mqtt(fx):
    """poll --mqtt, started while the broker is down: it connects when the broker comes, says
    offline when it ends, and publishes discovery configs when asked."""
    fx.simulate("one", "1:" + fx.path("dev.prof"))
    fx.broker.kill()
    poll = subprocess.Popen(
        ["timeout", "60", QARN, "poll", "--device", fx.path("one"), "--baud", "38400",
         "--store", fx.path("store.ini"), "--format", "csv", "--count", "40", "--interval", "100",
         "--mqtt", "mqtt://127.0.0.1:%d/site" % fx.port, "--ha-discovery",
         "volts=1?HREG?400001?unsignedShort"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        text=True)
    time.sleep(0.5)
    fx.broker.start()
    sub = fx.sub("site/#", "homeassistant/#")
    got = collect(sub, {"homeassistant/sensor/site_QARN_volts/config", "site/QARN/volts"})
    config = json.loads(got["homeassistant/sensor/site_QARN_volts/config"])
    assert config["state_topic"] == "site/QARN/volts", config
    check_value(json.loads(got["site/QARN/volts"]), 4660)
    _, err = poll.communicate(60)
    assert poll.returncode == 0, err
    assert "trying again" in err, err
    assert sub.next(lambda r, t, p: t == "site/status" and p == "offline")


def main():
    global QARN
    parser = argparse.ArgumentParser()
    parser.add_argument("--qarn", required=True)
    parser.add_argument("tests", nargs="*")
    args = parser.parse_args()
    QARN = args.qarn
    failed = 0
    for name, test in list(globals().items()):
        if not name.startswith("test_") or (args.tests and name not in args.tests):
            continue
        fx = Fixture()
        start = time.monotonic()
        try:
            test(fx)
            print("ok   %s (%.1f s)" % (name, time.monotonic() - start))
        except Exception as e:  # noqa: BLE001 - every failure is reported, then the next test
            failed += 1
            print("FAIL %s: %s: %s" % (name, type(e).__name__, e))
            traceback.print_exc(limit=3, file=sys.stdout)
            if os.path.exists(fx.path("gateway.err")):
                print("  gateway said:\n" + fx.errors())
        finally:
            fx.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
