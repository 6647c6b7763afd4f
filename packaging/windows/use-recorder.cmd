@echo off
rem Puts the recording DirectOutput library beside this file between vexlan and the real library, or takes
rem it out again (needs an administrator's prompt).
rem   use-recorder.cmd on [TRACE]   record the next sessions into TRACE (default %USERPROFILE%\vexlan.trace)
rem   use-recorder.cmd off          vexlan loads the real library again
setlocal
set "key=HKLM\SOFTWARE\Vexlan\DirectOutput"
set "recorder=%~dp0vexlan_recorder.dll"
set "current="
for /f "tokens=2,*" %%a in ('reg query "%key%" /v DirectOutput 2^>nul ^| find "REG_SZ"') do set "current=%%b"
if /i "%~1"=="on" goto on
if /i "%~1"=="off" goto off
echo usage: use-recorder.cmd on [TRACE]  or  use-recorder.cmd off
exit /b 2

:on
if /i "%current%"=="%recorder%" (
  echo The recorder is already in place.
  exit /b 0
)
if "%current%"=="" (
  echo No DirectOutput library is registered: register the real one first, as INSTALL.md says.
  exit /b 1
)
set "trace=%~2"
if "%trace%"=="" set "trace=%USERPROFILE%\vexlan.trace"
reg add "%key%" /v RecordedLibrary /t REG_SZ /d "%current%" /f >nul
if errorlevel 1 exit /b 1
reg add "%key%" /v RecorderTrace /t REG_SZ /d "%trace%" /f >nul
if errorlevel 1 exit /b 1
reg add "%key%" /v DirectOutput /t REG_SZ /d "%recorder%" /f >nul
if errorlevel 1 exit /b 1
echo Recording: the next sessions are written to %trace%
echo (the real library: %current%). Run "use-recorder.cmd off" to stop.
exit /b 0

:off
set "real="
for /f "tokens=2,*" %%a in ('reg query "%key%" /v RecordedLibrary 2^>nul ^| find "REG_SZ"') do set "real=%%b"
if /i not "%current%"=="%recorder%" (
  echo The recorder is not in place.
  exit /b 0
)
if "%real%"=="" (
  echo The real library's path was not kept: register it again, as INSTALL.md says.
  exit /b 1
)
reg add "%key%" /v DirectOutput /t REG_SZ /d "%real%" /f >nul
if errorlevel 1 exit /b 1
reg delete "%key%" /v RecordedLibrary /f >nul
echo Not recording: vexlan loads %real% again.
exit /b 0
