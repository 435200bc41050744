// Loading the dump that netstat wrote into the spool folder, and counting it
// as it arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/service_table.h"
#include "platform/file.h"

// A dump within this many bytes is read with a single read into one buffer
// of its size and scanned in one pass, with no thread started. A larger one
// is cut into shares, one for each processor the run may use and at most
// max_shares, each read and scanned window by window in a buffer of
// share_window bytes on a thread of its own: the memory stays bounded
// whatever the dump's size or the machine's processors.
constexpr std::size_t dump_buffer_size = 5'000'000;
constexpr std::size_t share_window = 1'250'000;
constexpr unsigned max_shares = 8;

enum class read_result { done, not_opened, short_read };

// What became of a read of the dump, and why, in words for a person, when
// it was not done.
struct dump_read {
    read_result result = read_result::not_opened;
    std::string why;
};

// The spool folder text, the platform's separator, then netstatdump.log.
// Nothing is trimmed from or added to the folder text, so a trailing
// separator is doubled.
std::string dump_path(std::string_view spool_dir);

// Reads dump_path(spool_dir) and scans each window as it arrives, adding to
// `counts` (all four services, whatever a run selects). not_opened when the
// dump is absent or is not a regular file, with the open's reason in `why`
// (see open_for_reading); short_read when fewer bytes arrived than the size
// found at the open (a read failed or the file shrank), when its size or
// modification time changed while it was read (a writer still at work, or
// one that rewrote it in place), or when the buffers could not be had, with
// `why` "could not be read whole"; `counts` are then not to be used.
dump_read load_dump(std::string_view spool_dir, service_counts &counts);

// How much of a dump read_dump_head reads: 1 MiB, thousands of lines of any
// listing, so that a look at a dump of any size costs one small read.
constexpr std::size_t dump_head_size = std::size_t{1} << 20;

// Puts the first dump_head_size bytes of dump_path(spool_dir) in `head`:
// all of a smaller dump, fewer when a read fails midway, and of a dump that
// holds more, only up to the last CR or LF among them (when there is one).
// False, with `head` empty, when the dump cannot be opened or no byte of a
// dump that is not empty arrived.
bool read_dump_head(std::string_view spool_dir, std::string &head);

// Where the bytes come from: `read_at` behaves as read_at (file.h), called
// with `source`, from several threads at once.
struct byte_source {
    std::size_t (*read_at)(void *source, std::uint64_t offset, char *into, std::size_t want);
    void *source;
};

// How scan_from reads: load_dump's choice, or a test's.
struct scan_plan {
    std::size_t whole = dump_buffer_size;  // a dump of at most this many bytes: one buffer, one pass
    std::size_t window = share_window;     // else each share is read in windows of this size
    unsigned shares = 1;                   // into this many shares (at least 1), all but the first on threads
};

// What became of the shares scanned ahead from a fresh start, for tests and
// measurements: how many there were, and how many were scanned again.
struct share_tally {
    unsigned ahead = 0;
    unsigned rescanned = 0;
};

// The reading and scanning of load_dump, from any source of `size` bytes.
// A share that no thread can be had for is scanned on this one, after the
// first. done, or short_read as load_dump says (a read that brought nothing,
// or a buffer that could not be had); the counts equal count_connections'
// over the same bytes whatever the plan.
read_result scan_from(byte_source source, std::uint64_t size, const scan_plan &plan, service_counts &counts,
                      share_tally *tally = nullptr);
