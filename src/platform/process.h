// Starting other programs: the update command, which the program starts and
// leaves, and the kit's rrdtool, which it waits for.
#pragma once

#include <string>
#include <string_view>
#include <vector>
#include <cstdint>

enum class launch_result {
    started,      // running on its own; nobody waits for it
    not_started,  // the interpreter or rrdtool could not be started
    refused,      // the command holds text the interpreter would act on
};

// True when the command interpreter that start_hidden_program hands its
// line to would act on some of `text`, which it then refuses. Always false
// on POSIX, where no interpreter reads the words; on Windows, as for refused
// below. Lets a caller put this refusal before its own checks.
bool interpreter_would_act_on(std::string_view text);

// Runs `words` (words[0] the program, the rest its arguments) without a
// window and without waiting for it. On POSIX no shell is involved: the
// words are run directly, each reaching the program whole, with stdin,
// stdout and stderr on /dev/null, in a session of their own, with the
// environment passed on unchanged.
//
// On Windows the words, joined by single spaces and unquoted, go to a
// hidden cmd.exe as its "/C ..." line. refused: that line holds one of
// " % ! ^ & | < > ( ) or a control character (below 0x20, or 0x7F), which
// cmd.exe would act on; nothing is started. not_started: cmd.exe would find
// no program by words[0] (looked for in the current folder, then each PATH
// folder, with each PATHEXT extension), or cmd.exe itself did not start.
// Either way nothing is started. The caller keeps spaces out of the words
// it means whole, as cmd.exe splits the line at them again.
//
// not_started also when `words` is empty. `failure` then receives the
// program that did not start and why, for a person: "rrdtool: No such file
// or directory" (POSIX: the system's text for the spawn's error number),
// "rrdtool: not found in the current folder or on PATH" (Windows). It is
// left as it was otherwise.
launch_result start_hidden_program(const std::vector<std::string> &words, std::string &failure);

// A program run to its end, for the kit: started, waited for, its words kept.
struct program_result {
    enum outcome_kind { exited, not_started, timed_out } outcome = not_started;
    int status = -1;     // its exit status, when it exited
    std::string output;  // what it wrote on stderr, and on stdout unless that
                         // went to a file; or why it did not start
};

// Runs `words` (words[0] the program, the rest its arguments, each reaching
// it whole) with standard input from the null device and no window, and
// waits for it, `seconds` at most, after which it is killed (timed_out).
// Its standard output goes to the file `stdout_file` (a handle from
// create_unique_file) when that is not -1, else into `output` with its
// standard error.
//
// POSIX: words[0] is looked up on PATH as execvp does, no shell involved.
// Windows: CreateProcessW with a command line quoted as the C runtime
// splits it; words[0] is looked for only in the absolute folders of PATH
// (quotes removed), never in the current folder, with each extension of
// PATHEXT in turn: the first found runs if it is a .exe or .com; a .bat or
// .cmd is not_started ("rrdtool: C:\x\rrdtool.cmd is a batch file: ...").
// not_started: nothing ran, and `output` says why, for a person.
program_result run_program(const std::vector<std::string> &words, unsigned seconds,
                           std::intptr_t stdout_file = -1);

// This machine's name, for the graph's title (gethostname,
// GetComputerNameA); "this host" where the system gives none.
std::string host_name();
