// Realistic dumps of any size for the benchmarks and the tests: what a busy
// Windows server's `netstat -an` prints, with every kind of line the scan
// meets in the field and none that would put it out of step.
//
// Each line is
//
//   "  TCP    " local endpoint padded to 23, remote endpoint padded to 23,
//   then the state; or, for UDP, "  UDP    " local padded to 23, "*:*"
//   padded to 23 and no state;
//
// ending in CR LF, after the "Active Connections" heading and the column
// titles. About 40% of the lines have a service port (110, 25, 80, 21) as
// their local port; the others are other server ports (443, 135, 445, 3389,
// 8080), listeners, UDP sockets and outgoing connections from an ephemeral
// port, some of them to a remote port 80 or 25 that must not count. Most are
// ESTABLISHED. IPv6 endpoints are only [::] and [::1]; there are no tabs and
// no line with a single colon.
//
// The IPv6 listing has the same lines and, in place of three lines in ten,
// an IPv6 one: the server's global, link-local, IPv4-mapped, Teredo and
// loopback addresses in brackets, with clients of compressed and
// eight-group addresses, listeners on [::] and UDP sockets.
//
// The bytes depend only on the seed, the size and the kind: the same on every machine
// and standard library, and a shorter listing of a seed is a prefix of a
// longer one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class listing_kind { ipv4, ipv6 };

// A Windows `netstat -an` listing with CR LF line ends, exactly `size` bytes
// long (the last line cut short if need be), the same for the same seed.
std::string make_listing(std::uint64_t seed, std::size_t size, listing_kind kind = listing_kind::ipv4);

// Writes the same bytes to `path` without holding them all in memory
// (for 500 MB and more); false if the file cannot be written.
bool write_listing(const char *path, std::uint64_t seed, std::uint64_t size,
                   listing_kind kind = listing_kind::ipv4);
