"""The page of `qarn serve` in headless Chromium, against `qarn simulate` on a pty: no console
errors, live values, a trend, a write through the form, the traffic view and its pause button.
Screenshots at desktop and phone width are saved beside the given path."""

import os
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from serve_support import KNOWN_VALUES, Rig

QARN = sys.argv[1] if len(sys.argv) > 1 else "qarn"
SCREENSHOT = sys.argv[2] if len(sys.argv) > 2 else "serve-page.png"
del sys.argv[1:]


def chromium(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1280,1100",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class ServePage(unittest.TestCase):
    def setUp(self):
        self.rig = Rig(QARN)
        self.addCleanup(self.rig.close)
        self.rig.simulate()
        self.serve, self.url = self.rig.serve("--allow-writes", interval=300)
        profile = tempfile.TemporaryDirectory(prefix="qarn-chromium-")
        self.addCleanup(profile.cleanup)
        self.driver = chromium(profile.name)
        self.addCleanup(self.driver.quit)
        self.wait = WebDriverWait(self.driver, 20)

    def cell(self, name):
        return self.driver.find_element(By.CSS_SELECTOR, f'#tag-rows tr[data-name="{name}"] td.value')

    def screenshot(self, width, path):
        """The whole page at this width, from the top."""
        d = self.driver
        d.set_window_size(width, 800)
        d.execute_script("window.scrollTo(0, 0)")
        d.set_window_size(width, d.execute_script("return document.body.scrollHeight") + 100)
        time.sleep(0.5)
        d.save_screenshot(path)

    def console_errors(self):
        """The messages of console errors since the last call (a missing icon is one)."""
        return [e["message"] for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def rows(self, body):
        return len(self.driver.find_elements(By.CSS_SELECTOR, f"#{body} tr"))

    def test_live_page(self):
        d = self.driver
        d.get(self.url)
        # The table fills with the simulator's values, and keeps updating without a reload.
        self.wait.until(lambda _: self.cell("volts").text == "4660")
        self.assertEqual(self.cell("signed").text, str(KNOWN_VALUES["signed"]))
        self.assertEqual(self.cell("inputs").text, "false, true, false")
        first = self.cell("volts").get_attribute("data-time")
        self.wait.until(lambda _: self.cell("volts").get_attribute("data-time") != first)
        d.execute_script("window.loadedOnce = true")

        # A trend of a tag the user picks.
        d.find_element(By.CSS_SELECTOR, '#tag-rows tr[data-name="volts"] input[type=checkbox]').click()
        self.wait.until(lambda _: d.execute_script("return page.chart && page.chart.numRows()") >= 2)
        self.assertTrue(d.find_elements(By.CSS_SELECTOR, "#chart canvas"))

        # A write through the form lands on the device and is read back.
        field = d.find_element(By.CSS_SELECTOR, '#write-rows input[name="setpoint"]')
        field.send_keys("1234")
        d.find_element(By.CSS_SELECTOR, '#write-rows tr[data-name="setpoint"] button').click()
        result = d.find_element(By.CSS_SELECTOR, '#write-rows tr[data-name="setpoint"] td:last-child')
        self.wait.until(lambda _: "read back 1234" in result.text)
        self.wait.until(lambda _: self.cell("setpoint").text == "1234")
        self.assertEqual(self.console_errors(), [])
        # A value that does not fit: refused with the codec's reason, shown inline.
        field.clear()
        field.send_keys("99999")
        d.find_element(By.CSS_SELECTOR, '#write-rows tr[data-name="setpoint"] button').click()
        self.wait.until(lambda _: "400" in result.text and "does not fit" in result.text)

        # The traffic view lists decoded frames; paused, it stands still.
        self.wait.until(lambda _: self.rows("traffic-rows") >= 4)
        self.assertTrue(d.find_elements(By.XPATH, '//*[@id="traffic-rows"]//td[text()="RX"]'))
        d.find_element(By.ID, "pause").click()
        time.sleep(1.2)  # a traffic poll in flight may still land
        paused = d.find_element(By.ID, "traffic-rows").text
        time.sleep(2)
        self.assertEqual(d.find_element(By.ID, "traffic-rows").text, paused)
        d.find_element(By.ID, "pause").click()
        self.wait.until(lambda _: d.find_element(By.ID, "traffic-rows").text != paused)

        self.assertIn("Requests", d.find_element(By.ID, "health-list").text)
        self.assertEqual(d.find_element(By.ID, "status").text, "line up")
        self.assertTrue(d.execute_script("return window.loadedOnce"), "the page was reloaded")

        self.screenshot(1280, SCREENSHOT)
        self.screenshot(390, os.path.splitext(SCREENSHOT)[0] + "-phone.png")
        self.assertLessEqual(d.execute_script("return document.documentElement.scrollWidth"),
                             d.execute_script("return window.innerWidth"), "sideways scrolling")

        # Only the refused write's answer is an error.
        self.assertEqual([e for e in self.console_errors() if "status of 400" not in e], [])

        self.serve.terminate()
        self.assertEqual(self.serve.wait(10), 0)
        read = self.rig.run(["read"] + self.rig.line_args() + ["1?HREG?400010?unsignedShort"])
        self.assertIn("= 1234", read.stdout, read.stderr)


if __name__ == "__main__":
    unittest.main()
