@echo off
rem draw-graph.cmd DB PNG [START]: draws into PNG the services of a database
rem made by create-database.cmd (whichever of pop3, smtp, http and ftp it
rem has), from START (default end-1d, any rrdtool time such as end-1w or
rem end-1y) until now. The legend gives each service's last value and its
rem average, from the AVERAGE archives, and its maximum, from the MAX
rem archives. It makes the folder of PNG if needed. rrdtool.exe must be on
rem PATH.
rem
rem Exit status: rrdtool's; 2 when it refused before drawing.
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
for /f "tokens=2 delims=[]" %%a in ('rrdtool info "%DB%" 2^>nul ^| find "].index = "') do set "ds_%%a=1"
rem rrdtool splits DEF lines at colons, so the colon of a drive is escaped.
set "def=%DB::=\:%"
set "lines="
if defined ds_pop3 call :add pop3 "POP3 " 1f77b4
if defined ds_smtp call :add smtp "SMTP " ff7f0e
if defined ds_http call :add http "HTTP " 2ca02c
if defined ds_ftp call :add ftp "FTP  " d62728
if not defined lines goto no_sources

for %%F in ("%PNG%") do set "folder=%%~dpF"
if not exist "%folder%" mkdir "%folder%"
if not exist "%folder%" goto no_folder
rem rrdtool prints the image size; the PNG is what matters.
rrdtool graph "%PNG%" --start "%START%" --end now --imgformat PNG --title "Established connections" --vertical-label connections --width 600 --height 200 --lower-limit 0%lines% > nul
exit /b %ERRORLEVEL%

rem :add NAME LABEL COLOUR: the line is drawn from the averages; the maximum
rem comes from the MAX archives, as over a week or more averaging flattens
rem the peaks.
:add
set lines=%lines% "DEF:%1=%def%:%1:AVERAGE" "DEF:%1peak=%def%:%1:MAX" "VDEF:%1last=%1,LAST" "VDEF:%1avg=%1,AVERAGE" "VDEF:%1max=%1peak,MAXIMUM" "LINE2:%1#%3:%~2" "GPRINT:%1last:last %%4.0lf" "GPRINT:%1avg:average %%6.1lf" "GPRINT:%1max:max %%4.0lf\l"
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

:no_sources
>&2 echo draw-graph.cmd: "%DB%" has none of the data sources pop3, smtp, http, ftp (or rrdtool.exe is not on PATH)
exit /b 2

:no_folder
>&2 echo draw-graph.cmd: cannot make the folder "%folder%"
exit /b 2
