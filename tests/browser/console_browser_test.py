#!/usr/bin/python3
"""The station console in a real headless Chromium against a station with
simulated units: page 1 a KM-71 (ARX) on TCP, page 2 a KH-71 (HD) on TCP
with its text log on, page 3 connecting to a port nobody listens on (its
link-down alarm held 1 s), relay server 1 serving page 1.

Run by ctest as browser.console; by hand:
  /usr/bin/python3 tests/browser/console_browser_test.py --build build --screenshots docs/screenshots
"""
import argparse
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait

ARGS = None
WAIT = 30  # seconds a condition may take on a loaded machine


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode("latin-1")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def page_config(station, n, hardware, port, caption, log):
    return crlf(["%2d" % hardware, "KELPO4", " 1", "1", " 0", " 3", " 0", "", "127.0.0.1", "%6d" % port,
                 os.path.join(station, "LOG") + "/", "Connect%d-" % n, "1" if log else "0", caption, "Rack%d" % n,
                 "", "0"])


class Station:
    """A scratch station directory, its simulated units and the server."""

    def __init__(self, build):
        self.build = build
        self.dir = tempfile.mkdtemp(prefix="tolva-browser-")
        self.procs = []
        for d in ("CONFIG", "LOG", "DLD"):
            os.makedirs(os.path.join(self.dir, d))
        with open(os.path.join(self.dir, "DLD", "KM71.DLD"), "wb") as f:
            f.write(crlf(["4660"] + [":10000%d00C2A5E1F0%d" % (i, i) for i in range(1, 7)]))
        self.hd_trace = os.path.join(self.dir, "LOG", "unit-kh71.trace")
        arx = self.unit(["--loaded"], os.path.join(self.dir, "LOG", "unit-arx.trace"))
        hd = self.unit(["--unit", "kh71", "--rate", "4"], self.hd_trace)
        cfg = os.path.join(self.dir, "CONFIG")
        with open(os.path.join(cfg, "Connect1.CFG"), "wb") as f:
            f.write(page_config(self.dir, 1, 0, arx, "Main transmitter", True))
        with open(os.path.join(cfg, "Connect2.CFG"), "wb") as f:
            f.write(page_config(self.dir, 2, 2, hd, "HD monitor", True))
        # Nothing listens here: the page's link stays down and raises its alarm.
        with open(os.path.join(cfg, "Connect3.CFG"), "wb") as f:
            f.write(page_config(self.dir, 3, 0, free_port(), "Standby link", False))
        with open(os.path.join(cfg, "Alarms.CFG"), "w") as f:
            f.write("link_down_raise_s = 1\n")
        self.relay_port = free_port()
        with open(os.path.join(cfg, "Server1.CFG"), "wb") as f:
            f.write(crlf([" 1", "1", "%6d" % self.relay_port, "0"]))
        with open(os.path.join(cfg, "Server1.USR"), "wb") as f:
            f.write(crlf([" 0"]))
        os.chmod(os.path.join(cfg, "Server1.USR"), 0o600)
        # With Debian's mosquitto the station publishes to it and sees itself as a fleet of one.
        self.broker = shutil.which("mosquitto") or shutil.which("/usr/sbin/mosquitto")
        if self.broker:
            broker_port = free_port()
            conf = os.path.join(self.dir, "mosquitto.conf")
            with open(conf, "w") as f:
                f.write("listener %d 127.0.0.1\nallow_anonymous true\n" % broker_port)
            self.procs.append(subprocess.Popen([self.broker, "-c", conf], stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
            with open(os.path.join(cfg, "Network.CFG"), "w") as f:
                f.write("broker_host = 127.0.0.1\nbroker_port = %d\nstation = test-site\n" % broker_port)
        self.port = free_port()
        with open(os.path.join(cfg, "Console.CFG"), "w") as f:
            f.write("bind = 127.0.0.1\nport = %d\n" % self.port)
        server = os.path.join(build, "tolva-server")
        for user, level in (("anna", "Operator"), ("olli", "Observer"), ("sara", "Supervisor")):
            subprocess.run([server, "--base", self.dir, "--console-user", user, "--level", level],
                           input=(user + "-pass\n").encode(), check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        self.err = open(os.path.join(self.dir, "server.err"), "w+")
        self.procs.append(subprocess.Popen([server, "--headless"], cwd=self.dir, stdout=subprocess.DEVNULL,
                                           stderr=self.err))
        self.url = "http://127.0.0.1:%d/" % self.port
        deadline = time.time() + WAIT
        while time.time() < deadline:
            try:
                urllib.request.urlopen(self.url + "healthz", timeout=2).read()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("the console did not answer; see " + self.err.name)

    def messages(self, count=40):
        """The station's last message lines, read as a Supervisor."""
        try:
            request = urllib.request.Request(self.url + "api/messages", headers={
                "Authorization": "Basic " + base64.b64encode(b"sara:sara-pass").decode()})
            lines = json.load(urllib.request.urlopen(request, timeout=10))["messages"]
            return "\n".join(m["text"] for m in lines[-count:])
        except (OSError, ValueError, KeyError) as e:
            return "(not read: %s)" % e

    def unit(self, kind, trace):
        p = subprocess.Popen([os.path.join(self.build, "tolva-unitsim"), "--tcp", "0"] + kind + ["--trace", trace],
                             stdout=subprocess.PIPE, text=True)
        self.procs.append(p)
        return int(p.stdout.readline().split()[1])

    def frames_sent(self):
        with open(self.hd_trace, encoding="latin-1") as f:
            return sum(1 for line in f if " FRAME " in line)

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
        for p in reversed(self.procs):
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def browser():
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
              "--window-size=1280,900", "--force-prefers-reduced-motion"):
        opts.add_argument(a)
    service = Service(executable_path="/usr/bin/chromedriver")
    return webdriver.Chrome(options=opts, service=service)


class ConsoleInBrowser(unittest.TestCase):
    """Scenarios in order; each starts from a fresh browser session."""

    @classmethod
    def setUpClass(cls):
        cls.station = Station(ARGS.build)
        try:
            cls.driver = browser()
        except Exception:
            cls.station.stop()
            raise
        # A screen redrawn by a live event between finding an element and
        # reading it is looked at again, not a failure.
        cls.wait = WebDriverWait(cls.driver, WAIT, ignored_exceptions=(StaleElementReferenceException,
                                                                      NoSuchElementException))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.station.stop()

    def setUp(self):
        self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        self.driver.get(self.station.url)
        self.driver.delete_all_cookies()
        self.driver.get(self.station.url)

    def css(self, selector):
        return self.wait.until(EC.visibility_of_element_located((By.CSS_SELECTOR, selector)))

    def text_in(self, selector, text):
        try:
            self.wait.until(EC.text_to_be_present_in_element((By.CSS_SELECTOR, selector), text))
        except Exception:
            # What the page showed instead, and what the station said.
            shown = self.driver.execute_script(
                "const e = document.querySelector(arguments[0]); return e ? e.textContent : '(no element)'", selector)
            errors = self.driver.execute_script(
                "return [...document.querySelectorAll('.error, [role=alert]')].map(e => e.textContent).join(' | ')")
            self.fail("%s shows %r, not %r; errors on the page: %r; the station's last messages:\n%s"
                      % (selector, shown, text, errors, self.station.messages()))

    def log_in(self, user, password):
        self.css("#login-user").send_keys(user)
        self.css("#login-password").send_keys(password)
        self.css("#login-submit").click()

    def action_buttons(self):
        return self.driver.find_elements(By.XPATH, "//main//button[.='Connect' or .='Disconnect' or .='Enable' "
                                                   "or .='Restart' or .='Disable']")

    def go(self, hash_):
        self.driver.execute_script("location.hash = arguments[0]", hash_)

    def shot(self, name):
        if ARGS.screenshots:
            os.makedirs(ARGS.screenshots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(ARGS.screenshots, name))

    def test_1_operator(self):
        """Refusal, overview, live values, a chart, and Disconnect seen in the messages."""
        d = self.driver
        self.log_in("anna", "wrong")
        self.text_in("#login-error", "Wrong user name or password")
        self.css("#login-password").clear()
        self.log_in("", "anna-pass")
        self.text_in("#page-card-1 .state", "Connected")
        self.text_in("#page-card-2 .state", "Connected")
        self.text_in("#server-card-1 .state", "Enabled")
        self.text_in("#user", "anna (Operator)")
        # Cards hold their frame rates once two value updates have come.
        self.wait.until(lambda _: d.find_element(By.CSS_SELECTOR, "#page-card-2 .fpm").text not in ("", "–"))
        self.shot("overview.png")

        # The HD monitor's frame count, in its header, moves as the unit sends.
        self.go("#/page/2")
        leaf = "[data-path='v.header.longWord']"
        self.wait.until(lambda _: d.find_element(By.CSS_SELECTOR, leaf).text.strip().isdigit())
        first = int(d.find_element(By.CSS_SELECTOR, leaf).text)
        self.wait.until(lambda _: int(d.find_element(By.CSS_SELECTOR, leaf).text) > first)
        shown = int(d.find_element(By.CSS_SELECTOR, leaf).text)
        # A count the unit has really sent (its trace holds every frame).
        self.assertLessEqual(shown, self.station.frames_sent())
        self.shot("page-detail.png")

        # The HD text log's chart.
        self.go("#/logs")
        link = self.wait.until(EC.element_to_be_clickable((By.XPATH, "//a[text()='Chart' and contains(@href, '.TXT')]")))
        link.click()
        self.text_in("#chart-summary", "Total level")
        self.shot("chart.png")

        # The alarm the station raised for page 3; the Network screen: the station on its broker, or "Not configured".
        self.go("#/alarms")
        self.text_in("#alarms-active-t", "Page 3 (Standby link)")
        self.text_in("#alarms-active-t", "Link down")
        self.text_in("#alarms-active-t .state", "Critical")
        self.text_in("#nav a[data-screen='alarms']", "Alarms (")
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#alarm-settings"), [])  # Supervisors only
        self.assertNotIn("null", d.find_element(By.ID, "main").text)
        self.shot("alarms.png")
        self.go("#/network")
        if not self.station.broker:
            self.text_in("#network", "Not configured")
        else:
            # This station, online, its failed page 3 listed before the connected ones.
            self.text_in("#station-test-site .state", "Online")
            self.wait.until(lambda _: [li.text.split(" ")[:2] for li in
                                       d.find_elements(By.CSS_SELECTOR, "#station-test-site .npages li")][:1] in
                            ([["Failed", "#3"]], [["Silent", "#3"]]))
            self.text_in("#station-test-site .npages", "OK #1 Main transmitter")
            self.shot("network.png")

        # Disconnect: asked first, then the card and the message window follow the live events.
        self.go("#/overview")
        button = self.wait.until(EC.element_to_be_clickable(
            (By.XPATH, "//*[@id='page-card-1']//button[text()='Disconnect']")))
        button.click()
        self.css("#confirm-ok").click()
        self.text_in("#page-card-1 .state", "Disconnected")
        self.go("#/messages")
        self.text_in("#msg-list", "Disconnect by anna from 127.0.0.1: Connect1")
        self.css("#msg-search").send_keys("Disconnect by anna")
        lines = d.find_elements(By.CSS_SELECTOR, "#msg-list li")
        self.assertTrue(lines and all("Disconnect by anna" in li.text for li in lines))
        # Connect brings the unit back through the same path.
        self.go("#/overview")
        self.wait.until(EC.element_to_be_clickable(
            (By.XPATH, "//*[@id='page-card-1']//button[text()='Connect']"))).click()
        self.css("#confirm-ok").click()
        self.text_in("#page-card-1 .state", "Connected")

    def test_2_observer_on_a_phone(self):
        """An Observer sees no actions; at 360 px no screen scrolls sideways."""
        d = self.driver
        d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                          {"width": 360, "height": 740, "deviceScaleFactor": 2, "mobile": True})
        self.log_in("olli", "olli-pass")
        self.text_in("#page-card-1 .state", "Connected")
        self.text_in("#user", "olli (Observer)")
        self.assertEqual(self.action_buttons(), [])
        self.shot("overview-phone.png")
        for screen, ready in (("#/overview", "#page-card-8"), ("#/page/1", "#values .kv"),
                              ("#/page/2", "[data-path='v.header.longWord']"), ("#/messages", "#msg-list li"),
                              ("#/servers", "#server-8"), ("#/logs", "main table"),
                              ("#/alarms", "#alarms-active-t"), ("#/network", "#network")):
            self.go(screen)
            self.css(ready)
            self.assertEqual(self.action_buttons(), [], screen)
            width = d.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
            self.assertLessEqual(width[0], width[1], "%s scrolls sideways: %s" % (screen, width))
        # The server refuses an Observer's action too (the buttons are not the only guard).
        status = d.execute_async_script("""
            const done = arguments[0];
            fetch('/api/session').then(r => r.json()).then(s => fetch('/api/pages/1/disconnect',
              {method: 'POST', headers: {'X-Tolva-Csrf': s.csrf}})).then(r => done(r.status));""")
        self.assertEqual(status, 403)
        # Log out brings the log-in back.
        self.go("#/overview")
        self.css("#logout").click()
        self.css("#login-user")

    def test_3_supervisor_alarm_settings(self):
        """Alarms.CFG from the form: a refused value shown beside it, then saved; the password write-only."""
        d = self.driver
        d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                          {"width": 360, "height": 740, "deviceScaleFactor": 2, "mobile": True})
        self.log_in("sara", "sara-pass")
        self.text_in("#user", "sara (Supervisor)")
        self.go("#/alarms")
        field = self.css("input[name='unit_silent_raise_s']")
        self.assertEqual(field.get_attribute("value"), "60")
        self.text_in("#as-smtp_password-h", "not set")
        width = d.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
        self.assertLessEqual(width[0], width[1], "the settings scroll sideways: %s" % width)
        field.clear()
        field.send_keys("999999")
        self.css("#as-form button[type=submit]").click()
        self.text_in("#as-error", "unit_silent_raise_s")
        field = self.css("input[name='unit_silent_raise_s']")
        field.clear()
        field.send_keys("120")
        self.css("#as-smtp_password").send_keys("s3cret")
        self.css("#as-form button[type=submit]").click()
        self.text_in("#as-done", "Saved.")
        self.wait.until(lambda _: d.find_element(By.ID, "as-smtp_password-h").text == "set")
        self.assertEqual(self.css("#as-error").text, "")
        self.assertEqual(self.css("input[name='unit_silent_raise_s']").get_attribute("value"), "120")
        self.assertEqual(self.css("#as-smtp_password").get_attribute("value"), "")
        with open(os.path.join(self.station.dir, "CONFIG", "Alarms.CFG")) as f:
            text = f.read()
        self.assertIn("unit_silent_raise_s = 120", text)
        self.assertIn("smtp_password = s3cret", text)
        self.assertIn("link_down_raise_s = 1", text)


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--screenshots", help="folder for the screenshots")
    ARGS, rest = ap.parse_known_args()
    ARGS.build = os.path.abspath(ARGS.build)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
