@echo off
rem Registers linkrelay.exe as the Windows service ZunaBluetoothService, or removes it.
rem   linkrelay-service.cmd install [path\to\linkrelay.exe]
rem       registers an own-process service that starts with the system (the program
rem       accepts the stop and shutdown controls), asks the service manager to restart it
rem       after a failure, and starts it. Without a path: linkrelay.exe beside this script.
rem   linkrelay-service.cmd remove
rem       stops the service, waits until it has stopped, and unregisters it.
rem Run from an elevated command prompt. The log goes to Public Documents\zevlog.
setlocal EnableExtensions
set "NAME=ZunaBluetoothService"
if /i "%~1"=="install" goto install
if /i "%~1"=="remove" goto remove
echo usage: %~nx0 install [path\to\linkrelay.exe] ^| remove
exit /b 2

:install
set "EXE=%~2"
if "%EXE%"=="" set "EXE=%~dp0linkrelay.exe"
if not exist "%EXE%" (
    echo %~nx0: %EXE% not found
    exit /b 1
)
for %%F in ("%EXE%") do set "EXE=%%~fF"
sc.exe create %NAME% binPath= "\"%EXE%\"" type= own start= auto DisplayName= "linkrelay BLE dongle service"
if errorlevel 1 exit /b 1
sc.exe failure %NAME% reset= 86400 actions= restart/5000/restart/5000/restart/60000 >nul 2>&1
if errorlevel 1 echo %~nx0: warning: could not set the restart-after-failure actions
sc.exe start %NAME%
if errorlevel 1 exit /b 1
exit /b 0

:remove
sc.exe query %NAME% >nul 2>&1
if errorlevel 1 (
    echo %~nx0: %NAME% is not installed
    exit /b 1
)
sc.exe stop %NAME% >nul 2>&1
rem A stop takes up to about 15 s when it comes while the dongle is being reset.
for /l %%I in (1,1,30) do (
    sc.exe query %NAME% | find "STOPPED" >nul && goto delete
    ping -n 2 127.0.0.1 >nul
)
echo %~nx0: %NAME% did not stop within 30 s
exit /b 1
:delete
sc.exe delete %NAME%
if errorlevel 1 exit /b 1
exit /b 0
