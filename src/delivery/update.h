// The fillrrd delivery: the counts become one sample in a round-robin
// database, written by rrdtool, which the program starts and does not wait for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/run_state.h"
#include "platform/process.h"

// True when the database is a regular file that opens for reading. Its
// contents are not looked at; rrdtool judges them.
bool check_database(const char *rrd_path);

// Why rrdtool would not take the database path as the one file that
// check_database passed. On Windows cmd.exe splits the update at spaces, and
// rrdcached's line protocol does everywhere, so a path with one
// becomes several words (" lead.rrd" updates "lead.rrd"; "x.rrd --daemon
// unix:SOCKET" sends the update to a socket the name chose); a path that
// begins with '-' becomes an option; a control character (below 0x20, or
// 0x7F) could also break the line protocol of rrdcached. The first byte of
// the path that is one of these decides; none when there is none.
enum class database_path_problem { none, space, leading_dash, control_character };
database_path_problem database_path_problem_of(std::string_view rrd_path);

// The sample of a run as rrdtool update takes it: "N", then the count texts
// of the selected services in table order, each after a colon.
std::string sample_text(const run_state &run);

// The update as the words rrdtool receives: "rrdtool", "update", the
// database path as given (a path that database_path_problem_of finds fault
// with is refused before any launch), and sample_text(run).
std::vector<std::string> update_words(const run_state &run);

// Starts the update hidden and returns without waiting for it. What rrdtool
// then does with the sample is its own affair. On not_started, `failure`
// names the program and why it did not start (see start_hidden_program).
launch_result launch_update(const std::vector<std::string> &words, std::string &failure);
