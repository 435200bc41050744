// Where a failed scheduled run can be read afterwards, beyond standard
// error: Windows' Task Scheduler throws standard error away.
#pragma once

#include <string>

// Windows: writes `line` to the Application event log as an error of
// source "estacount", event ID 1. POSIX: nothing, as systemd's journal and
// cron's mail already keep standard error. Never fails the caller.
void log_failure(const std::string &line);
