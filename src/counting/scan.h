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
// A dump may be scanned whole, or in windows as it is read: the walk keeps
// the few facts it needs between two windows in a scan_state, so the counts
// never depend on where the windows end. Time is linear in the size of the
// dump, whatever its contents.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/service_table.h"

// Where the walk stands. Every dump starts at seek_local.
enum class scan_step : std::uint8_t {
    seek_local,    // looking for the colon of a line's local endpoint
    port,          // in the port after it: `matched` bytes agree with `candidates`
    seek_remote,   // no service matched: looking for the colon to step over
    spaces_before_remote,
    remote,
    spaces_before_state,
    state,         // in the state field: `matched` bytes agree with ESTABLISHED
};

struct scan_state {
    scan_step step = scan_step::seek_local;
    std::uint8_t candidates = 0;  // services whose port text the port began with, one bit each
    std::uint8_t matched = 0;
    std::int8_t service = -1;     // the service whose port matched, from port on
};

// Counts the whole dump: the same as one window followed by the end.
service_counts count_connections(std::string_view dump);

// Walks one window of a dump, adding what it counts to `counts`. The next
// call must be given the bytes that follow, with the same state.
void scan_window(scan_state &state, std::string_view window, service_counts &counts);

// The end of the dump: the one thing still to count is a state field that
// reached it as exactly ESTABLISHED.
void finish_scan(const scan_state &state, service_counts &counts);

// scan_window without its block-at-a-time path, one step per byte or run of
// bytes: the plain walk the fast one must always agree with.
void scan_window_plain(scan_state &state, std::string_view window, service_counts &counts);
