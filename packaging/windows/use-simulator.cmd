@echo off
rem Makes vexlan use the simulated DirectOutput library, vexlan_sim.dll, from this file's folder: writes its
rem full path into the registry value DirectOutput under HKLM\SOFTWARE\Vexlan\DirectOutput, in the 64-bit
rem view of the registry that vexlan reads (/reg:64), also from a 32-bit prompt. Writing under HKLM needs an
rem administrator: right-click this file and choose "Run as administrator".
setlocal
set "sim=%~dp0vexlan_sim.dll"
set "key=HKLM\SOFTWARE\Vexlan\DirectOutput"
set "reg=%SystemRoot%\System32\reg.exe"
set "pause_at_end="
rem Started from Explorer, the window would close at the end: its command line names this file.
set "cmdline=%cmdcmdline%"
if not defined cmdline goto started
set "cmdline=%cmdline:"=%"
call set "others=%%cmdline:%~nx0=%%"
if not "%others%"=="%cmdline%" set "pause_at_end=1"
:started
if not exist "%sim%" (
  echo use-simulator: %sim% is missing: unpack the whole zip again.
  goto failed
)
"%reg%" add "%key%" /v DirectOutput /t REG_SZ /d "%sim%" /f /reg:64 >nul 2>&1
if errorlevel 1 (
  echo use-simulator: Windows refused to write %key%.
  echo This needs an administrator: right-click use-simulator.cmd and choose "Run as administrator",
  echo or run it from a command prompt opened with "Run as administrator".
  goto failed
)
echo vexlan now uses the simulator %sim%
echo To go back to the hardware, register DirectOutput.dll again (INSTALL.md, "Your own Lua host").
if defined pause_at_end pause
exit /b 0

:failed
pause
exit /b 1
