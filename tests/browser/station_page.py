#!/usr/bin/python3
"""The station's live page in headless Chromium while a simulated bench runs in real time: its
tiles read at fixed points, a screenshot, and a station started again on the same port found by
the page by itself.   station_page.py TORVANE-CLI IMAGE --screenshot FILE.png"""

import argparse
import re
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def port(n):
    return f"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB({n})"


BENCH = ",".join([
    "qmx-c",                                         # USB(1): passes
    "qmx-c:fail=echo@3:plug=1s",                     # USB(2): its echo fails
    "qmx-c:version=3.2.0:plug=1s:unplug=10s",        # USB(3): already current, then pulled out
    "qmx-s:plug=2s",                                 # USB(4): the image does not fit it
    "qmx-c:plug=3s",                                 # USB(5): passes
    f"qmx-c:location={port(3)}:plug=11s",            # USB(3) again: a new board that passes
])


class Station:
    """torvane-cli station with its page, its standard error kept in a file."""

    def __init__(self, cli, image, devices, count, address):
        self.err = tempfile.TemporaryFile(mode="w+")
        self.process = subprocess.Popen(
            [cli, "--simulate=" + devices, "station", image, "--skip-current",
             "--count", str(count), "--dashboard", address],
            stdout=subprocess.DEVNULL, stderr=self.err)
        found = wait_for("the page's address", lambda: re.search(
            r"live page: (http://\S+)", self.text()) or self.process.poll() is not None, 30)
        assert found is not True, "the station ended before its page: " + self.text()
        self.url = found.group(1)

    def text(self):
        self.err.seek(0)
        return self.err.read()

    def wait(self, timeout):
        return self.process.wait(timeout), self.text()


def wait_for(what, check, timeout):
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.1)


# Every tile as the page shows it, by location: its state, status, cause and seconds.
TILES = """
return Object.fromEntries([...document.querySelectorAll('.tile')].map((tile) => [
    tile.dataset.location,
    { state: tile.dataset.state,
      cause: tile.querySelector('.cause')?.textContent ?? '',
      bar: tile.querySelector('.bar') !== null }]));
"""


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument("cli")
    arguments.add_argument("image")
    arguments.add_argument("--screenshot", required=True)
    options = arguments.parse_args()

    chrome = webdriver.ChromeOptions()
    chrome.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                 "--lang=en-GB"):
        chrome.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=chrome)
    # The page as a 1280 x 800 screen shows it, whatever the window around it.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
    station = None
    try:
        station = Station(options.cli, options.image, BENCH, 6, "127.0.0.1:0")
        driver.get(station.url)
        tiles = lambda: driver.execute_script(TILES)
        state = lambda location: tiles().get(location, {}).get("state")

        wait_for("the first board updating", lambda: state(port(1)) == "updating", 10)
        assert tiles()[port(1)]["bar"], "an updating tile has a progress bar"
        wait_for("the current board skipped", lambda: state(port(3)) == "skipped", 10)
        wait_for("the board the image does not fit failed", lambda: state(port(4)) == "failed", 10)
        wait_for("the board whose echo fails failed", lambda: state(port(2)) == "failed", 15)
        assert "echo" in tiles()[port(2)]["cause"], tiles()[port(2)]
        driver.save_screenshot(options.screenshot)

        wait_for("the first board passed", lambda: state(port(1)) == "passed", 20)
        wait_for("the new board at port 3 updating", lambda: state(port(3)) == "updating", 15)
        wait_for("the new board at port 3 passed", lambda: state(port(3)) == "passed", 25)
        status, err = station.wait(20)
        assert status == 1, f"exit status {status} (a board failed): {err}"
        tally = lambda: driver.execute_script(
            "return ['passed', 'failed', 'skipped'].map((id) => document.getElementById(id)"
            ".textContent).join(' ')")
        wait_for("the tally", lambda: tally() == "3 2 1", 5)
        banner = lambda: driver.execute_script("return !document.getElementById('banner').hidden")
        wait_for("the banner of a lost station", banner, 10)

        # The same port again: the page finds the new station by itself.
        again = station.url.rsplit(":", 1)[1].rstrip("/")
        station = Station(options.cli, options.image, "qmx-c:version=3.2.0:plug=3s", 1,
                          "127.0.0.1:" + again)
        wait_for("the banner gone", lambda: not banner(), 15)
        assert tiles() == {}, tiles()
        wait_for("the new station's board skipped", lambda: state(port(1)) == "skipped", 15)
        status, err = station.wait(20)
        assert status == 0, f"exit status {status}: {err}"
    finally:
        driver.quit()
        if station and station.process.poll() is None:
            station.process.kill()
    print("the page showed every state; screenshot in", options.screenshot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
