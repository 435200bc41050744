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
// of its size and scanned in one pass, with no second thread. A larger one
// is read window after window into window_buffers buffers that share this
// size: a second thread reads the next windows while one is scanned (when
// the run may use two processors), so the memory stays the same whatever
// the dump's size.
constexpr std::size_t dump_buffer_size = 5'000'000;
constexpr int window_buffers = 4;

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

// Where the bytes come from: `read` behaves as read_next (file.h), called
// with `source`, on the reading thread alone once that has started.
struct byte_source {
    std::size_t (*read)(void *source, char *into, std::size_t want);
    void *source;
};

// The reading and scanning of load_dump, from any source of `size` bytes:
// one buffer of `size` when size <= `whole`, else window_buffers buffers of
// `window` bytes, read on a second thread when `read_ahead` and one can be
// had, else in turn on this one. done, or short_read as load_dump says.
read_result scan_from(byte_source source, std::uint64_t size, std::size_t whole, std::size_t window,
                      bool read_ahead, service_counts &counts);
