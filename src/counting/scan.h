// The scan: counts the ESTABLISHED connections to each service's local port
// in a dump, as netstat prints it:
//
//   Proto  Local Address          Foreign Address        State
//   TCP    192.168.1.10:110       192.168.1.77:51234     ESTABLISHED
//
// A pure function of the bytes: it never touches the system, and reads no
// byte outside the view it is given.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/service_table.h"

// True when the port field after the colon at `colon` (up to the next space,
// or to the end of the dump) is exactly `port_text`. An empty field matches
// nothing.
bool port_matches(std::string_view dump, std::size_t colon, std::string_view port_text);

// Counts, for all four services whatever a run selects, the connection lines
// whose local port is the service's port and whose state is ESTABLISHED.
//
// The scan walks from colon to colon. It tests the port after the first colon
// of a line; when no service matches, it steps over the next colon, which
// netstat's layout makes the remote endpoint's, so a remote port is never
// counted. When one matches, the state field is the text after the remote
// endpoint up to a carriage return or line feed, and it counts when it is
// exactly ESTABLISHED. Bytes are compared as stored: tabs are no spaces,
// letter case matters, and a two-byte-per-character dump counts nothing.
// Runs in time linear in the size of the dump, whatever its contents.
service_counts count_connections(std::string_view dump);
