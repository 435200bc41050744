// The fillrrd delivery: the counts become one sample in a round-robin
// database, written by rrdtool, which the program starts and does not wait for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/run_state.h"
#include "platform/process.h"

// True when the database is a regular file that opens for reading. Its
// contents are not looked at; rrdtool judges them. On false, `why` receives
// the reason (see open_for_reading).
bool check_database(std::string_view rrd_path, std::string &why);

// The database-path rules, written once for estacount and estacount-kit;
// each refuses some of these faults, in an order of its own.
//   interpreter: cmd.exe, which reads the update on Windows, would act on a
//     character of the path (interpreter_would_act_on; never on POSIX).
//   space, leading_dash, control_character: rrdtool would not take the path
//     as the one file that check_database passed. On Windows cmd.exe splits
//     the update at spaces, and rrdcached's line protocol does everywhere,
//     so a path with one becomes several words (" lead.rrd" updates
//     "lead.rrd"; "x.rrd --daemon unix:SOCKET" sends the update to a socket
//     the name chose); a path that begins with '-' becomes an option; a
//     control character (below 0x20, or 0x7F) could also break the line
//     protocol of rrdcached. The first byte of the path that is one of these
//     decides, so at most one of the three is found.
//   empty, service_list (bracketed, as the service list is), keyword (one of
//     estacount's keywords v V ? help HELP): a path given where another
//     word was meant.
enum class path_fault { interpreter, space, leading_dash, control_character, empty, service_list, keyword };

// The faults of `rrd_path`, one bit each: bit (1 << path_fault) is set when
// the path has that fault. 0 when it has none.
using path_faults = unsigned;
path_faults database_path_faults(std::string_view rrd_path);

constexpr bool has_fault(path_faults faults, path_fault fault)
{
    return (faults >> static_cast<unsigned>(fault)) & 1u;
}

// The sample of a run as rrdtool update takes it: "N", then the count texts
// of the selected services in table order, each after a colon.
std::string sample_text(const run_state &run);

// The update as the words rrdtool receives: "rrdtool", "update", the
// database path as given (a path that database_path_faults finds fault
// with is refused before any launch), and sample_text(run).
std::vector<std::string> update_words(const run_state &run);

// Starts the update hidden and returns without waiting for it. What rrdtool
// then does with the sample is its own affair. On not_started, `failure`
// names the program and why it did not start (see start_hidden_program).
launch_result launch_update(const std::vector<std::string> &words, std::string &failure);
