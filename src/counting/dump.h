// Loading the dump that netstat wrote into the spool folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/file.h"

// The spool folder text, the platform's separator, then netstatdump.log.
// Nothing is trimmed from or added to the folder text, so a trailing
// separator is doubled.
std::string dump_path(std::string_view spool_dir);

// Reads dump_path(spool_dir) whole into `dump`. not_opened when the dump is
// absent or is not a regular file; short_read when it could not be read whole.
read_result load_dump(std::string_view spool_dir, file_bytes &dump);
