@echo off
rem collect.cmd DB SPOOL [LIST]: saves a fresh netstat listing as
rem SPOOL\netstatdump.log, has estacount add its counts to the database
rem DB (made by create-database.cmd with the same LIST), and waits until
rem "rrdtool lastupdate DB" shows that the sample landed. LIST, written as
rem for estacount, defaults to [POP3.SMTP.HTTP.FTP].
rem
rem Meant for the Task Scheduler, every five minutes (one line, from an
rem elevated prompt; /F replaces an older task of the same name):
rem   schtasks /Create /F /SC MINUTE /MO 5 /TN estacount /RU SYSTEM /TR "C:\estacount\collect.cmd C:\estacount\estacount.rrd C:\estacount\spool"
rem It runs ESTACOUNT if set, else the estacount.exe beside it, else
rem estacount.exe from PATH; rrdtool.exe must be on the task account's PATH.
rem With RRDCACHED_ADDRESS set, rrdtool reads the last update through
rem that daemon.
rem
rem Exit status, with one line on standard error whenever it is not 0:
rem   0  the sample landed: the database's last update moved on;
rem   2  refused before netstat ran: a LIST that is not [ names separated
rem      by dots ] or names no service, a missing database, one whose data
rem      sources are not the services LIST selects, in order, rrdtool not
rem      found, a folder where it cannot write its lock, or a last update
rem      it cannot read;
rem   3  no listing: netstat's output could not be saved, or is empty or
rem      lacks netstat's "Proto" header line; the old listing is kept and
rem      nothing is sent;
rem   4  the sample did not land within 5 seconds (the line says whether
rem      the database is read-only and, with RRDCACHED_ADDRESS, whether the
rem      daemon answered);
rem   5  another collect.cmd held the database's lock (DB.lock) for 30
rem      seconds; a run stopped before it could remove the file leaves it
rem      behind, and it must then be deleted by hand;
rem   -1 estacount refused (its message is on standard output).
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
rem cmd.exe's own "not recognized" would say nothing of what was lost.
set "found="
for %%d in ("." "%PATH:;=" "%") do for %%e in (%PATHEXT:;= %) do if exist "%%~d\rrdtool%%e" set "found=1"
if not defined found goto no_rrdtool
set "daemon="
if defined RRDCACHED_ADDRESS set "daemon= through the daemon at %RRDCACHED_ADDRESS% (RRDCACHED_ADDRESS): does it answer?"
rem The values go by position: rrdtool rejects an update whose count
rem differs from the database's, and one that fits the count but not the
rem names lands in the wrong sources. Neither would be seen.
set "sources="
for /f "tokens=2 delims=[]" %%a in ('rrdtool info "%DB%" 2^>nul ^| find "].index = "') do call :add_source %%a
if not defined sources goto no_sources
if not "%sources%"=="%wanted%" goto mismatch

rem --- one run at a time per database: rrdtool keeps one update a second,
rem so two runs at once could both see a later last update for one sample.
rem Renaming a file onto an existing name fails, so exactly one run gets
rem the lock; mkdir would not do, as wine's succeeds on an existing folder.
for %%F in ("%DB%") do set "lockname=%%~nxF.lock"
set "lock=%DB%.lock"
set "mine=%DB%.%RANDOM%%RANDOM%.new"
set /a tries=0
:take_lock
type nul > "%mine%"
if not exist "%mine%" goto no_lock_file
rem (Each outcome on its own line: wine's cmd.exe mistakes && and || after
rem a redirection.)
ren "%mine%" "%lockname%" 2> nul
if not errorlevel 1 goto locked
del "%mine%" 2> nul
if %tries% GEQ 30 goto busy
call :pause
set /a tries+=1
goto take_lock
:locked

rem The last update before the run, to tell a new sample from an old one.
call :last_update before
if not defined before goto no_last_update

rem --- the listing
rem A trailing \ before the closing quote would reach estacount as a quote.
if "%SPOOL:~-1%"=="\" set "SPOOL=%SPOOL:~0,-1%"
if not exist "%SPOOL%\" mkdir "%SPOOL%"
if not defined ESTACOUNT if exist "%~dp0estacount.exe" set "ESTACOUNT=%~dp0estacount.exe"
if not defined ESTACOUNT set "ESTACOUNT=estacount.exe"
rem Written aside and moved into place, so a run never reads a half-written
rem listing. A failed redirection leaves ERRORLEVEL alone, and a full disk
rem can leave an empty or cut file: only a listing with netstat's header
rem line replaces the old one, else a sample of zeros would be recorded.
del "%SPOOL%\netstatdump.tmp" 2> nul
netstat -an > "%SPOOL%\netstatdump.tmp"
if errorlevel 1 goto no_listing
if not exist "%SPOOL%\netstatdump.tmp" goto no_listing
set "header="
rem Only "Proto" is the same in every language Windows speaks.
for /f "usebackq tokens=1" %%a in ("%SPOOL%\netstatdump.tmp") do if "%%a"=="Proto" set "header=1"
if not defined header goto not_a_listing
move /Y "%SPOOL%\netstatdump.tmp" "%SPOOL%\netstatdump.log" > nul
if errorlevel 1 goto no_listing

