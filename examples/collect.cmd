@echo off
rem collect.cmd DB SPOOL [LIST]: saves a fresh netstat listing as
rem SPOOL\netstatdump.log and has estacount add its counts to the database
rem DB. LIST defaults to [POP3.SMTP.HTTP.FTP]; a shorter list needs a
rem database with just those sources, in that order.
rem
rem Meant for the Task Scheduler, every five minutes (one line):
rem   schtasks /Create /SC MINUTE /MO 5 /TN estacount /RU SYSTEM /TR "C:\estacount\collect.cmd C:\estacount\estacount.rrd C:\estacount\spool"
rem estacount.exe (or ESTACOUNT=C:\path\to\estacount.exe) and rrdtool.exe
rem must be on the task account's PATH. estacount starts rrdtool through
rem cmd.exe and does not wait for it: a missing rrdtool is reported, but an
rem update that rrdtool itself rejects goes unseen.
rem
rem Exit status: 0 when estacount started the update, 1 when it refused or
rem failed, 2 on misuse.
setlocal
if "%~2"=="" goto usage
set "DB=%~1"
set "SPOOL=%~2"
set "LIST=%~3"
if not defined LIST set "LIST=[POP3.SMTP.HTTP.FTP]"
rem A trailing \ before the closing quote would reach estacount as a quote.
if "%SPOOL:~-1%"=="\" set "SPOOL=%SPOOL:~0,-1%"
if not defined ESTACOUNT set "ESTACOUNT=estacount.exe"

rem Written aside and moved into place, so a run never reads a half-written
rem listing; if netstat fails, no stale sample is sent. Add -p tcp to list
rem IPv4 only if link-local IPv6 lines upset the counts. A failed redirection
rem leaves ERRORLEVEL alone, hence the test that the file exists.
del "%SPOOL%\netstatdump.tmp" 2> nul
netstat -an > "%SPOOL%\netstatdump.tmp"
if errorlevel 1 goto failed
if not exist "%SPOOL%\netstatdump.tmp" goto failed
move /Y "%SPOOL%\netstatdump.tmp" "%SPOOL%\netstatdump.log" > nul
if errorlevel 1 goto failed

rem For fillrrd, 1 is success (the update was started).
"%ESTACOUNT%" "%DB%" "%SPOOL%" "%LIST%" fillrrd
if not "%ERRORLEVEL%"=="1" goto failed
exit /b 0

:failed
echo collect.cmd: no sample was sent 1>&2
exit /b 1

:usage
echo usage: collect.cmd DB SPOOL [LIST] 1>&2
exit /b 2
