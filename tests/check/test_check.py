#!/usr/bin/env python3
"""vexlan.check tells each set-up mistake apart, in its own words: for each mistake a fresh Lua process
runs the check and its report must name the failing step with the expected words, and every step before
it must pass.

    test_check.py linux BUILD     the Linux build; the setting is VEXLAN_DIRECTOUTPUT
    test_check.py wine BUILD      the Windows build under Wine, in a fresh prefix; the setting is the
                                  registry value, written with reg.exe as a user would. All cases run in
                                  one cmd.exe session, so that Wine starts once.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

MODE, BUILD = sys.argv[1], os.path.abspath(sys.argv[2])
LUA_CHECK = "io.write(select(2, require('vexlan.check').run()))"
failures = []


def expect(case, report, step, verdict, words):
    """The report's line for `step` has `verdict` and `words`; no step before it failed."""
    lines = report.replace("\r", "").split("\n")
    found = None
    for line in lines:
        if line.startswith(step + " ") and re.match(re.escape(step) + r"\s+" + verdict + r"\s", line):
            found = line
            break
        if re.match(r"^[A-Za-z ]+?\s+FAIL\s", line):
            break  # an earlier step failed
    if found is None or words not in found:
        failures.append(f"{case}: wanted {step} {verdict} ...{words}...; the report was:\n{report}")


def patched(source, target, offset, data):
    """A copy of `source` with `data` written at `offset`."""
    content = bytearray(open(source, "rb").read())
    content[offset:offset + len(data)] = data
    open(target, "wb").write(content)


def needing_missing_library(source, target, name, missing):
    """A copy of `source` that needs the library `missing` in place of `name` (of the same length)."""
    content = open(source, "rb").read()
    assert name in content and len(name) == len(missing)
    open(target, "wb").write(content.replace(name, missing, 1))


def linux():
    work = tempfile.mkdtemp()
    sim, partial = f"{BUILD}/vexlan_sim.so", f"{BUILD}/partial_directoutput.so"
    open(f"{work}/notes.txt", "w").write("DirectOutput lives elsewhere\n")
    patched(sim, f"{work}/32bit.so", 4, b"\x01")                   # ELFCLASS32
    needing_missing_library(partial, f"{work}/needs.so", b"libc.so.6", b"libq.so.6")
    libz = next(p for p in ("/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1") if os.path.exists(p))
    cases = [
        # case, setting (None: unset), Lua before the check, step, verdict, words
        ("no setting", None, "", "setting", "FAIL", "neither VEXLAN_DIRECTOUTPUT nor /etc/vexlan/DirectOutput"),
        ("empty setting", "", "", "setting", "FAIL", "VEXLAN_DIRECTOUTPUT is empty"),
        ("missing file", f"{work}/nowhere.so", "", "file", "FAIL", "there is no file"),
        ("text file", f"{work}/notes.txt", "", "file", "FAIL", "is not a shared library (no ELF header)"),
        ("folder", work, "", "file", "FAIL", "is a folder"),
        ("32-bit library", f"{work}/32bit.so", "", "file", "FAIL", "is a 32-bit library"),
        ("no load", f"{work}/needs.so", "", "load", "FAIL", "the library does not load: libq.so.6: cannot open"),
        ("another library", libz, "", "entry points", "FAIL", "none of the 22 DirectOutput entry points"),
        ("partial library", partial, "", "entry points", "FAIL", "of the 22 entry points are missing (DirectOutput_"),
        ("Initialize fails", sim, "require('vexlan_sim').fail('Initialize', 0x80004005)", "Initialize", "FAIL",
         "answered 0x80004005"),
        ("no devices", sim, "local s = require('vexlan_sim') s.unplug(1) s.unplug(2)", "devices", "FAIL", "none attached"),
        ("the simulator", sim, "", "devices", "ok", "2 attached: SFIP, X52P"),
        ("the simulator, named", sim, "", "library", "ok", "the simulated library vexlan_sim"),
        ("the recorder, named", f"{BUILD}/vexlan_recorder.so", "", "library", "ok", "the recording library"),
        ("the host", sim, "", "host", "ok", "the same as vexlan's"),
    ]
    if os.path.exists("/etc/vexlan/DirectOutput"):
        cases = cases[1:]  # this machine is set up: an unset variable is not a mistake here
    for case, setting, before, step, verdict, words in cases:
        environment = dict(os.environ, LUA_CPATH=f"{BUILD}/?.so", VEXLAN_SIM_DEVICES="X52P,SFIP")
        environment.pop("VEXLAN_DIRECTOUTPUT", None)
        if setting is not None:
            environment["VEXLAN_DIRECTOUTPUT"] = setting
        run = subprocess.run(["lua5.1", "-e", before + " " + LUA_CHECK], env=environment, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=60)
        expect(case, run.stdout + run.stderr, step, verdict, words)
    shutil.rmtree(work)


