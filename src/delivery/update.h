// The fillrrd delivery: the counts become one sample in a round-robin
// database, written by rrdtool, which the program starts and does not wait for.
#pragma once

#include <string>

#include "common/run_state.h"
#include "platform/process.h"

// True when the database is a regular file that opens for reading. Its
// contents are not looked at; rrdtool judges them.
bool check_database(const char *rrd_path);

// "/C rrdtool update ", the database path as given (unquoted, so a path
// with spaces reaches rrdtool as several words), " N:", then the count texts
// of the selected services in table order, joined by colons.
std::string build_update_command(const run_state &run);

// Starts the update command hidden and returns without waiting for it. What
// rrdtool then does with the sample is its own affair.
launch_result launch_update(const std::string &update_command);
