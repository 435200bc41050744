#include "kit/listing.h"

#include <gtest/gtest.h>

#include "counting/scan.h"
#include "platform/file.h"

namespace {

connection row(bool ipv6, std::array<std::uint8_t, 16> local, std::uint16_t port, tcp_state state)
{
    connection c;
    c.ipv6 = ipv6;
    c.local_address = local;
    c.remote_address = local;
    c.local_port = port;
    c.remote_port = 50000;
    c.state = state;
    return c;
}

// Each line as the listing writes it, and what the scan counts in it: the
// saved listing must count as the table reads, in both address families.
// An address of zeros but the bytes given as {index, value}.
std::array<std::uint8_t, 16> a(std::initializer_list<std::pair<int, std::uint8_t>> bytes = {})
{
    std::array<std::uint8_t, 16> address{};
    for (const auto &[at, value] : bytes)
        address[at] = value;
    return address;
}

TEST(netstat_listing, table)
{
    const struct {
        connection c;
        std::string line;
        service_counts counted;
    } cases[] = {
        {row(false, a({{0, 127}, {3, 1}}), 25, tcp_state::established),
         "tcp   127.0.0.1:25            127.0.0.1:50000         ESTABLISHED", {0, 1, 0, 0}},
        {row(false, a({{0, 10}, {1, 200}, {2, 3}, {3, 4}}), 110, tcp_state::listen),
         "tcp   10.200.3.4:110          10.200.3.4:50000        LISTEN", {}},
        {row(true, a({{15, 1}}), 80, tcp_state::established),
         "tcp6  [::1]:80                [::1]:50000             ESTABLISHED", {0, 0, 1, 0}},
        {row(true, a(), 21, tcp_state::time_wait), "tcp6  [::]:21                 [::]:50000              TIME_WAIT", {}},
        // The longest run of zeros is the one written ::; of two, the first.
        {row(true, a({{0, 0x20}, {1, 0x01}, {2, 0x0d}, {3, 0xb8}, {5, 1}, {15, 1}}), 21, tcp_state::established),
         "tcp6  [2001:db8:1::1]:21      [2001:db8:1::1]:50000   ESTABLISHED", {0, 0, 0, 1}},
        {row(true, a({{0, 0x20}, {1, 0x01}, {9, 1}}), 110, tcp_state::closing),
         "tcp6  [2001::1:0:0:0]:110     [2001::1:0:0:0]:50000   CLOSING", {}},
        {row(true, a({{0, 1}, {2, 1}, {4, 1}, {6, 1}, {8, 1}, {10, 1}, {12, 1}, {14, 1}}), 110, tcp_state::established),
         "tcp6  [100:100:100:100:100:100:100:100]:110 [100:100:100:100:100:100:100:100]:50000 ESTABLISHED",
         {1, 0, 0, 0}},
        {row(true, a({{1, 1}, {5, 2}, {9, 3}}), 25, tcp_state::unknown),
         "tcp6  [1:0:2:0:3::]:25        [1:0:2:0:3::]:50000     UNKNOWN", {}},
    };
    const std::string end = directory_separator == '\\' ? "\r\n" : "\n";
    const std::string heading = "Proto Local Address           Foreign Address         State" + end;
    for (const auto &c : cases) {
        const std::string listing = netstat_listing({c.c});
        EXPECT_EQ(listing, heading + c.line + end);
        EXPECT_EQ(count_connections(listing), c.counted) << c.line;
    }
}

}  // namespace
