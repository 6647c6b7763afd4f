#!/usr/bin/env python3
"""The live panels' server under requests no page of its own sends: it listens on 127.0.0.1 alone,
answers foreign hosts and origins, unknown routes and malformed or oversized requests with an error,
keeps delivering events meanwhile, and stops with the library while connections are still open.

    test_web_safety.py INTERPRETER...   (e.g. lua5.1; the environment names the module and library)
"""
import os
import re
import socket
import subprocess
import sys
import threading
import time

SCRIPT = """
local vexlan = require "vexlan"
vexlan.RegisterSoftButtonCallback("SFIP", 1, function(tag, ordinal, mask)
  io.write("buttons ", mask, "\\n") io.flush()
end)
vexlan.Listen()
"""


def until(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


def exchange(port, raw, read=True):
    """Sends raw bytes, returns the status line's code (0 when the server closed without answering)."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(raw)
        if not read:
            return 0
        answer = b""
        while b"\r\n" not in answer:
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
        match = re.match(rb"HTTP/1\.1 (\d+)", answer)
        return int(match.group(1)) if match else 0


def main():
    env = dict(os.environ, VEXLAN_SIM_WEB="0", VEXLAN_SIM_DEVICES="X52P,SFIP", VEXLAN_SIM_LOG="none")
    host = subprocess.Popen(sys.argv[1:] + ["-e", SCRIPT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    out, err = [], []
    for stream, lines in ((host.stdout, out), (host.stderr, err)):
        threading.Thread(target=lambda s=stream, l=lines: [l.append(x.decode(errors="replace")) for x in s],
                         daemon=True).start()
    passed = failed = 0

    def check(condition, what):
        nonlocal passed, failed
        if condition:
            passed += 1
        else:
            failed += 1
            print("FAIL " + what, file=sys.stderr)

    try:
        url = until(lambda: next((m for m in map(re.compile(r"panels at http://127\.0\.0\.1:(\d+)/").search, err) if m),
                             None), "the address", 120)
        port = int(url.group(1))
        ok = f"Host: 127.0.0.1:{port}\r\n".encode()
        # Listening on the loopback address only (Linux's table: address 127.0.0.1, state 0A).
        with open("/proc/net/tcp") as table:
            listening = [line.split()[1] for line in table if line.split()[3:4] == ["0A"]]
        check(f"0100007F:{port:04X}" in listening and f"00000000:{port:04X}" not in listening, "127.0.0.1 only")

        cases = [  # request, expected status
            (b"GET / HTTP/1.1\r\n" + ok + b"\r\n", 200),
            (b"GET /state HTTP/1.1\r\n" + ok + b"\r\n", 200),
            (f"GET / HTTP/1.1\r\nHost: rebound.example:{port}\r\n\r\n".encode(), 403),
            (f"GET / HTTP/1.1\r\nHost: localhost:{port}\r\n\r\n".encode(), 403),
            (b"GET / HTTP/1.1\r\n\r\n", 403),
            (b"GET /etc/passwd HTTP/1.1\r\n" + ok + b"\r\n", 404),
            (b"GET /../../etc/passwd HTTP/1.1\r\n" + ok + b"\r\n", 404),
            (b"POST /state HTTP/1.1\r\n" + ok + b"Content-Length: 0\r\n\r\n", 404),
            (b"POST /buttons?device=2&mask=1 HTTP/1.1\r\n" + ok + b"Origin: http://elsewhere.example\r\n"
             b"Content-Length: 0\r\n\r\n", 403),
            (b"POST /buttons?device=2&mask=zz HTTP/1.1\r\n" + ok + b"Content-Length: 0\r\n\r\n", 400),
            (b"POST /buttons?device=99999999999&mask=1 HTTP/1.1\r\n" + ok + b"Content-Length: 0\r\n\r\n", 400),
            (b"POST /buttons?device=9&mask=1 HTTP/1.1\r\n" + ok + b"Content-Length: 0\r\n\r\n", 409),
            (b"POST /plug?tag=%00 HTTP/1.1\r\n" + ok + b"Content-Length: 0\r\n\r\n", 400),
            (b"GET /picture?device=2&page=7&index=0 HTTP/1.1\r\n" + ok + b"\r\n", 404),
            (b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n" + ok + b"\r\n", 414),
            (b"POST /buttons?device=2&mask=1 HTTP/1.1\r\n" + ok + b"Content-Length: 1000000\r\n\r\n", 413),
            (b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(256)) + b"\r\n\r\n", 400),
            (b"GET / HTTP/1.1\r\n" + ok + b"X-Long: " + b"b" * 100000 + b"\r\n\r\n", 400),
        ]
        for raw, status in cases:
            try:
                got = exchange(port, raw)
            except OSError as error:  # a reset after an oversized request is an answer too, not a crash
                got = status if status >= 400 else str(error)
            check(got == status, f"{raw[:50]!r}: {got}, not {status}")

        # A stalled request and an open event stream hold threads; events still flow, and the library
        # still stops and the process ends.
        stalled = socket.create_connection(("127.0.0.1", port))
        stalled.sendall(b"GET / HTTP/1.1\r\nHo")
        stream = socket.create_connection(("127.0.0.1", port))
        stream.sendall(b"GET /events HTTP/1.1\r\n" + ok + b"\r\n")
        check(stream.recv(100).startswith(b"HTTP/1.1 200"), "event stream open")
        check(exchange(port, b"POST /buttons?device=2&mask=4 HTTP/1.1\r\n" + ok + b"Content-Length: 0\r\n\r\n") == 200,
              "a soft button from the page")
        until(lambda: "buttons 4\n" in out, "the script's callback")
        host.stdin.write(b"q")
        host.stdin.close()
        host.wait(timeout=20)
        check(host.returncode == 0, f"the host ended with {host.returncode}: {''.join(err)}")
        stalled.close()
        stream.close()
    except (AssertionError, OSError, subprocess.TimeoutExpired) as error:
        failed += 1
        print(f"FAIL {error}\n{''.join(err)}", file=sys.stderr)
        host.kill()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
