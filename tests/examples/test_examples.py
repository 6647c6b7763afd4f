#!/usr/bin/env python3
"""Runs each example with the run command against its scenario and checks what the panels were left
showing: the summary in panels.log, and the pixels of the pictures written.

    test_examples.py INTERPRETER   (lua5.1, luajit or wine; the run command's environment names the builds)
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def read_png(path):
    """The pixels of an 8-bit RGB PNG as rows of (r, g, b)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, idat, width, height = 8, b"", 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 2), "8-bit RGB"
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 3] if x >= 3 else 0
            b, c = previous[x], previous[x - 3] if x >= 3 else 0
            p = a + b - c
            nearest = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[x] = (line[x] + [0, a, b, (a + b) // 2, nearest][kind]) & 0xFF
        rows.append([tuple(line[3 * x:3 * x + 3]) for x in range(width)])
        previous = line
    return rows


def run(example, interpreter, output):
    result = subprocess.run(
        [os.path.join(ROOT, "scripts/run.sh"), "-q", "-i", interpreter, "-o", output,
         "-s", os.path.join(ROOT, "examples", example + ".scenario"), os.path.join(ROOT, "examples", example + ".lua")],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, f"{example}: exit {result.returncode}\n{result.stderr}"
    log = open(os.path.join(output, "panels.log")).read()
    return result.stdout.replace("\r", ""), log[log.index("== devices"):]


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def main():
    interpreter = sys.argv[1]
    passed = failed = 0
    cases = {
        "attitude": lambda out, summary, folder: (
            check("drew 40 frames" in out, "all frames drawn"),
            check("device 2 SFIP, pages: 1 2 (active)" in summary, "soft button 2 showed the throttle page"),
            # The attitude: sky at the top, ground at the bottom; the throttle: a green bar on dark.
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[5][160] == (40, 110, 200), "sky"),
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[235][160] == (140, 90, 40), "ground"),
            check(read_png(os.path.join(folder, "device2-SFIP-page2.png"))[120][2] == (60, 200, 90), "bar"),
            check(read_png(os.path.join(folder, "device2-SFIP-page2.png"))[10][2] == (20, 20, 20), "back")),
        "instruments": lambda out, summary, folder: (
            check("drew 40 frames" in out, "all frames drawn"),
            check("device 2 SFIP, pages: 1 2 (active)" in summary, "soft button 2 showed the heading indicator"),
            # The attitude: sky at the top, ground at the bottom, the aircraft's dot in the middle; the
            # heading: the card's picture loaded, turned, the aircraft on it, the dark background beside.
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[5][160] == (40, 120, 208), "sky"),
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[235][160] == (140, 90, 40), "ground"),
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[120][160] == (255, 210, 0), "aircraft"),
            check(read_png(os.path.join(folder, "device2-SFIP-page2.png"))[120][160] == (255, 255, 255), "heading's aircraft"),
            check(read_png(os.path.join(folder, "device2-SFIP-page2.png"))[60][120] == (28, 38, 48), "the card"),
            check(read_png(os.path.join(folder, "device2-SFIP-page2.png"))[120][5] == (16, 20, 24), "background")),
        "x52_pages": lambda out, summary, folder: (
            check("ending on COM" in out, "the soft buttons turned the pages"),
            check("device 1 X52P, pages: 1 2 (active) 3" in summary, "COM shown"),
            check('page 2: string 1 "COM"; string 2 "COM1 118.300"; string 3 "T+00:20"; LEDs 0 on' in summary,
                  "COM's lines and LED")),
        "hotplug": lambda out, summary, folder: (
            check(out.count("SFIP 1 is back") == 2, "both returns reported"),
            check("presses seen: 2" in out, "the soft button works after each return"),
            check('page 1: string 1 "HOT-PLUG DEMO"; string 2 "frame 20"; LEDs 0 off; picture' in summary,
                  "everything restored"),
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[10][10] == (30, 160, 60), "picture")),
        "companion": lambda out, summary, folder: (
            check(out.count("SFIP 1 is back") == 1, "the return reported once"),
            check("turns: 6, presses seen: 2" in out, "the soft button works after a new handle, with no code for it"),
            check('page 1: string 1 "COMPANION"; LEDs 0 off; picture' in summary, "page, line and LED shown again"),
            # The canvas's gauge: the background, and the needle's hub at the centre.
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[120][300] == (16, 24, 32), "dial"),
            check(read_png(os.path.join(folder, "device2-SFIP-page1.png"))[120][160] == (255, 128, 0), "needle")),
    }
    for example, checks in cases.items():
        with tempfile.TemporaryDirectory() as folder:
            try:
                out, summary = run(example, interpreter, folder)
                checks(out, summary, folder)
                passed += 1
            except (AssertionError, OSError, subprocess.TimeoutExpired) as error:
                failed += 1
                print(f"FAIL {example}: {error}", file=sys.stderr)
    # --devices names only kinds the library's catalogue holds, and the refusal lists them.
    refused = subprocess.run(
        [os.path.join(ROOT, "scripts/run.sh"), "-q", "-i", interpreter, "-d", "SFIP,BAD",
         os.path.join(ROOT, "examples", "simulated_session.lua")],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=240)
    if refused.returncode != 0 and 'unknown device tag "BAD" in --devices (SFIP, X52P or UNKN)' in refused.stderr:
        passed += 1
    else:
        failed += 1
        print(f"FAIL --devices SFIP,BAD: exit {refused.returncode}\n{refused.stderr}", file=sys.stderr)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
