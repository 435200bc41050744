// Starting the update command: the one process the program starts.
#pragma once

#include <string>

enum class launch_result {
    started,      // running on its own; nobody waits for it
    not_started,  // the interpreter or rrdtool could not be started
    refused,      // the command holds text the interpreter would act on
};

// Runs `command`, an interpreter command line that begins with "/C ",
// without a window and without waiting for it. On POSIX no shell is involved:
// the text after "/C " is split at runs of spaces and the words are run
// directly, with stdin, stdout and stderr on /dev/null, in a session of their
// own, with the environment passed on unchanged.
launch_result start_hidden_command(const std::string &command);
