@echo off
rem Registers the simulated DirectOutput library beside this file for vexlan (needs an administrator's prompt).
reg add "HKLM\SOFTWARE\Vexlan\DirectOutput" /v DirectOutput /t REG_SZ /d "%~dp0vexlan_sim.dll" /f
