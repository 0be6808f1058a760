@echo off
rem Registers kkmbridge's two Task Scheduler tasks, "kkmbridge import" and
rem "kkmbridge export": every 15 minutes, no new instance while one still
rem runs, stopped after one hour, started in this folder (where the log and
rem dump files of debug mode go). Run it from an administrator's command
rem prompt, in the folder that holds kkmbridge.exe.
rem
rem   install-tasks.cmd                asks for the files and the account, registers both
rem   install-tasks.cmd /uninstall     removes both tasks
rem   install-tasks.cmd /print FOLDER  writes both task files into FOLDER, registers nothing
rem                                    (KKM_CONFIG, KKM_IMPORT_FILE, KKM_EXPORT_FILE and
rem                                    KKM_ACCOUNT give the values instead of questions)
setlocal EnableExtensions DisableDelayedExpansion
rem UTF-8, so that a folder outside the console's code page reaches the task files intact.
chcp 65001 > nul
set "folder=%~dp0"
if "%folder:~-1%"=="\" set "folder=%folder:~0,-1%"
set "template=%folder%\kkmbridge-task.xml"

if /i "%~1"=="/uninstall" goto uninstall
set "print="
if /i "%~1"=="/print" set "print=%~2"
if /i "%~1"=="/print" if not defined print (
  echo usage: install-tasks.cmd /print FOLDER
  exit /b 1
)
if not exist "%folder%\kkmbridge.exe" (
  echo install-tasks: kkmbridge.exe is not in %folder%; run this script from the folder that holds it
  exit /b 1
)
if not exist "%template%" (
  echo install-tasks: %template% is missing; unpack the whole release into one folder
  exit /b 1
)

set "config=%KKM_CONFIG%"
set "importfile=%KKM_IMPORT_FILE%"
set "exportfile=%KKM_EXPORT_FILE%"
set "account=%KKM_ACCOUNT%"
if not defined config set "config=%folder%\config.xml"
if not defined importfile set "importfile=C:\1C\exchange\ImportData.xml"
if not defined exportfile set "exportfile=C:\1C\exchange\ExportData.xml"
if not defined account set "account=%USERDOMAIN%\%USERNAME%"
if defined print goto checked

echo The tasks run kkmbridge.exe from %folder%.
echo Press Enter to take the value in brackets.
call :ask config "Configuration file"
call :ask importfile "ImportData file of 1C's exchange folder (import)"
call :ask exportfile "ExportData file of 1C's exchange folder (export)"
echo The account the tasks run as must be allowed to write the exchange folder and
echo this folder, and to read the configuration; not SYSTEM.
call :ask account "Account the tasks run as"

:checked
for %%V in (config importfile exportfile account) do call :plain %%V || exit /b 1
for %%A in ("SYSTEM" "NT AUTHORITY\SYSTEM" "LocalSystem" ".\SYSTEM") do (
  if /i "%account%"==%%A (
    echo install-tasks: the tasks must not run as SYSTEM: give the account that may write the exchange folder
    exit /b 1
  )
)

if defined print goto print

echo schtasks asks for the account's password once per task.
for %%M in (import export) do (
  call :register %%M || exit /b 1
)
echo install-tasks: both tasks are registered; see them with: schtasks /Query /TN "kkmbridge import" /V /FO LIST
exit /b 0

:register
set "mode=%~1"
set "exchange=%importfile%"
if "%mode%"=="export" set "exchange=%exportfile%"
set "xml=%TEMP%\kkmbridge-%mode%-task.xml"
call :write %mode% "%exchange%" "%xml%" || exit /b 1
schtasks /Create /TN "kkmbridge %mode%" /XML "%xml%" /RU "%account%" /RP * /F
set "code=%errorlevel%"
del "%xml%" > nul 2>&1
if not "%code%"=="0" (
  echo install-tasks: schtasks could not register "kkmbridge %mode%" ^(error %code%^)
  exit /b 1
)
exit /b 0

:print
if not exist "%print%\" mkdir "%print%" || exit /b 1
call :write import "%importfile%" "%print%\kkmbridge-import.xml" || exit /b 1
call :write export "%exportfile%" "%print%\kkmbridge-export.xml" || exit /b 1
echo install-tasks: wrote "%print%\kkmbridge-import.xml" and "%print%\kkmbridge-export.xml"
exit /b 0

:uninstall
set "failed=0"
for %%M in (import export) do (
  schtasks /Delete /TN "kkmbridge %%M" /F || set "failed=1"
)
if "%failed%"=="1" exit /b 1
echo install-tasks: both tasks are removed
exit /b 0

rem :ask NAME "QUESTION": asks, keeps the variable's value when the answer is empty.
:ask
setlocal EnableDelayedExpansion
set "answer="
set /p "answer=%~2 [!%~1!]: "
if not defined answer set "answer=!%~1!"
endlocal & set "%~1=%answer%"
exit /b 0

rem :plain NAME: the value is not empty and holds none of the characters that
rem would change the task file's XML (written through a file: cmd itself would
rem act on them).
:plain
if not defined %~1 (
  echo install-tasks: %~1 is empty
  exit /b 1
)
set %~1> "%TEMP%\kkmbridge-value.txt"
findstr /r /c:"[&<>]" "%TEMP%\kkmbridge-value.txt" > nul
set "found=%errorlevel%"
del "%TEMP%\kkmbridge-value.txt" > nul 2>&1
if "%found%"=="0" (
  echo install-tasks: %~1 holds one of the characters ^& ^< ^>; use a value without them
  exit /b 1
)
exit /b 0

rem :write MODE EXCHANGE_FILE OUT: the task file of one mode, from the template.
:write
set "mode=%~1"
set "exchange=%~2"
(for /f "usebackq eol=# delims=" %%L in ("%template%") do (
  set "line=%%L"
  call :emit
)) > "%~3" || (
  echo install-tasks: %~3 could not be written
  exit /b 1
)
exit /b 0

:emit
setlocal EnableDelayedExpansion
set "line=!line:@MODE@=%mode%!"
set "line=!line:@FOLDER@=%folder%!"
set "line=!line:@CONFIG@=%config%!"
set "line=!line:@EXCHANGE@=%exchange%!"
set "line=!line:@ACCOUNT@=%account%!"
echo(!line!
endlocal
exit /b 0
