@echo off
rem Starts the stand-in simulator's demo in a console of its own, then the
rem panel in this one; when the panel ends, the demo's console is closed.
cd /d "%~dp0"
start "qz3-standin demo" qz3-standin.exe --demo
vedrik.exe
taskkill /fi "WINDOWTITLE eq qz3-standin demo" >nul 2>&1
