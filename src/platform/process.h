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

// True when the command interpreter that start_hidden_command hands
// `command` to would act on some of its text, which it then refuses. Always
// false on POSIX, where no interpreter reads the text; on Windows, as for
// refused below. Lets a caller put this refusal before its own checks.
bool interpreter_would_act_on(std::string_view command);

// Runs `command`, an interpreter command line that begins with "/C ",
// without a window and without waiting for it. On POSIX no shell is involved:
// the text after "/C " is split at runs of spaces and the words are run
// directly, with stdin, stdout and stderr on /dev/null, in a session of their
// own, with the environment passed on unchanged (the caller keeps spaces out
// of the words it means whole).
//
// On Windows the whole text goes to a hidden cmd.exe, unquoted. refused: the
// text holds one of " % ! ^ & | < > ( ) or a control character (below 0x20,
// or 0x7F), which cmd.exe would act on; nothing is started. not_started:
// cmd.exe would find no program by the first word after "/C " (looked for in
// the current folder, then each PATH folder, with each PATHEXT extension), or
// cmd.exe itself did not start. Either way nothing is started.
//
// On not_started, `failure` receives the program that did not start and why,
// for a person: "rrdtool: No such file or directory" (POSIX: the system's
// text for the spawn's error number), "rrdtool: not found in the current
// folder or on PATH" (Windows). It is left as it was otherwise.
launch_result start_hidden_command(const std::string &command, std::string &failure);

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
