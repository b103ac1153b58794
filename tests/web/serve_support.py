"""`qarn simulate` on a pty and `qarn serve` against it, for the API and browser tests."""

import json
import os
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

KNOWN_DEVICE = ("hreg 400001..400020 0\nhreg 400001 uint16 0x1234\nhreg 400002 int16 -2\nhreg 400003 uint32 123456\n"
                "hreg 400010 uint16 7\ninput 100001..100016 index\nireg 300001..300020 index\n"
                "coil 1..16 0\ncoil 2 1\n")
TAGS = ("volts 1?HREG?400001?unsignedShort\nsigned 1?HREG?400002?short\n"
        "big 1?HREG?400003?int(swap2,swap4)\nsetpoint 1?HREG?400010?unsignedShort\n"
        "relay 1?OUTP?2?boolean\ninputs 1?INP?100001?boolean-3\nnine 1?IREG?300010?unsignedShort\n"
        "model 2?HREG?400257?unsignedShort\n")
# The values of node 1 that the simulator starts with.
KNOWN_VALUES = {"volts": 4660, "signed": -2, "big": 123456, "setpoint": 7, "relay": True,
                "inputs": [False, True, False], "nine": 9}
LINE = ["--baud", "38400", "--parity", "even"]


class Rig:
    """A temporary folder, the simulator and the servers started in it; all ended on close."""

    def __init__(self, qarn):
        self.qarn = qarn
        self.dir = tempfile.TemporaryDirectory(prefix="qarn-serve-")
        self.procs = []
        self.write("known.prof", KNOWN_DEVICE)
        self.write("tags.txt", TAGS)
        self.pty = None

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as f:
            f.write(text)

    def start(self, args, name):
        with open(self.path(name + ".err"), "w", encoding="utf-8") as err:
            proc = subprocess.Popen([self.qarn] + args, stdout=subprocess.PIPE, stderr=err,
                                    text=True)
        self.procs.append(proc)
        return proc

    def simulate(self, *faults):
        """Node 1 the known device, node 2 an EM24; returns the pty's path."""
        proc = self.start(["simulate", "--pty", "--slave", "1:" + self.path("known.prof"),
                           "--slave", "2:EM24", "--no-pace", "--seed", "3"] + LINE + list(faults),
                          "simulate")
        self.pty = proc.stdout.readline().strip()
        assert self.pty.startswith("/dev/"), self.pty
        return self.pty

    def line_args(self):
        return ["--device", self.pty] + LINE + ["--timeout", "300", "--repeat", "0", "--store",
                                                self.path("store.ini")]

    def serve(self, *extra, interval=200):
        """Starts `qarn serve`; returns (process, base URL) once it is serving."""
        proc = self.start(["serve"] + self.line_args() +
                          ["--tags", self.path("tags.txt"), "--listen", "127.0.0.1:0",
                           "--interval", str(interval)] + list(extra), "serve")
        url = proc.stdout.readline().strip()
        if not url.startswith("http://"):
            proc.wait(10)
            raise AssertionError("serve did not start: " + self.errors("serve"))
        return proc, url

    def errors(self, name):
        with open(self.path(name + ".err"), encoding="utf-8") as f:
            return f.read()

    def run(self, args):
        return subprocess.run([self.qarn] + args, capture_output=True, text=True, timeout=60,
                              check=False)

    def close(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            if proc.stdout:
                proc.stdout.close()
        self.dir.cleanup()


def request(url, body=None, headers=None, method=None):
    """(status, parsed JSON or text) of a request; HTTP errors are results, not exceptions."""
    data = None
    headers = dict(headers or {})
    if body is not None:
        data = body if isinstance(body, bytes) else json.dumps(body).encode()
        headers.setdefault("Content-Type", "application/json")
    req = urllib.request.Request(url, data=data, headers=headers, method=method)
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            status, text, kind = r.status, r.read().decode(), r.headers.get("Content-Type", "")
    except urllib.error.HTTPError as e:
        status, text, kind = e.code, e.read().decode(), e.headers.get("Content-Type", "")
    return status, (json.loads(text) if kind.startswith("application/json") else text)


def wait_for(what, check, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)
