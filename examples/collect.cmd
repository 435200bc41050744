@echo off
rem collect.cmd DB SPOOL [LIST]: saves a fresh netstat listing as
rem SPOOL\netstatdump.log and has estacount add its counts to the database
rem DB (made by create-database.cmd with the same LIST). LIST, written as
rem for estacount, defaults to [POP3.SMTP.HTTP.FTP].
rem
rem Meant for the Task Scheduler, every five minutes (one line):
rem   schtasks /Create /SC MINUTE /MO 5 /TN estacount /RU SYSTEM /TR "C:\estacount\collect.cmd C:\estacount\estacount.rrd C:\estacount\spool"
rem It runs ESTACOUNT if set, else the estacount.exe beside it, else
rem estacount.exe from PATH; rrdtool.exe must be on the task account's PATH.
rem
rem Before it runs netstat, it refuses (status 2, a message on standard
rem error) a LIST that is not [ names separated by dots ] or names no
rem service, a missing database, and one whose data sources are not the
rem services LIST selects, in order.
rem
rem Exit status: estacount's, passed on: 1 when the update was started
rem (estacount does not wait for rrdtool: "rrdtool lastupdate DB" shows the
rem last sample that landed), -1 when estacount refused; 2 when collect.cmd
rem refused; 3 when the listing could not be saved.
setlocal
rem Each word is taken as the command line wrote it, then stripped of its
rem quotes, so that no quote in it can change how the lines below are read.
set DB=%1
set SPOOL=%2
set LIST=%3
set EXTRA=%4
if defined EXTRA goto too_many
if defined DB set "DB=%DB:"=%"
if defined SPOOL set "SPOOL=%SPOOL:"=%"
if not defined DB goto usage
if not defined SPOOL goto usage
if defined LIST set "LIST=%LIST:"=%"
if not defined LIST set "LIST=[POP3.SMTP.HTTP.FTP]"

rem --- the list: [ names separated by dots ], each name whole, in capitals
rem or in lower case. What cannot be read for sure is refused.
rem Nothing but brackets, dots and the letters of the names may remain.
set "rest="
for /f "tokens=1* delims=[].POP3SMTHFposmthf" %%a in ("#%LIST%") do set "rest=%%a%%b"
if not "%rest%"=="#" goto bad_list
if not "%LIST:~0,1%"=="[" goto bad_list
if not "%LIST:~-1%"=="]" goto bad_list
set "names=%LIST:~1,-1%"
if not defined names goto empty_list
if "%names:~0,1%"=="." goto bad_list
if "%names:~-1%"=="." goto bad_list
if not "%names:..=%"=="%names%" goto bad_list
set "bad="
for %%n in (%names:.= %) do call :take_name %%n
if defined bad goto bad_list
set "wanted="
if defined pop3 set "wanted=%wanted%.pop3"
if defined smtp set "wanted=%wanted%.smtp"
if defined http set "wanted=%wanted%.http"
if defined ftp set "wanted=%wanted%.ftp"

rem --- the database: estacount would split its path at a space.
if not "%DB: =%"=="%DB%" goto bad_path
if not exist "%DB%" goto no_database
rem The values go by position: rrdtool rejects an update whose count
rem differs from the database's, and one that fits the count but not the
rem names lands in the wrong sources. Neither would be seen.
set "sources="
for /f "tokens=2 delims=[]" %%a in ('rrdtool info "%DB%" 2^>nul ^| find "].index = "') do call :add_source %%a
if not defined sources goto no_sources
if not "%sources%"=="%wanted%" goto mismatch

rem --- the listing
rem A trailing \ before the closing quote would reach estacount as a quote.
if "%SPOOL:~-1%"=="\" set "SPOOL=%SPOOL:~0,-1%"
if not exist "%SPOOL%\" mkdir "%SPOOL%"
if not defined ESTACOUNT if exist "%~dp0estacount.exe" set "ESTACOUNT=%~dp0estacount.exe"
if not defined ESTACOUNT set "ESTACOUNT=estacount.exe"
rem Written aside and moved into place, so a run never reads a half-written
rem listing; if netstat fails, no stale sample is sent. A failed
rem redirection leaves ERRORLEVEL alone, hence the test that the file exists.
del "%SPOOL%\netstatdump.tmp" 2> nul
netstat -an > "%SPOOL%\netstatdump.tmp"
if errorlevel 1 goto no_listing
if not exist "%SPOOL%\netstatdump.tmp" goto no_listing
move /Y "%SPOOL%\netstatdump.tmp" "%SPOOL%\netstatdump.log" > nul
if errorlevel 1 goto no_listing

rem For fillrrd, 1 is success (the update was started).
"%ESTACOUNT%" "%DB%" "%SPOOL%" "%LIST%" fillrrd
set "status=%ERRORLEVEL%"
if not "%status%"=="1" >&2 echo collect.cmd: estacount exited with status %status%; no sample was sent
exit /b %status%

:take_name
if "%~1"=="POP3" set "pop3=1" & exit /b 0
if "%~1"=="pop3" set "pop3=1" & exit /b 0
if "%~1"=="SMTP" set "smtp=1" & exit /b 0
if "%~1"=="smtp" set "smtp=1" & exit /b 0
if "%~1"=="HTTP" set "http=1" & exit /b 0
if "%~1"=="http" set "http=1" & exit /b 0
if "%~1"=="FTP" set "ftp=1" & exit /b 0
if "%~1"=="ftp" set "ftp=1" & exit /b 0
set "bad=1"
exit /b 0

:add_source
set "sources=%sources%.%~1"
exit /b 0

:usage
>&2 echo usage: collect.cmd DB SPOOL [LIST]
exit /b 2

:too_many
>&2 echo collect.cmd: too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage: collect.cmd DB SPOOL [LIST]
exit /b 2

:bad_list
>&2 echo collect.cmd: LIST must be [ names separated by dots ], each POP3, SMTP, HTTP or FTP, in capitals or in lower case, such as [POP3.SMTP.HTTP.FTP]
exit /b 2

:empty_list
>&2 echo collect.cmd: LIST names no service
exit /b 2

:bad_path
>&2 echo collect.cmd: estacount would split a database path that holds a space: "%DB%"
exit /b 2

:no_database
>&2 echo collect.cmd: no database at "%DB%" (create-database.cmd makes one)
exit /b 2

:no_sources
>&2 echo collect.cmd: cannot read the data sources of "%DB%": rrdtool info failed, or rrdtool.exe is not on PATH
exit /b 2

:mismatch
>&2 echo collect.cmd: LIST selects %wanted:~1% but "%DB%" has the data sources %sources:~1%, in that order
exit /b 2

:no_listing
>&2 echo collect.cmd: the netstat listing could not be saved in "%SPOOL%"; no sample was sent
exit /b 3
