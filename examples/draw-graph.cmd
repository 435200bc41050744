@echo off
rem draw-graph.cmd DB PNG [START]: draws into PNG the services of a database
rem made by create-database.cmd (whichever of pop3, smtp, http and ftp it
rem has), from START (default end-1d, any rrdtool time such as end-1w or
rem end-1y) until now. The legend gives each service's last value and its
rem average, from the AVERAGE archives, and its maximum, from the MAX
rem archives. It makes the folder of PNG if needed, and draws into a new
rem file beside PNG that then replaces it, so that a reader never sees half
rem an image. rrdtool.exe must be on PATH.
rem
rem Every fifteen minutes with the Task Scheduler (one line, from an
rem elevated prompt; /F replaces an older task of the same name):
rem   schtasks /Create /F /SC MINUTE /MO 15 /ST 00:02 /TN estacount-graph /RU SYSTEM /TR "C:\estacount\draw-graph.cmd C:\estacount\estacount.rrd C:\estacount\www\estacount.png"
rem
rem Exit status, with one line on standard error whenever it is not 0:
rem   0  PNG was drawn and is in place;
rem   2  refused before drawing: no database, rrdtool not found, none of
rem      the four data sources, a PNG folder it cannot make;
rem   3  the new image could not replace PNG (the old one is kept);
rem   otherwise rrdtool's status, after rrdtool's own ERROR line.
setlocal
rem Each word is taken as the command line wrote it, then stripped of its
rem quotes, so that no quote in it can change how the lines below are read.
set DB=%1
set PNG=%2
set START=%3
set EXTRA=%4
if defined EXTRA goto too_many
if defined DB set "DB=%DB:"=%"
if defined PNG set "PNG=%PNG:"=%"
if not defined DB goto usage
if not defined PNG goto usage
if defined START set "START=%START:"=%"
if not defined START set "START=end-1d"

if not exist "%DB%" goto no_database
rem cmd.exe's own "not recognized" would say nothing of what was lost.
set "found="
for %%d in ("." "%PATH:;=" "%") do for %%e in (%PATHEXT:;= %) do if exist "%%~d\rrdtool%%e" set "found=1"
if not defined found goto no_rrdtool
for /f "tokens=2 delims=[]" %%a in ('rrdtool info "%DB%" 2^>nul ^| find "].index = "') do set "ds_%%a=1"
rem rrdtool splits DEF lines at colons, so the colon of a drive is escaped.
set "def=%DB::=\:%"
for %%F in ("%PNG%") do set "folder=%%~dpF"
set "new=%PNG%.new.png"
rem The legend's formats hold %: wine's cmd.exe expands a % that comes out
rem of a %variable% again, and takes %4 as a parameter, while neither
rem cmd.exe expands what comes out of a !variable! again. So from here on
rem every value is read with ! (the paths were stored before, so a ! in
rem them stays as it is).
setlocal enabledelayedexpansion
set "lines="
if defined ds_pop3 call :add pop3 "POP3 " 1f77b4
if defined ds_smtp call :add smtp "SMTP " ff7f0e
if defined ds_http call :add http "HTTP " 2ca02c
if defined ds_ftp call :add ftp "FTP  " d62728
if not defined lines goto no_sources

if not exist "!folder!" mkdir "!folder!"
if not exist "!folder!" goto no_folder
rem Connections come whole: labels without decimals or k, and an axis of
rem at least 0 to 10 (--upper-limit without --rigid), as over a smaller
rem range rrdtool steps by halves, which the labels would round to pairs.
rem rrdtool prints the image size; the PNG is what matters.
rrdtool graph "!new!" --start "!START!" --end now --imgformat PNG --title "Established connections on !COMPUTERNAME!" --vertical-label connections --width 600 --height 200 --lower-limit 0 --upper-limit 10 --left-axis-format %%.0lf --units-exponent 0 !lines! > nul
if errorlevel 1 exit /b
move /Y "!new!" "!PNG!" > nul
if errorlevel 1 goto not_moved
exit /b 0

rem :add NAME LABEL COLOUR: the line is drawn from the averages; the maximum
rem comes from the MAX archives, as over a week or more averaging flattens
rem the peaks.
:add
set lines=!lines! "DEF:%1=!def!:%1:AVERAGE" "DEF:%1peak=!def!:%1:MAX" "VDEF:%1last=%1,LAST" "VDEF:%1avg=%1,AVERAGE" "VDEF:%1max=%1peak,MAXIMUM" "LINE2:%1#%3:%~2" "GPRINT:%1last:last %%4.0lf" "GPRINT:%1avg:average %%6.1lf" "GPRINT:%1max:max %%4.0lf\l"
exit /b 0

:usage
>&2 echo usage: draw-graph.cmd DB PNG [START]
exit /b 2

:too_many
>&2 echo draw-graph.cmd: too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage: draw-graph.cmd DB PNG [START]
exit /b 2

:no_database
>&2 echo draw-graph.cmd: no database at "%DB%"
exit /b 2

:no_rrdtool
>&2 echo draw-graph.cmd: rrdtool not found in the current folder or on PATH (check with: where rrdtool); nothing was drawn
exit /b 2

:no_sources
>&2 echo draw-graph.cmd: "!DB!" has none of the data sources pop3, smtp, http, ftp; nothing was drawn
exit /b 2

:no_folder
>&2 echo draw-graph.cmd: cannot make the folder "!folder!"
exit /b 2

:not_moved
del "!new!" 2> nul
>&2 echo draw-graph.cmd: the new image could not replace "!PNG!"; the old one is kept
exit /b 3
