// The scan: counts the ESTABLISHED connections to each service's local port
// in a dump, as netstat prints it:
//
//   Proto  Local Address          Foreign Address        State
//   TCP    192.168.1.10:110       192.168.1.77:51234     ESTABLISHED
//
// A pure function of the bytes: it never touches the system, and reads no
// byte outside the view it is given.
//
// The walk goes from colon to colon. It tests the port after the first colon
// of a line; when no service matches, it steps over the next colon, which
// netstat's layout makes the remote endpoint's, so a remote port is never
// counted. When one matches, the state field is the text after the remote
// endpoint up to a carriage return or line feed, and it counts when it is
// exactly ESTABLISHED. Bytes are compared as stored: tabs are no spaces,
// letter case matters, and a two-byte-per-character dump counts nothing.
//
// IPv6 endpoints hold many colons. A word (a run of bytes with no space, CR
// or LF) that holds three or more colons shows the walk only its last one,
// the one before the port; the others are passed over as any other byte. So
// `[2001:db8::5]:80` and `2001:db8::5:80` are tested by their port, as
// `10.0.0.5:80` is, and the next line stays in step. Words of one or two
// colons show all of them, so `10:15` before the table still puts the walk
// out of step and `10:15:30` does not.
//
// A dump may be scanned whole, or in windows as it is read: the walk keeps
// the few facts it needs between two windows in a scan_state, so the counts
// never depend on where the windows end, nor on how long a word is. Time is
// linear in the size of the dump, whatever its contents.
//
// So a large dump can be scanned in shares on several processors at once.
// A share starts after a line feed and is scanned ahead from the state a
// dump starts in. Where the share before it ends in that state too (as a
// walk in step with netstat's lines does at a line's end), the walk from
// there is the very one scanned ahead, and the counts of the two add up.
// Where it does not (a line that put the walk out of step, a word or state
// field that runs on past the line feed), the share is scanned again from
// the state its predecessor really ended in. The counts are then those of
// one scan from the start, whatever the cuts, at worst for twice the work.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/service_table.h"

// Where the walk stands. Every dump starts at seek_local.
enum class scan_step : std::uint8_t {
    seek_local,    // looking for the colon of a line's local endpoint
    seek_remote,   // no service matched: looking for the colon to step over
    spaces_before_remote,
    remote,
    spaces_before_state,
    state,         // in the state field: `matched` bytes agree with ESTABLISHED
};

struct scan_state {
    // While seeking inside a word that holds colons, `step` is where the
    // walk stood when the word began, `word_colons` how many colons the word
    // has shown so far (3 meaning three or more), and `candidates` and
    // `matched` how the bytes after its latest colon agree with the ports.
    scan_step step = scan_step::seek_local;
    std::uint8_t word_colons = 0;
    std::uint8_t candidates = 0;  // services whose port text the port began with, one bit each
    std::uint8_t matched = 0;
    std::int8_t service = -1;     // the service whose port matched, from spaces_before_remote on
};

// Counts the whole dump: the same as one window followed by the end.
service_counts count_connections(std::string_view dump);

// Walks one window of a dump, adding what it counts to `counts`. The next
// call must be given the bytes that follow, with the same state.
void scan_window(scan_state &state, std::string_view window, service_counts &counts);

// The end of the dump: the one thing still to count is a state field that
// reached it as exactly ESTABLISHED.
void finish_scan(const scan_state &state, service_counts &counts);

// True when `state` is the state a dump starts in, as far as the walk from
// it can tell: what it counts from here on is what a fresh scan_state would.
bool starts_afresh(const scan_state &state);

// The block walk runs on the build's own masks (SSE2, NEON) until this is
// called with true; from then on on AVX2 where the processor has it, until
// called with false. Asking the processor costs as much as scanning a few
// kilobytes (in a virtual machine each question traps to the host), so a
// run asks only for a dump larger than one buffer. Call with no scan running.
void use_best_masks(bool best);

// The masks the block walk runs on now: "avx2", "sse2" or "neon"; "none"
// where the plain walk runs alone.
const char *scan_masks();

// scan_window without its block-at-a-time path, one step per byte or run of
// bytes: the plain walk the fast one must always agree with. Where the
// machine has no vector masks (byte_masks.h), scan_window is this walk.
void scan_window_plain(scan_state &state, std::string_view window, service_counts &counts);
