// The whole run, from the command-line words to the exit status.
#pragma once

// Checks the words, counts the dump and delivers the counts, printing any
// refusal on standard output. Returns the exit status: 0 when the usage or
// the version was printed, 1 when the run reached its delivery, -1 when it
// was refused or failed, or when the usage, the version or the report did
// not reach standard output.
int run_command_line(int argc, char **argv);
