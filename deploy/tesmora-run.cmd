@echo off
rem Runs tesmora.exe from this batch file's folder unattended, for a start-up
rem script, PsExec, or a software distribution package.
rem
rem   tesmora-run.cmd [OUTDIR [OPTION...]]
rem
rem OUTDIR (default %TEMP%) receives %COMPUTERNAME%.log (the log),
rem %COMPUTERNAME%.json (the report) and %COMPUTERNAME%.txt, one line
rem "%COMPUTERNAME% clean|found|error CODE" (CODE: tesmora.exe's exit code),
rem which is also printed. OPTIONs (up to eight, e.g. /SCANONLY or drive
rem letters) are passed on to tesmora.exe.
rem
rem Exit code: 0 clean, 1 malware found (removed, or with /SCANONLY only
rem detected), 2 error (tesmora.exe ended with a negative code, or did not run).
setlocal
set "out=%~1"
if "%out%"=="" set "out=%TEMP%"
if "%out:~-1%"=="\" set "out=%out:~0,-1%"
if not exist "%out%\" mkdir "%out%"
if not exist "%out%\" goto nofolder

"%~dp0tesmora.exe" /SILENT /LOG "%out%\%COMPUTERNAME%.log" /REPORT "%out%\%COMPUTERNAME%.json" %2 %3 %4 %5 %6 %7 %8 %9
set code=%ERRORLEVEL%
rem Negative codes are errors; "if errorlevel 1" would not see them.
if %code% LSS 0 goto error
if %code% EQU 0 goto clean
if %code% EQU 1 goto found
goto error

:clean
set result=clean
set rc=0
goto summary

:found
set result=found
set rc=1
goto summary

:error
set result=error
set rc=2
goto summary

:nofolder
echo %COMPUTERNAME% error: cannot create %out%
exit /b 2

:summary
echo %COMPUTERNAME% %result% %code%
>"%out%\%COMPUTERNAME%.txt" echo %COMPUTERNAME% %result% %code%
exit /b %rc%
