// The system's own table of TCP connections, read from the kernel or the
// table API that netstat itself reads: never a translated text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class tcp_state : std::uint8_t {
    closed, listen, syn_sent, syn_received, established, fin_wait1, fin_wait2,
    close_wait, closing, last_ack, time_wait, delete_tcb, unknown,
};

struct connection {
    bool ipv6 = false;
    // In network order; an IPv4 address in the first 4 bytes.
    std::array<std::uint8_t, 16> local_address{}, remote_address{};
    std::uint16_t local_port = 0, remote_port = 0;
    tcp_state state = tcp_state::unknown;
};

// Every TCP connection of this host (its network namespace on Linux), IPv4
// and IPv6, listening sockets included. Linux: /proc/net/tcp and
// /proc/net/tcp6 (a kernel without IPv6 has no tcp6, and that is no
// failure). Windows: GetExtendedTcpTable for AF_INET and AF_INET6. False,
// with `failure` naming what could not be read and the system's words.
bool read_connections(std::vector<connection> &table, std::string &failure);
