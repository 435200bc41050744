// What the scan's two walks share: the plain walk and the entry points in
// scan.cpp, the block walk in scan_blocks.cpp. Not for other callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "counting/byte_masks.h"
#include "counting/scan.h"

constexpr std::string_view established = "ESTABLISHED";
constexpr std::uint8_t every_service = (1u << service_count) - 1;

// A line feed ends the state field as a carriage return does, so that dumps
// saved with Unix line ends count like those saved with CR LF.
inline bool ends_state_field(char byte)
{
    return byte == '\r' || byte == '\n';
}

// The block walk exists only where the machine has vector masks.
constexpr bool have_block_walk = ESTACOUNT_BYTE_MASKS != 0;

// What the block walk may read ahead of a block's start: a colon in it, the
// 64 bytes after that (where its word ends, which colons it holds), the
// word's last colon among them and its port, the 64 bytes after that port,
// and a state field and its end that start among them.
constexpr std::ptrdiff_t lookahead = 64 + 64 + 4 + 64 + 12;

// Walks line after line from `at`, at least `lookahead` bytes before `end`,
// where `state` seeks a colon with no colon of the current word behind it.
// Returns where it stopped, at most `end`, with `state` saying which step of
// the plain walk goes on there. Defined only where have_block_walk.
const char *walk_blocks(scan_state &state, const char *at, const char *end, service_counts &counts);

using block_walker = const char *(*)(scan_state &, const char *, const char *, service_counts &);

// walk_blocks built for AVX2 (scan_blocks_avx2.cpp) where the build has it
// and the processor runs it; else nullptr. Asks the processor (cpuid) each
// call.
block_walker avx2_block_walk();
