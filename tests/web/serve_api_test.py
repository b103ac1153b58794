"""`qarn serve` against `qarn simulate` on a pty: values, writes, refusals, a fault on one node,
the traffic, node overrides, the metrics (parsed with prometheus_client) and a prompt stop."""

import signal
import sys
import threading
import time
import unittest
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

from serve_support import KNOWN_VALUES, Rig, request, wait_for

QARN = sys.argv.pop(1) if len(sys.argv) > 1 else "qarn"


class ServeApi(unittest.TestCase):
    def setUp(self):
        self.rig = Rig(QARN)
        self.addCleanup(self.rig.close)
        # Node 2 refuses every request; node 1 answers.
        self.rig.simulate("--exception", "1", "--fault-node", "2")

    def tags_after_cycles(self, url, cycles):
        wait_for(f"{cycles} cycles",
                 lambda: request(url + "api/health")[1]["cycles"] >= cycles)
        return {t["name"]: t for t in request(url + "api/tags")[1]}

    def test_values_writes_faults_traffic_metrics_and_stop(self):
        proc, url = self.rig.serve("--allow-writes")
        tags = self.tags_after_cycles(url, 2)
        for name, value in KNOWN_VALUES.items():
            self.assertEqual(tags[name]["value"], value, tags[name])
            self.assertIsNone(tags[name]["error"], tags[name])
        # The fault on node 2 shows on its tag only.
        self.assertIsNone(tags["model"]["value"])
        self.assertEqual(tags["model"]["error"]["code"], -6)
        self.assertIn("Exception", tags["model"]["error"]["text"])
        self.assertEqual(request(url + "api/tags/nine")[1]["value"], 9)

        # A write lands, is read back, and the next cycles see it.
        status, body = request(url + "api/tags/setpoint", {"value": 1000})
        self.assertEqual((status, body["written"], body["value"]), (200, 1000, 1000), body)
        before = request(url + "api/health")[1]["cycles"]
        self.assertEqual(self.tags_after_cycles(url, before + 1)["setpoint"]["value"], 1000)

        refusals = [
            ("a value that does not fit", "setpoint", {"value": 70000}, {}, 400, "does not fit"),
            ("not a number", "setpoint", {"value": "ten"}, {}, 400, "setpoint (1?HREG?400010"),
            ("a read-only tag", "inputs", {"value": [1, 0, 1]}, {}, 400, "read-only"),
            ("an unknown tag", "nope", {"value": 1}, {}, 404, "no tag"),
            ("the device refuses", "model", {"value": 1}, {}, 502, "Exception"),
            ("a form", "setpoint", b"value=1", {"Content-Type": "application/x-www-form-urlencoded"},
             415, "JSON"),
            ("another site", "setpoint", {"value": 1}, {"Origin": "http://evil.example"}, 403,
             "cross-origin"),
        ]
        for what, tag, body, headers, status, text in refusals:
            with self.subTest(what):
                got, reply = request(url + "api/tags/" + tag, body, headers)
                self.assertEqual(got, status, reply)
                self.assertIn(text, reply["error"])

        frames = request(url + "api/traffic?since=0")[1]
        directions = {f["dir"] for f in frames["frames"]}
        self.assertTrue({"TX", "RX"} <= directions, frames)
        self.assertLessEqual(len(frames["frames"]), 200)
        later = request(url + f"api/traffic?since={frames['last']}")[1]
        self.assertTrue(all(f["seq"] > frames["last"] for f in later["frames"]))

        status, ids = request(url + "api/overrides", {"node": 2, "target": 5})
        self.assertEqual((status, ids["overrides"]), (200, [{"node": 2, "target": 5}]), ids)
        status, ids = request(url + "api/overrides", {"node": 2, "target": 0})
        self.assertEqual((status, ids["overrides"]), (200, [{"node": 2, "target": 2}]), ids)

        status, text = request(url + "metrics")
        self.assertEqual(status, 200)
        samples = {}
        for family in text_string_to_metric_families(text):
            for s in family.samples:
                samples[(s.name, tuple(sorted(s.labels.items())))] = s.value
        self.assertEqual(samples[("qarn_tag_value", (("name", "volts"),
                                                     ("tag", "1?HREG?400001?unsignedShort")))],
                         4660)
        self.assertEqual(samples[("qarn_tag_value", (("name", "relay"),
                                                     ("tag", "1?OUTP?2?boolean")))], 1)
        self.assertEqual(samples[("qarn_tag_ok", (("name", "volts"),))], 1)
        self.assertEqual(samples[("qarn_tag_ok", (("name", "model"),))], 0)
        self.assertGreater(samples[("qarn_requests_total", ())], 0)
        self.assertGreater(samples[("qarn_failures_total", (("kind", "exception"),))], 0)
        self.assertGreater(samples[("qarn_cycle_seconds_count", ())], 0)
        self.assertEqual(samples[("qarn_line_up", ())], 1)

        # A stop with a live page connected.
        events = urllib.request.urlopen(url + "api/events", timeout=30)
        self.assertTrue(events.readline().startswith(b"data: "))
        started = time.monotonic()
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(10), 0, self.rig.errors("serve"))
        self.assertLess(time.monotonic() - started, 3)
        events.close()

        # The device holds what was written.
        read = self.rig.run(["read"] + self.rig.line_args() + ["1?HREG?400010?unsignedShort"])
        self.assertIn("= 1000", read.stdout, read.stderr)

    def test_a_port_that_is_gone(self):
        _, url = self.rig.serve("--allow-writes")
        self.tags_after_cycles(url, 1)
        self.rig.procs[0].send_signal(signal.SIGTERM)  # the simulator: its pty goes
        self.rig.procs[0].wait(10)
        wait_for("the line down", lambda: not request(url + "api/health")[1]["up"])
        status, body = request(url + "api/tags/setpoint", {"value": 1})
        self.assertEqual(status, 409, body)
        self.assertIn("gone", body["error"])

    def test_read_only_unless_asked_and_no_open_writes_without_token(self):
        _, url = self.rig.serve()
        status, body = request(url + "api/tags/setpoint", {"value": 1})
        self.assertEqual(status, 403, body)
        self.assertIn("--allow-writes", body["error"])
        self.assertEqual(request(url + "api/overrides", {"node": 2, "target": 5})[0], 403)

        result = self.rig.run(["serve"] + self.rig.line_args() +
                              ["--tags", self.rig.path("tags.txt"), "--listen", "0.0.0.0:0",
                               "--allow-writes"])
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("needs --token", result.stderr)


if __name__ == "__main__":
    unittest.main()
