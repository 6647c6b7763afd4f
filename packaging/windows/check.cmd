@echo off
rem Tells, step by step, whether vexlan finds and starts the DirectOutput library, and what to do when it
rem does not: the registry value, the file it names, its load, its entry points, its Initialize, the
rem devices, and the Lua host. The host is lua\lua.exe from this folder, or the program VEXLAN_LUA names.
rem In your own host, the same report is: print(select(2, require("vexlan.check").run()))
setlocal
set "pause_at_end="
rem Started from Explorer, the window would close at the end: its command line names this file.
set "cmdline=%cmdcmdline%"
if not defined cmdline goto started
set "cmdline=%cmdline:"=%"
call set "others=%%cmdline:%~nx0=%%"
if not "%others%"=="%cmdline%" set "pause_at_end=1"
:started
set "lua=%~dp0lua\lua.exe"
if defined VEXLAN_LUA set "lua=%VEXLAN_LUA%"
if not exist "%lua%" (
  echo check: there is no Lua host %lua%
  goto failed
)
pushd "%~dp0"
"%lua%" -e "local ok, report = require('vexlan.check').run() io.write(report) os.exit(ok and 0 or 1)" <NUL
set "result=%errorlevel%"
popd
if not "%result%"=="0" (
  echo check: a step failed: its line says what to do.
  goto failed
)
echo check: every step passed.
if defined pause_at_end pause
exit /b 0

:failed
pause
exit /b 1
