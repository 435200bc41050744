@echo off
rem create-database.cmd DB [LIST]: creates the round-robin database that
rem "estacount DB SPOOL LIST fillrrd" (or collect.cmd) updates every five
rem minutes. LIST, written as for estacount and [POP3.SMTP.HTTP.FTP] by
rem default, chooses the data sources: one per service it names, in
rem estacount's order POP3, SMTP, HTTP, FTP, named pop3 smtp http ftp.
rem It makes the folder of DB if needed, and never overwrites a file.
rem rrdtool.exe must be on PATH.
rem
rem Exit status, with one line on standard error whenever it is not 0:
rem   0  DB was made;
rem   2  refused before running rrdtool: a LIST it cannot read, a path
rem      estacount would refuse, an existing file, rrdtool not found, a
rem      folder it cannot make;
rem   3  rrdtool said it made DB, but there is no DB;
rem   otherwise rrdtool's status, after rrdtool's own ERROR line.
setlocal
rem Each word is taken as the command line wrote it, then stripped of its
rem quotes, so that no quote in it can change how the lines below are read.
set DB=%1
set LIST=%2
set EXTRA=%3
if defined EXTRA goto too_many
if defined DB set "DB=%DB:"=%"
if not defined DB goto usage
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

rem --- the database
rem estacount splits the path at spaces when it starts rrdtool, and refuses
rem one that cmd.exe could act on.
set "t=%DB: =%"
set "t=%t:!=%"
set "t=%t:^=%"
set "t=%t:&=%"
set "t=%t:|=%"
set "t=%t:<=%"
set "t=%t:>=%"
set "t=%t:(=%"
set "t=%t:)=%"
if not "%t%"=="%DB%" goto bad_path
if exist "%DB%" goto exists
rem cmd.exe's own "not recognized" would say nothing of what was lost.
set "found="
for %%d in ("." "%PATH:;=" "%") do for %%e in (%PATHEXT:;= %) do if exist "%%~d\rrdtool%%e" set "found=1"
if not defined found goto no_rrdtool
for %%F in ("%DB%") do set "folder=%%~dpF"
if not exist "%folder%" mkdir "%folder%"
if not exist "%folder%" goto no_folder

rem The update carries values by position, never by name, so the sources
rem follow estacount's order. GAUGE: each value is how many connections are
rem open at that moment. Step 300 s for a run every five minutes; heartbeat
rem 600 s so that one missed run leaves no gap. Archives: AVERAGE for the
rem trend and MAX for the peaks the average hides, a day of 5-minute points,
rem a month of 1-hour points and a year of 1-day points.
set "sources="
if defined pop3 set "sources=%sources% DS:pop3:GAUGE:600:0:U"
if defined smtp set "sources=%sources% DS:smtp:GAUGE:600:0:U"
if defined http set "sources=%sources% DS:http:GAUGE:600:0:U"
if defined ftp set "sources=%sources% DS:ftp:GAUGE:600:0:U"
rrdtool create "%DB%" --no-overwrite --step 300%sources% RRA:AVERAGE:0.5:1:288 RRA:AVERAGE:0.5:12:744 RRA:AVERAGE:0.5:288:366 RRA:MAX:0.5:1:288 RRA:MAX:0.5:12:744 RRA:MAX:0.5:288:366
if errorlevel 1 exit /b
if not exist "%DB%" goto not_made
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

:usage
>&2 echo usage: create-database.cmd DB [LIST]
exit /b 2

:too_many
>&2 echo create-database.cmd: too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage: create-database.cmd DB [LIST]
exit /b 2

:bad_list
>&2 echo create-database.cmd: LIST must be [ names separated by dots ], each POP3, SMTP, HTTP or FTP, in capitals or in lower case, such as [POP3.SMTP.HTTP.FTP]
exit /b 2

:empty_list
>&2 echo create-database.cmd: LIST names no service
exit /b 2

:bad_path
>&2 echo create-database.cmd: estacount cannot update a database whose path holds a space or one of ! ^^ ^& ^| ^< ^> ( ): "%DB%"
exit /b 2

:exists
>&2 echo create-database.cmd: "%DB%" already exists
exit /b 2

:no_rrdtool
>&2 echo create-database.cmd: rrdtool not found in the current folder or on PATH (check with: where rrdtool); no database was made
exit /b 2

:not_made
>&2 echo create-database.cmd: rrdtool create ended well, but there is no "%DB%"
exit /b 3

:no_folder
>&2 echo create-database.cmd: cannot make the folder "%folder%"
exit /b 2