rem For fillrrd, 1 means the update was started; estacount does not wait
rem for rrdtool, so only a later last update shows that it landed.
"%ESTACOUNT%" "%DB%" "%SPOOL%" "%LIST%" fillrrd
set "status=%ERRORLEVEL%"
if not "%status%"=="1" goto refused
set /a waited=0
:confirm
call :last_update after
if defined after if %after% GTR %before% goto landed
if %waited% GEQ 5 goto not_landed
call :pause
set /a waited+=1
goto confirm
:landed
del "%lock%" 2> nul
exit /b 0

rem :last_update NAME: sets NAME to the time of the database's last update,
rem or to nothing when rrdtool cannot tell.
:last_update
set "t="
for /f "tokens=1 delims=:" %%t in ('rrdtool lastupdate "%DB%" 2^>nul ^| find ":"') do set "t=%%t"
rem Only digits make a time that "if" compares as a number.
if defined t for /f "delims=0123456789" %%x in ("%t%x") do if not "%%x"=="x" set "t="
set "%1=%t%"
exit /b 0

rem About a second: ping waits one between its two echoes; timeout would
rem refuse the Task Scheduler's missing console. Named by its full path, so
rem that no search of the current folder and PATH can miss it or find
rem another ping there.
:pause
"%SystemRoot%\System32\ping.exe" -n 2 127.0.0.1 > nul
exit /b 0

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

:no_rrdtool
>&2 echo collect.cmd: rrdtool not found in the current folder or on PATH (check with: where rrdtool); no sample was sent
exit /b 2

:no_sources
>&2 echo collect.cmd: cannot read the data sources of "%DB%": rrdtool info failed%daemon%
exit /b 2

:mismatch
>&2 echo collect.cmd: LIST selects %wanted:~1% but "%DB%" has the data sources %sources:~1%, in that order
exit /b 2

:no_lock_file
>&2 echo collect.cmd: cannot write a lock file beside "%DB%" (is its folder writable?); no sample was sent
exit /b 2

:busy
>&2 echo collect.cmd: "%lock%" was held for 30 seconds: another collect.cmd is running, or one was stopped and left it (delete it then); no sample was sent
exit /b 5

rem From here on, this run holds the lock.
:no_last_update
del "%lock%" 2> nul
>&2 echo collect.cmd: cannot read the last update of "%DB%": rrdtool lastupdate failed%daemon%; no sample was sent
exit /b 2

:no_listing
del "%lock%" 2> nul
>&2 echo collect.cmd: the netstat listing could not be saved in "%SPOOL%"; no sample was sent
exit /b 3

:not_a_listing
del "%lock%" 2> nul
>&2 echo collect.cmd: netstat's output in "%SPOOL%\netstatdump.tmp" is empty or has no "Proto" header line (a full disk?); the old listing is kept and no sample was sent
exit /b 3

:refused
del "%lock%" 2> nul
>&2 echo collect.cmd: estacount exited with status %status%; no sample was sent
if "%status%"=="0" exit /b 4
exit /b %status%

:not_landed
del "%lock%" 2> nul
set "why=the last update stayed at %before%"
if not defined after set "why=rrdtool lastupdate failed afterwards"
for %%F in ("%DB%") do set "attributes=%%~aF"
set "access=the database is writable"
if "%attributes:~1,1%"=="r" set "access=the database is read-only"
rem rrdtool lastupdate falls back on the file when the daemon is away;
rem flushcached needs the daemon, and sends no sample.
set "answer="
if not defined RRDCACHED_ADDRESS goto say_lost
rrdtool flushcached "%DB%" > nul 2>&1
set "flushed=%ERRORLEVEL%"
set "answer=; the daemon at %RRDCACHED_ADDRESS% answers"
if not "%flushed%"=="0" set "answer=; the daemon at %RRDCACHED_ADDRESS% does not answer"
:say_lost
>&2 echo collect.cmd: the sample did not land in "%DB%" within 5 seconds: %why%; %access%%answer%
exit /b 4
