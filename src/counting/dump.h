// Loading the dump that netstat wrote into the spool folder, and counting it
// as it arrives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/service_table.h"
#include "platform/file.h"

// The one buffer the dump is read through: a dump within it is read with a
// single read and scanned in one pass; a larger one window after window.
constexpr std::size_t dump_buffer_size = 5'000'000;

// The spool folder text, the platform's separator, then netstatdump.log.
// Nothing is trimmed from or added to the folder text, so a trailing
// separator is doubled.
std::string dump_path(std::string_view spool_dir);

// Reads dump_path(spool_dir) through the dump buffer and scans each window as
// it arrives, adding to `counts` (all four services, whatever a run selects).
// not_opened when the dump is absent or is not a regular file; short_read
// when it could not be read whole, and `counts` are then not to be used.
read_result load_dump(std::string_view spool_dir, service_counts &counts);
