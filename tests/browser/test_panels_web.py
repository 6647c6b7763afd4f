#!/usr/bin/python3
"""The live panels in a real browser (Debian's headless Chromium, driven by chromedriver through
Selenium): examples/web_panel.lua runs through the run command with --web 0, and the test
 - compares the panel's screen, pixel for pixel, with the picture the script sent;
 - presses a soft button and sees the script's callback repaint the panel and change its lines and LED;
 - turns the X52 Pro's page and sees the script's page callback write it;
 - unplugs the panel, replugs it under a new handle and plugs a new one, and sees the script set them up;
 - with ten panels and a new picture for each thirty times a second, measures the delay from SetImage
   to the browser drawing it (median and 95th percentile) and checks that a press still gets through.

    test_panels_web.py INTERPRETER [--screenshot FILE]   (lua5.1, luajit or wine; the run command's
                                                          environment names the builds)
"""
import base64
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BLUE, RED, GREEN = (40, 110, 200), (200, 60, 40), (60, 200, 90)


def until(condition, what, seconds=20, seen=None):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            value = condition()
        except Exception:  # an element replaced while looking at it: look again
            value = None
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what + (f" (seen: {seen()})" if seen else ""))


class Run:
    """The example under the run command, its panels served on a free port."""

    def __init__(self, interpreter, devices, frames, folder):
        self.process = subprocess.Popen(
            [os.path.join(ROOT, "scripts/run.sh"), "-q", "-w", "0", "-i", interpreter, "-o", folder, "-d", devices,
             os.path.join(ROOT, "examples/web_panel.lua"), str(frames)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.out, self.err = [], []
        for stream, lines in ((self.process.stdout, self.out), (self.process.stderr, self.err)):
            threading.Thread(target=lambda s=stream, l=lines: [l.append(x.decode(errors="replace")) for x in s],
                             daemon=True).start()
        found = until(lambda: next((m for m in map(re.compile(r"panels at (http://127\.0\.0\.1:\d+/)").search,
                                                   self.err) if m), None), "the address", 180)
        self.url = found.group(1)

    def key(self):
        self.process.stdin.write(b"x")
        self.process.stdin.flush()

    def end(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)
        return self.process.returncode


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1500,1100"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def screen(driver, device):
    """The canvas of a device's screen as bytes, four per pixel, top row first."""
    encoded = driver.execute_script("""
        const data = document.querySelector('#device-' + arguments[0] + ' canvas')
                             .getContext('2d').getImageData(0, 0, 320, 240).data;
        let text = '';
        for (let i = 0; i < data.length; i += 8192) text += String.fromCharCode(...data.subarray(i, i + 8192));
        return btoa(text);""", device)
    return base64.b64decode(encoded)


def pixel(driver, device, x, y):
    return tuple(driver.execute_script(
        "return Array.from(document.querySelector('#device-' + arguments[0] + ' canvas')"
        ".getContext('2d').getImageData(arguments[1], arguments[2], 1, 1).data.slice(0, 3))", device, x, y))


def text(driver, selector):
    return driver.find_element(By.CSS_SELECTOR, selector).text


def picture(colour, frame):
    """What the example sends, as the canvas holds it: the frame number in the first pixel."""
    return bytes((frame % 256, frame // 256 % 256, 77, 255)) + bytes((*colour, 255)) * (320 * 240 - 1)


def controls(driver, interpreter, folder, screenshot):
    run = Run(interpreter, "X52P,SFIP", 1, folder)
    try:
        driver.get(run.url)
        until(lambda: text(driver, "#status") == "live", "the event stream")
        until(lambda: "picture" in text(driver, "#device-2 .picture-note"), "the panel's picture")
        assert screen(driver, 2) == picture(BLUE, 0), "the screen shows the picture the script sent"
        assert text(driver, "#device-1 .lines").splitlines()[:2] == ["WEB PANEL", "PAGE 1"], "the X52 Pro's lines"

        driver.find_element(By.CSS_SELECTOR, '#device-2 button[data-bit="2"]').click()
        until(lambda: pixel(driver, 2, 160, 120) == GREEN, "soft button 2 to paint the panel green")
        until(lambda: text(driver, "#device-2 .lines") == "green\npresses 1", "the panel's lines")
        until(lambda: driver.find_elements(By.CSS_SELECTOR, '#device-2 .led[data-led="0"] i.on'), "LED 0 on")

        driver.find_element(By.CSS_SELECTOR, '#device-1 button[data-page="2"]').click()
        until(lambda: "TURNED TO 2" in text(driver, "#device-1 .lines"), "the page callback")
        until(lambda: "active" in driver.find_element(By.CSS_SELECTOR, '#device-1 button[data-page="2"]')
              .get_attribute("class"), "page 2 shown active")

        driver.find_element(By.CSS_SELECTOR, "#device-2 button.unplug").click()
        until(lambda: "unplugged" in driver.find_element(By.ID, "device-2").get_attribute("class"), "unplugged")
        until(lambda: text(driver, "#device-2 .picture-note") == "no picture", "the unplugged panel blank")
        assert pixel(driver, 2, 160, 120) == (0, 0, 0)
        driver.find_element(By.CSS_SELECTOR, "#device-2 button.replug-new").click()
        until(lambda: pixel(driver, 2, 160, 120) == GREEN, "the panel set up again under its new handle")
        until(lambda: "unplugged" not in driver.find_element(By.ID, "device-2").get_attribute("class"), "plugged")

        driver.find_element(By.ID, "plug").click()  # SFIP is chosen first
        until(lambda: driver.find_elements(By.ID, "device-3") and pixel(driver, 3, 10, 10) == BLUE, "a new panel")
        driver.find_element(By.CSS_SELECTOR, '#device-3 button[data-bit="1"]').click()
        until(lambda: pixel(driver, 3, 10, 10) == RED, "the new panel's soft button")
        if screenshot:
            driver.execute_script("scrollTo(0, 0)")
            driver.save_screenshot(screenshot)

        run.key()  # the script's one frame: it ends, and the library stops serving
        assert run.end() == 0, "".join(run.err)
        assert "frames sent: 1" in "".join(run.out)
        until(lambda: text(driver, "#status") != "live", "the page to see the library gone")
    finally:
        if run.process.poll() is None:
            run.process.kill()


def latency(driver, interpreter, folder):
    panels, rate, frames = 10, 30, 150
    run = Run(interpreter, ",".join(["SFIP"] * panels), frames + 1, folder)
    try:
        driver.get(run.url)
        until(lambda: all("picture" in text(driver, f"#device-{d} .picture-note") for d in range(1, panels + 1)),
              "every panel's first picture")
        driver.execute_script(
            "window.shown = []; addEventListener('panelpicture', e => shown.push(e.detail));")
        start = time.monotonic()
        for frame in range(1, frames + 1):
            time.sleep(max(0.0, start + frame / rate - time.monotonic()))
            run.key()
            if frame == frames // 2:  # a press amid the stream still gets through
                driver.find_element(By.CSS_SELECTOR, '#device-1 button[data-bit="1"]').click()
        last = bytes((frames % 256, frames // 256, 77))
        for d in range(1, panels + 1):
            until(lambda d=d: pixel(driver, d, 0, 0) == tuple(last),
                  f"panel {d} to show the last frame", 30, lambda d=d: (pixel(driver, d, 0, 0), text(driver, f"#device-{d} .picture-note")))
        until(lambda: pixel(driver, 1, 160, 120) == RED, "the press amid the stream")
        shown = driver.execute_script("return shown")
        delays = sorted(s["shownAt"] - s["sentAt"] for s in shown)
        median = statistics.median(delays)
        p95 = delays[min(len(delays) - 1, int(0.95 * len(delays)))]
        print(f"{panels} panels, {rate} pictures a second each: {len(shown)} of {panels * frames} drawn, "
              f"SetImage to drawn: median {median:.0f} ms, 95th percentile {p95:.0f} ms")
        run.key()
        assert run.end() == 0, "".join(run.err)
    finally:
        if run.process.poll() is None:
            run.process.kill()


def main():
    interpreter = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    passed = failed = 0
    driver = browser()
    try:
        for case in (controls, latency):
            with tempfile.TemporaryDirectory() as folder:
                try:
                    if case is controls:
                        case(driver, interpreter, folder, screenshot)
                    else:
                        case(driver, interpreter, folder)
                    passed += 1
                except (AssertionError, OSError, subprocess.TimeoutExpired) as error:
                    failed += 1
                    print(f"FAIL {case.__name__}: {error}", file=sys.stderr)
    finally:
        driver.quit()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
