@echo off
rem Runs an example (by default web_panel) with the live panels in the browser, at
rem http://127.0.0.1:8047/ (or the port in VEXLAN_SIM_WEB): watch them change, press their soft buttons,
rem turn pages, plug and unplug devices. Each Enter sends the example's panels a new frame; Ctrl+C ends it.
rem   run-example-web.cmd [NAME [ARGUMENTS...]]
setlocal
set "pause_at_end="
rem Started from Explorer, the window would close at the end: its command line names this file.
set "cmdline=%cmdcmdline%"
if not defined cmdline goto started
set "cmdline=%cmdline:"=%"
call set "others=%%cmdline:%~nx0=%%"
if not "%others%"=="%cmdline%" set "pause_at_end=1"
:started
if not defined VEXLAN_SIM_WEB set "VEXLAN_SIM_WEB=8047"
set "name=%~1"
if "%name%"=="" set "name=web_panel"
set "VEXLAN_RUN_WEB=1"
echo Open http://127.0.0.1:%VEXLAN_SIM_WEB%/ in your browser while the example runs.
if not defined VEXLAN_NO_BROWSER start "" "http://127.0.0.1:%VEXLAN_SIM_WEB%/"
call "%~dp0run-example.cmd" %name% %2 %3 %4 %5
if errorlevel 1 exit /b 1
if defined pause_at_end pause
