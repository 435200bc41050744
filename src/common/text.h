// Words of the command line, or another program's, as one line of standard
// error shows them.
#pragma once

#include <string>
#include <string_view>

// `word` with each control byte (below 0x20, or 0x7F) written as \xHH, so
// that one message stays one line on a terminal, in the journal and in
// cron's mail.
std::string shown(std::string_view word);
