@echo off
rem Runs an example from the examples folder against the simulated devices, with its scenario when it has
rem one; the panels' pictures and panels.log go to %TEMP%\vexlan-out (or VEXLAN_SIM_OUTPUT).
rem   run-example.cmd [NAME [ARGUMENTS...]]     NAME: hotplug, simulated_session, ... (asked for when missing)
rem The Lua host is lua\lua.exe from this folder, or the program that VEXLAN_LUA names.
rem   run-example-web.cmd [NAME]                the same with the live panels in the browser
setlocal
set "here=%~dp0"
set "pause_at_end="
rem Started from Explorer, the window would close at the end: its command line names this file.
set "cmdline=%cmdcmdline%"
if not defined cmdline goto started
set "cmdline=%cmdline:"=%"
call set "others=%%cmdline:%~nx0=%%"
if not "%others%"=="%cmdline%" set "pause_at_end=1"
:started
set "name=%~1"
if not "%name%"=="" goto named
echo Examples:
for %%f in ("%here%examples\*.lua") do echo   %%~nf
set /p "name=Which one? "
:named
if not exist "%here%examples\%name%.lua" (
  echo run-example: there is no example "%name%" in %here%examples
  goto failed
)
set "lua=%here%lua\lua.exe"
if defined VEXLAN_LUA set "lua=%VEXLAN_LUA%"
if not exist "%lua%" (
  echo run-example: there is no Lua host %lua%
  goto failed
)
rem From this folder, the host's default paths (.\?.dll, .\?.lua) find vexlan and vexlan_sim here.
pushd "%here%"
rem vexlan_sim opens only when it is the library the registry names; else this folder's is registered.
"%lua%" -e "require 'vexlan_sim'" >nul 2>&1 <NUL
if not errorlevel 1 goto registered
call "%here%use-simulator.cmd"
if errorlevel 1 (
  popd
  exit /b 1
)
:registered
if not defined VEXLAN_SIM_OUTPUT set "VEXLAN_SIM_OUTPUT=%TEMP%\vexlan-out"
set "VEXLAN_SIM_SCENARIO="
if exist "examples\%name%.scenario" set "VEXLAN_SIM_SCENARIO=examples\%name%.scenario"
if defined VEXLAN_RUN_WEB (
  "%lua%" "examples\%name%.lua" %2 %3 %4 %5
) else (
  "%lua%" "examples\%name%.lua" %2 %3 %4 %5 <NUL
)
set "result=%errorlevel%"
popd
echo The panels' pictures and panels.log are in %VEXLAN_SIM_OUTPUT%
if not "%result%"=="0" (
  echo run-example: the example stopped with an error, above. check.cmd tells which step of the set-up fails.
  goto failed
)
if defined pause_at_end pause
exit /b 0

:failed
pause
exit /b 1
