@echo off
rem Collects the result lines tesmora-run.cmd left in a folder (one
rem COMPUTER.txt per computer) and counts them.
rem
rem   tesmora-collect.cmd FOLDER
rem
rem Prints every line, then "N clean, N found, N error". Exit code: 0 all
rem clean, 1 malware found somewhere, 2 an error somewhere or no result at all.
setlocal
if "%~1"=="" goto usage
set clean=0
set found=0
set error=0
if not exist "%~1\" goto usage
pushd "%~1"
for %%f in (*.txt) do call :count "%%f"
popd
echo %clean% clean, %found% found, %error% error
set /a total=clean+found+error
if %error% GTR 0 exit /b 2
if %total% EQU 0 exit /b 2
if %found% GTR 0 exit /b 1
exit /b 0

:count
set word=
for /f "usebackq tokens=1,2,3" %%a in (%1) do (
  echo %%a %%b %%c
  set word=%%b
)
if "%word%"=="clean" (set /a clean+=1) else if "%word%"=="found" (set /a found+=1) else (set /a error+=1)
goto :eof

:usage
echo usage: tesmora-collect.cmd FOLDER (an existing folder)
exit /b 2