def wine():
    work = tempfile.mkdtemp()
    prefix = f"{work}/prefix"
    environment = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                       VEXLAN_SIM_DEVICES="X52P,SFIP")
    try:
        subprocess.run(["wineboot", "-i"], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        files = f"{prefix}/drive_c/check"
        os.makedirs(files)
        for name in ("lua.exe", "lua51.dll", "vexlan.dll", "vexlan_sim.dll", "partial_directoutput.dll"):
            shutil.copy(f"{BUILD}/{name}", files)
        os.makedirs(f"{files}/host120")
        for name in ("lua.exe", "lua51.dll"):
            shutil.copy(f"{BUILD}/msvcr120/{name}", f"{files}/host120")
        open(f"{files}/notes.txt", "w").write("DirectOutput lives elsewhere\r\n")
        sim = f"{files}/vexlan_sim.dll"
        pe = int.from_bytes(open(sim, "rb").read()[0x3C:0x40], "little")
        patched(sim, f"{files}/x86.dll", pe + 4, b"\x4c\x01")  # the header of a 32-bit (i386) DLL
        needing_missing_library(f"{BUILD}/partial_directoutput.dll", f"{files}/needs.dll", b"KERNEL32.dll", b"KERNEX32.dll")
        key = r"HKLM\SOFTWARE\Vexlan\DirectOutput"
        add = f'reg add "{key}" /v DirectOutput /f /reg:64'
        cases = [
            # case, reg commands, Lua before the check, step, verdict, words
            ("no key", [r"reg delete HKLM\SOFTWARE\Vexlan /f /reg:64"], "", "registry", "FAIL", "there is no key"),
            ("32-bit view only", [f'reg add "{key}" /v DirectOutput /d C:\\check\\vexlan_sim.dll /f /reg:32'], "",
             "registry", "FAIL", "exists only in the 32-bit view of the registry (WOW6432Node)"),
            ("no value", [r"reg delete HKLM\SOFTWARE\Vexlan /f /reg:32", f'reg add "{key}" /ve /d C:\\check\\vexlan_sim.dll /f /reg:64'],
             "", "registry", "FAIL", "has no value named DirectOutput (its (Default) value is set"),
            ("wrong type", [f'reg add "{key}" /v DirectOutput /t REG_DWORD /d 1 /f /reg:64'], "", "registry", "FAIL",
             "(REG_DWORD, 4 bytes): vexlan reads it as text"),
            ("empty value", [f'{add} /t REG_SZ /d ""'], "", "registry", "FAIL", "empty"),
            ("REG_EXPAND_SZ", [f'{add} /t REG_EXPAND_SZ /d "%%SystemDrive%%\\check\\vexlan_sim.dll"'], "",
             "registry", "FAIL", "is REG_EXPAND_SZ with %...% in it"),
            ("missing file", [f"{add} /d C:\\nowhere\\DirectOutput.dll"], "", "file", "FAIL",
             "there is no file C:\\nowhere\\DirectOutput.dll"),
            ("folder", [f"{add} /d C:\\check"], "", "file", "FAIL", "C:\\check is a folder"),
            ("text file", [f"{add} /d C:\\check\\notes.txt"], "", "file", "FAIL", 'is not a DLL (it starts with "DirectOutput liv"'),
            ("32-bit DLL", [f"{add} /d C:\\check\\x86.dll"], "", "file", "FAIL", "is a 32-bit DLL"),
            ("no load", [f"{add} /d C:\\check\\needs.dll"], "", "load", "FAIL", "Windows cannot load it: "),
            ("another DLL", [f"{add} /d C:\\windows\\system32\\kernel32.dll"], "", "entry points", "FAIL",
             "none of the 22 DirectOutput entry points"),
            ("partial DLL", [f"{add} /d C:\\check\\partial_directoutput.dll"], "", "entry points", "FAIL",
             "of the 22 entry points are missing (DirectOutput_"),
            ("Initialize fails", [f"{add} /d C:\\check\\vexlan_sim.dll"],
             "require('vexlan_sim').fail('Initialize', 0x80004005)", "Initialize", "FAIL", "answered 0x80004005"),
            ("no devices", [], "local s = require('vexlan_sim') s.unplug(1) s.unplug(2)", "devices", "FAIL", "none attached"),
            ("the simulator", [], "", "devices", "ok", "2 attached: SFIP, X52P"),
            ("the simulator, named", [], "", "library", "ok", "the simulated library vexlan_sim"),
            ("the host", [], "", "host", "ok", "on the C run-time msvcrt.dll, the same as vexlan's"),
            ("another run-time", [], "", "host", "note", "on the C run-time msvcr120.dll; vexlan uses msvcrt.dll"),
        ]
        batch = ["@echo off", "cd /d C:\\check"]
        for number, (case, commands, before, step, verdict, words) in enumerate(cases):
            batch += [f"{command} >nul 2>&1" for command in commands]
            host = "host120\\lua.exe" if case == "another run-time" else "lua.exe"
            batch += [f"echo ==== {number}", f'{host} -e "{before} {LUA_CHECK}" <NUL 2>&1']
        open(f"{files}/cases.cmd", "w", newline="\r\n").write("\n".join(batch) + "\n")
        run = subprocess.run(["wine", "cmd", "/c", "C:\\check\\cases.cmd"], env=environment, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=300, errors="replace")
        reports = {}
        for part in run.stdout.split("==== ")[1:]:
            number, _, report = part.partition("\n")
            reports[int(number.strip())] = report
        for number, (case, commands, before, step, verdict, words) in enumerate(cases):
            expect(case, reports.get(number, "(no report)\n" + run.stderr), step, verdict, words)
    finally:
        subprocess.run(["wineserver", "-k"], env=environment, capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


{"linux": linux, "wine": wine}[MODE]()
for failure in failures:
    print("FAIL", failure, file=sys.stderr)
print(f"{'all' if not failures else len(failures)} {'passed' if not failures else 'failed'}")
sys.exit(1 if failures else 0)
