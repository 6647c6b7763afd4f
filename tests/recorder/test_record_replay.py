#!/usr/bin/env python3
"""Records each example through the recording library, with the simulated library standing in for the
real one, and replays it: no difference. Then replays changed scripts, each caught at the call it changed,
and a trace with events the script does not handle, with no difference.

    test_record_replay.py INTERPRETER   (lua5.1, luajit or wine; the run command's environment names the builds)
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(ROOT, "examples")
HERE = os.path.dirname(os.path.abspath(__file__))


def run(interpreter, folder, script, scenario, *options, arguments=()):
    with_scenario = ["-s", scenario] if scenario else []
    result = subprocess.run(
        [os.path.join(ROOT, "scripts/run.sh"), "-q", "-i", interpreter, "-o", folder, *with_scenario, *options, script,
         *arguments],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=240)
    return result.returncode, result.stderr.replace("\r", "")


def record(interpreter, folder, script, scenario, *arguments):
    trace = os.path.join(folder, "session.trace")
    status, errors = run(interpreter, os.path.join(folder, "record"), script, scenario, "--record", trace,
                         arguments=arguments)
    assert status == 0, f"recording {script}: exit {status}\n{errors}"
    text = open(trace, encoding="utf-8").read()
    assert text.startswith("# vexlan trace 1\n") and " call Deinitialize -> 0x00000000\n" in text, text[-500:]
    return trace


def replay(interpreter, folder, trace, script, scenario, *arguments):
    return run(interpreter, os.path.join(folder, "replay"), script, scenario, "--replay", trace, arguments=arguments)


def changed(folder, example, old, new):
    """The example with one piece of text replaced, as a script of its own."""
    text = open(os.path.join(EXAMPLES, example + ".lua")).read()
    assert text.count(old) == 1, f"{old!r} in {example}"
    path = os.path.join(folder, "changed.lua")
    open(path, "w").write(text.replace(old, new))
    return path


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def same_replay(interpreter, folder, script, scenario, *arguments):
    """Under Wine on a loaded machine a script whose callbacks read its frame counter can see an event a
    frame earlier or later than it did while recording: there a session is recorded and replayed a
    second time after a difference, and the first is printed. Two differences in a row fail."""
    name = os.path.basename(script)
    for attempt in range(2 if interpreter == "wine" else 1):
        trace = record(interpreter, folder, script, scenario, *arguments)
        status, errors = replay(interpreter, folder, trace, script, scenario, *arguments)
        if status == 0 and "replay: no difference" in errors:
            return
        if attempt == 0 and interpreter == "wine":
            print(f"RETRY {name}: exit {status}\n{errors}", file=sys.stderr)
    check(False, f"{name}: exit {status}\n{errors}")


# Each change, and what the report must say: the call, what was expected and what came.
CHANGES = {
    "one string": (('"COM1 118.300"', '"COM1 118.305"'),
                   r'\(trace line \d+, at [\d.]+ s\): expected SetString d1 page=2 index=1 length=13 '
                   r'text="COM1 118\.300", got SetString d1 page=2 index=1 length=13 text="COM1 118\.305"'),
    "one LED": (("vexlan.SetLed(tag, ordinal, shown, 0, led_on[shown])",
                 "vexlan.SetLed(tag, ordinal, shown, 0, not led_on[shown])"),
                r'.*: expected SetLed d1 page=2 index=0 value=1, '
                r'got SetLed d1 page=2 index=0 value=0'),
    "one page": (('vexlan.AddPage("X52P", 1, page, page == 1)', 'vexlan.AddPage("X52P", 1, page, page == 2)'),
                 r'expected AddPage d1 page=2 flags=0, got AddPage d1 page=2 flags=1'),
    "a missing callback": (('vexlan.RegisterSoftButtonDownCallback("X52P", 1, function(', "local unused = (function("),
                           r'expected RegisterSoftButtonCallback d1 handler=1, got '),
}


def main():
    interpreter = sys.argv[1]
    passed = failed = 0

    def case(name, body):
        nonlocal passed, failed
        with tempfile.TemporaryDirectory() as folder:
            try:
                body(folder)
                passed += 1
            except (AssertionError, OSError, subprocess.TimeoutExpired) as error:
                failed += 1
                print(f"FAIL {name}: {error}", file=sys.stderr)

    # Every example: those with a scenario play it; the live-panels example gets a few frames of its own.
    sessions = {name: (os.path.join(EXAMPLES, name + ".lua"), os.path.join(EXAMPLES, name + ".scenario"), ())
                for name in ["x52_pages", "attitude", "hotplug", "companion", "instruments"]}
    sessions["web_panel"] = (os.path.join(EXAMPLES, "web_panel.lua"), os.path.join(HERE, "web_panel.scenario"), ("8",))
    for name, (script, scenario, arguments) in sessions.items():
        case(name, lambda folder, s=script, k=scenario, a=arguments: same_replay(interpreter, folder, s, k, *a))

    # The simulator example plugs and presses through vexlan_sim itself: its replay stops at the first
    # such control, with the reason, instead of reporting the doubled events as the script's fault.
    def simulated_session(folder):
        script = os.path.join(EXAMPLES, "simulated_session.lua")
        trace = record(interpreter, folder, script, None)
        status, errors = replay(interpreter, folder, trace, script, None)
        check(status != 0 and "vexlan_sim.plug: a replay plays the trace's device events" in errors,
              f"exit {status}\n{errors}")
    case("simulated_session", simulated_session)

    x52, x52_keys = os.path.join(EXAMPLES, "x52_pages.lua"), os.path.join(EXAMPLES, "x52_pages.scenario")
    with tempfile.TemporaryDirectory() as kept:
        trace = record(interpreter, kept, x52, x52_keys)
        for name, ((old, new), expected) in CHANGES.items():
            def caught(folder, old=old, new=new, expected=expected, name=name):
                status, errors = replay(interpreter, folder, trace, changed(folder, "x52_pages", old, new), x52_keys)
                check(status == 1 and re.search("replay: first difference at call .*" + expected, errors),
                      f"{name}: exit {status}\n{errors}")
            case(name, caught)

    # Events the script has no callback for: a soft button it ignores, and the panel, which it never
    # addresses, leaving and coming back under a new handle and pressed there.
    def unhandled(folder):
        scenario = os.path.join(folder, "more.scenario")
        lines = open(x52_keys).read().splitlines(True)
        keys = [i for i, line in enumerate(lines) if line.split()[1:2] == ["key"]]
        # At the time of the third key (0.4 s), so that the lines after it keep their times.
        more = "".join(f"0.4 {event}\n" for event in
                       ["buttons 1 0x8", "buttons 1 0", "unplug 2", "replug 2 new", "buttons 2 0x1"])
        assert lines[keys[2]].split()[0] == "+0.1" and lines[keys[0]].split()[0] == "0.2"
        open(scenario, "w").write("".join(lines[:keys[2] + 1]) + more + "".join(lines[keys[2] + 1:]))
        trace = record(interpreter, folder, x52, scenario)
        text = open(trace).read()
        check(" removal d2 " in text and " arrival d3 " in text and " buttons d1 n=1 mask=0x00000008" in text,
              "the extra events are in the trace:\n" + text[:3000])
        status, errors = replay(interpreter, folder, trace, x52, x52_keys)
        check(status == 0 and "replay: no difference" in errors, f"exit {status}\n{errors}")
        converted = open(os.path.join(folder, "replay", "replay.scenario")).read()
        check("unplug 2" in converted and "replug 2 new" in converted, converted)
    case("unhandled events", unhandled)

    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
