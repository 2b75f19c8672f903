#!/usr/bin/python3
"""The station console in headless Chromium against a running station (the demo:
`bash scripts/run.sh`): the first load's bytes and requests, then the browser's own
CPU (all of Chromium's processes) with the overview open for a while.

  /usr/bin/python3 bench/console_browser.py --url http://127.0.0.1:8080/ --user demo --password demo --seconds 60
"""
import argparse
import os
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait


def cpu_seconds(root_pid):
    """utime + stime of a process's descendants (not its own), in seconds."""
    tick = os.sysconf("SC_CLK_TCK")
    children = {}
    stats = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        stats[int(pid)] = (int(fields[11]) + int(fields[12])) / tick
        children.setdefault(int(fields[1]), []).append(int(pid))
    total, todo = 0.0, list(children.get(root_pid, []))
    while todo:
        p = todo.pop()
        total += stats.get(p, 0.0)
        todo += children.get(p, [])
    return total


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--url", default="http://127.0.0.1:8080/")
    ap.add_argument("--user", default="demo")
    ap.add_argument("--password", default="demo")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--width", type=int, default=1280)
    args = ap.parse_args()

    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
              "--window-size=%d,900" % args.width, "--user-data-dir=" + tempfile.mkdtemp(prefix="tolva-chromium-")):
        opts.add_argument(a)
    driver = webdriver.Chrome(options=opts, service=Service(executable_path="/usr/bin/chromedriver"))
    wait = WebDriverWait(driver, 30)
    try:
        driver.get(args.url)
        wait.until(EC.visibility_of_element_located((By.ID, "login-user"))).send_keys(args.user)
        driver.find_element(By.ID, "login-password").send_keys(args.password)
        driver.find_element(By.ID, "login-submit").click()
        wait.until(EC.text_to_be_present_in_element((By.CSS_SELECTOR, "#page-card-1 .state"), "Connected"))
        # Every page's unit rows have come when the cards show them.
        time.sleep(2)
        entries = driver.execute_script("""
            const nav = performance.getEntriesByType('navigation')[0];
            return [[nav.name, nav.transferSize, nav.encodedBodySize]].concat(
              performance.getEntriesByType('resource').map(e => [e.name, e.transferSize, e.encodedBodySize]));""")
        files = [e for e in entries if "/api/" not in e[0]]
        calls = [e for e in entries if "/api/" in e[0]]
        print("first load: %d requests, %d bytes transferred (headers included)" %
              (len(entries), sum(e[1] for e in entries)))
        print("  console files: %d requests, %d bytes of bodies" % (len(files), sum(e[2] for e in files)))
        print("  API calls:     %d requests, %d bytes of bodies (+ the /api/live WebSocket)" %
              (len(calls), sum(e[2] for e in calls)))

        browser_pid = driver.service.process.pid  # chromedriver; Chromium is its child
        before, t0 = cpu_seconds(browser_pid), time.time()
        time.sleep(args.seconds)
        after, t1 = cpu_seconds(browser_pid), time.time()
        received = driver.execute_script("return document.querySelectorAll('.card').length")
        print("overview open %.0f s (%d cards): Chromium (all processes) %.1f %% of a core; load average %.2f" %
              (t1 - t0, received, 100.0 * (after - before) / (t1 - t0), os.getloadavg()[0]))
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
