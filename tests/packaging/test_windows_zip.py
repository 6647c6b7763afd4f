#!/usr/bin/env python3
"""The Windows release as a user meets it: makes the zip, unpacks it into a fresh Wine prefix the way
Explorer's "Extract All" does (a folder inside a folder of the same name, under a profile with a
non-ASCII letter), and runs the guide's own commands, read from the ```bat blocks of INSTALL.md, in
cmd.exe: first "Try it without hardware" with the zip's lua.exe, then "Your own Lua host" with LuaJIT
and with a Lua on another C run-time (msvcr120.dll), each installed as the guide says and also started
from another working folder. Also checks what the DLLs import.

    test_windows_zip.py WINDOWS_BUILD LUAJIT_FOLDER

Each host's session is one cmd.exe process, so Wine starts few times. In the sessions every guide line
runs under `call` (as typed at a prompt: a .cmd file returns) between markers that give its exit code.
The guide's placeholders C:\\YourHost and C:\\YourHost\\lua.exe become the host's folder and program.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD, LUAJIT = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
failures = []
passed = 0


def check(what, condition, detail=""):
    global passed
    if condition:
        passed += 1
    else:
        failures.append(f"{what}\n{detail}")


def imports(dll):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", dll], capture_output=True, text=True).stdout
    return sorted({name.lower() for name in re.findall(r"DLL Name: (\S+)", out)})


def guide_blocks():
    """The ```bat blocks of INSTALL.md by section: {section title: [[line, ...], ...]}."""
    text = open(f"{ROOT}/packaging/windows/INSTALL.md", encoding="utf-8").read()
    sections, title = {}, None
    for part in re.split(r"^(## .*)$", text, flags=re.M):
        if part.startswith("## "):
            title = part[3:].strip()
            continue
        blocks = [block for block in re.findall(r"```bat\n(.*?)```", part, flags=re.S)]
        sections[title] = [[line.strip() for line in textwrap_dedent(block).splitlines() if line.strip()] for block in blocks]
    return sections


def textwrap_dedent(block):
    lines = block.splitlines()
    indent = min((len(line) - len(line.lstrip()) for line in lines if line.strip()), default=0)
    return "\n".join(line[indent:] for line in lines)


def session(lines):
    """A batch file of guide commands, each between markers: `==== N` before, `==== exit N CODE` after,
    its standard error with its output."""
    batch = ["@echo off"]
    for number, line in enumerate(lines):
        if line.startswith("@"):
            batch.append(line[1:])  # the test's own steps: where to stand
            continue
        batch += [f"echo ==== {number}", f"call {line} 2>&1", f"echo ==== exit {number} %errorlevel%"]
    return "\r\n".join(batch) + "\r\n"


def results(output, lines):
    """{line number: (output, exit code)} from a session's output."""
    found = {}
    for match in re.finditer(r"==== (\d+)\r?\n(.*?)==== exit \1 (-?\d+)", output, flags=re.S):
        found[int(match.group(1))] = (match.group(2).replace("\r", ""), int(match.group(3)))
    return found


def run_session(name, lines, environment, prefix):
    path = f"{prefix}/drive_c/{name}.cmd"
    open(path, "w", newline="").write(session(lines))
    run = subprocess.run(["wine", "cmd", "/c", f"C:\\{name}.cmd"], env=environment, stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=900)
    output = run.stdout.decode("utf-8", "replace") + run.stderr.decode("utf-8", "replace")
    return results(output, lines), output


def main():
    # The module imports nothing but lua51.dll and the system's DLLs.
    found = imports(f"{BUILD}/vexlan.dll")
    allowed = r"lua51|kernel32|user32|gdi32|gdiplus|ole32|oleaut32|advapi32|setupapi|hid|dinput8|msvcrt|api-ms-win-[a-z0-9-]+"
    check(f"vexlan.dll imports only lua51.dll and system DLLs: {found}",
          all(re.fullmatch(rf"({allowed})\.dll", name) for name in found) and "lua51.dll" in found)
    check("the other host's Lua is on msvcr120.dll", "msvcr120.dll" in imports(f"{BUILD}/msvcr120/lua51.dll"))

    zip_path = subprocess.run(["bash", f"{ROOT}/scripts/release.sh"], env=dict(os.environ, VEXLAN_RELEASE_BUILD=BUILD),
                              capture_output=True, text=True, check=True).stdout.strip()
    work = tempfile.mkdtemp()
    prefix = f"{work}/prefix"
    environment = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                       LC_ALL="C.UTF-8")
    for variable in ("VEXLAN_SIM_DEVICES", "VEXLAN_SIM_OUTPUT", "VEXLAN_SIM_SCENARIO", "VEXLAN_SIM_WEB", "VEXLAN_LUA"):
        environment.pop(variable, None)
    try:
        subprocess.run(["wineboot", "-i"], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-p"], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        drive_c = f"{prefix}/drive_c"
        name = os.path.basename(zip_path)[:-4]
        downloads = f"{drive_c}/users/José/Downloads/{name}"  # Explorer's "Extract All" to Downloads\NAME
        with zipfile.ZipFile(f"{ROOT}/{zip_path}") as archive:
            check("the zip holds one folder", {entry.split("/")[0] for entry in archive.namelist()} == {name})
            archive.extractall(downloads)
        folder = f"C:\\users\\José\\Downloads\\{name}\\{name}"
        check("the zip has no fixed-path .reg file", not os.path.exists(f"{downloads}/{name}/use-simulator.reg"))
        environment.update(ZIPDIR=folder, OUTDIR="C:\\users\\José\\sortie-Ω", VEXLAN_NO_BROWSER="1")

        sections = guide_blocks()
        try_it = [line for block in sections["Try it without hardware: three steps"] for line in block]
        own_host = sections["Your own Lua host"]
        check("the guide has its blocks", len(try_it) >= 4 and len(own_host) == 4, str(sections))

        # 1. Try it without hardware, with the zip's own lua.exe, in the unpacked folder.
        lines = ['@cd /d "%ZIPDIR%"'] + try_it + [
            '@set "VEXLAN_SIM_OUTPUT=%OUTDIR%"', "run-example.cmd simulated_session", '@set "VEXLAN_SIM_OUTPUT="',
            "@echo TEMP=%TEMP%"]
        got, output = run_session("try", lines, environment, prefix)
        def result(command, lines=lines, got=got):
            return got.get(lines.index(command), (f"(never ran; the whole output:\n{output})", None))
        text, code = result("use-simulator.cmd")
        # cmd.exe writes in the console's code page, so the profile's letter is left out of the comparison.
        check("use-simulator.cmd registers the simulator in the unpacked folder", code == 0 and
              "vexlan now uses the simulator C:\\users\\Jos" in text and
              f"\\Downloads\\{name}\\{name}\\vexlan_sim.dll" in text, text)
        text, code = result("check.cmd")
        check("check.cmd: every step passes", code == 0 and re.search(r"devices\s+ok\s+2 attached: SFIP, X52P", text)
              and "every step passed" in text, text)
        text, code = result("run-example.cmd simulated_session")
        check("run-example.cmd simulated_session drives the panel", code == 0 and "the panel shows:\tbuttons 5" in text
              and "image bytes on the panel:\t230400" in text, text)
        text, code = result("run-example.cmd hotplug")
        check("run-example.cmd hotplug plays its scenario", code == 0 and "SFIP 1 is back" in text
              and re.search(r"presses seen: [1-9]", text), text)
        text, code = result("run-example-web.cmd web_panel")
        check("run-example-web.cmd serves the live panels", code == 0 and "panels at http://127.0.0.1:8047/" in text, text)
        temp = re.search(r"TEMP=(\S+)", output)
        temp_folder = drive_c + "/" + temp.group(1)[3:].replace("\\", "/") if temp else "(no TEMP)"
        check("the pictures and panels.log go to %TEMP%\\vexlan-out",
              os.path.exists(f"{temp_folder}/vexlan-out/panels.log") and
              os.path.exists(f"{temp_folder}/vexlan-out/device2-SFIP-page1.png"), temp_folder)
        wide = f"{drive_c}/users/José/sortie-Ω"
        check("an output folder with a letter outside the ANSI code page is the one written",
              os.path.exists(f"{wide}/panels.log") and any(f.endswith(".png") for f in os.listdir(wide))
              if os.path.isdir(wide) else False, str(os.listdir(f"{drive_c}/users/José")))

        # 2. Your own host: LuaJIT, and Lua on msvcr120.dll, each in a folder of its own.
        hosts = [("luajit", "C:\\luajit", "luajit.exe", [f"{LUAJIT}/luajit.exe", f"{LUAJIT}/lua51.dll"]),
                 ("msvcr120", "C:\\Other Host", "lua.exe", [f"{BUILD}/msvcr120/lua.exe", f"{BUILD}/msvcr120/lua51.dll"])]
        for host, host_folder, program, files in hosts:
            unix_folder = f"{drive_c}/{host_folder[3:]}"
            os.makedirs(unix_folder)
            for file in files:
                shutil.copy(file, unix_folder)
            host_program = f"{host_folder}\\{program}"
            def own(line):
                return line.replace("C:\\YourHost\\lua.exe", host_program).replace("C:\\YourHost", host_folder)
            copy, hardware, test_line, with_host = ([own(line) for line in block] for block in own_host)
            lines = (['@cd /d "%ZIPDIR%"'] + copy + hardware + ["@cd /d C:\\windows"] + test_line +
                     ['@cd /d "%ZIPDIR%"'] + with_host + ["@cd /d C:\\windows"] + test_line +
                     ['"%ZIPDIR%\\run-example.cmd" hotplug',
                      f'@copy /y "%ZIPDIR%\\vexlan_sim.dll" "{host_folder}\\" >nul', f'@cd /d "{host_folder}"',
                      f"\"{host_program}\" -e \"require 'vexlan' require 'vexlan_sim'\"",
                      f'@del "{host_folder}\\vexlan_sim.dll"'])
            got, output = run_session(host, lines, environment, prefix)
            position = {}
            def result(command, occurrence=0):
                indexes = [i for i, line in enumerate(lines) if line == command]
                return got.get(indexes[occurrence], (f"(never ran; the whole output:\n{output})", None))
            for line in copy:
                check(f"{host}: {line}", result(line)[1] == 0, result(line)[0])
            check(f"{host}: the files are where the guide put them", os.path.exists(f"{unix_folder}/vexlan.dll") and
                  os.path.exists(f"{unix_folder}/lua/vexlan/cockpit.lua"))
            check(f"{host}: the hardware's reg add", result(hardware[0])[1] == 0, result(hardware[0])[0])
            text, code = result(test_line[0], 0)
            check(f"{host}: the test line, from another folder, without the hardware's DLL",
                  text.startswith("0.3.5\t0\t3\t5\t0\n0.3.5\n") and
                  re.search(r"file\s+FAIL\s+there is no file C:\\Program Files\\DirectOutput\\DirectOutput.dll", text), text)
            text, code = result("run-example.cmd simulated_session")
            check(f"{host}: run-example.cmd registers the simulator again and runs in the host",
                  code == 0 and "vexlan now uses the simulator" in text and "the panel shows:\tbuttons 5" in text, text)
            text, code = result("check.cmd")
            check(f"{host}: check.cmd in the host", code == 0 and re.search(r"devices\s+ok\s+2 attached", text) and
                  f"{host_program}, its Lua in {host_folder}\\lua51.dll" in text, text)
            if host == "msvcr120":
                check(f"{host}: the check notes the other C run-time",
                      re.search(r"host\s+note\s+.*on the C run-time msvcr120.dll; vexlan uses msvcrt.dll", text), text)
            text, code = result(test_line[0], 1)
            check(f"{host}: the test line from another folder, with the simulator", code == 0 and
                  text.startswith("0.3.5\t0\t3\t5\t0\n0.3.5\n") and re.search(r"devices\s+ok\s+2 attached", text), text)
            text, code = result('"%ZIPDIR%\\run-example.cmd" hotplug')
            check(f"{host}: run-example.cmd started from another folder", code == 0 and "SFIP 1 is back" in text, text)
            text, code = result(f"\"{host_program}\" -e \"require 'vexlan' require 'vexlan_sim'\"")
            check(f"{host}: a second copy of vexlan_sim beside the host says so",
                  code != 0 and f"this copy of the simulator is {host_folder}\\vexlan_sim.dll, but vexlan uses {folder}\\vexlan_sim.dll" in text, text)
    finally:
        subprocess.run(["wineserver", "-k"], env=environment, capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


main()
for failure in failures:
    print("FAIL", failure, file=sys.stderr)
print(f"{passed} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
