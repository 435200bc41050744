#include "platform/connections.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The kernel's numbering of TCP states (include/net/tcp_states.h).
tcp_state state_of(unsigned code)
{
    static const tcp_state states[] = {
        tcp_state::unknown,    tcp_state::established, tcp_state::syn_sent,  tcp_state::syn_received,
        tcp_state::fin_wait1,  tcp_state::fin_wait2,   tcp_state::time_wait, tcp_state::closed,
        tcp_state::close_wait, tcp_state::last_ack,    tcp_state::listen,    tcp_state::closing,
        tcp_state::syn_received,  // a request socket still in the handshake
    };
    return code < std::size(states) ? states[code] : tcp_state::unknown;
}

// The kernel prints an address as 32-bit words, each as the number that its
// four bytes make in this machine's order: copying the number back gives
// the bytes in network order on any machine.
bool address_of(const char *hex, std::array<std::uint8_t, 16> &address)
{
    const std::size_t words = std::strlen(hex) / 8;
    for (std::size_t i = 0; i < words && i < 4; ++i) {
        char word[9] = {};
        std::memcpy(word, hex + 8 * i, 8);
        char *end = nullptr;
        const std::uint32_t value = static_cast<std::uint32_t>(std::strtoul(word, &end, 16));
        if (*end != '\0')
            return false;
        std::memcpy(address.data() + 4 * i, &value, 4);
    }
    return words == 1 || words == 4;
}

// The whole of a /proc file, whose size stat gives as 0.
bool read_text(const char *path, std::string &text)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
    const int error = errno;
    close(fd);
    errno = error;
    return got == 0;
}

// One of /proc/net/tcp and tcp6, whose lines after the heading read
//    0: 0100007F:0019 00000000:0000 0A 00000000:00000000 ...
bool read_table(const char *path, bool ipv6, std::vector<connection> &table, std::string &failure)
{
    std::string text;
    if (!read_text(path, text)) {
        if (ipv6 && errno == ENOENT)  // a kernel without IPv6
            return true;
        failure = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    for (std::size_t at = text.find('\n'); at != std::string::npos && at + 1 < text.size();) {
        const std::size_t end = text.find('\n', at + 1);
        const std::string line = text.substr(at + 1, end - at - 1);
        at = end;
        char local[33], remote[33];
        connection row;
        unsigned local_port, remote_port, state;
        row.ipv6 = ipv6;
        if (std::sscanf(line.c_str(), " %*u: %32[0-9A-Fa-f]:%x %32[0-9A-Fa-f]:%x %x", local, &local_port,
                        remote, &remote_port, &state) != 5 ||
            !address_of(local, row.local_address) || !address_of(remote, row.remote_address)) {
            failure = std::string(path) + ": a line not in the kernel's layout: " + line;
            return false;
        }
        row.local_port = static_cast<std::uint16_t>(local_port);
        row.remote_port = static_cast<std::uint16_t>(remote_port);
        row.state = state_of(state);
        table.push_back(row);
    }
    return true;
}

}  // namespace

bool read_connections(std::vector<connection> &table, std::string &failure)
{
    return read_table("/proc/net/tcp", false, table, failure) &&
           read_table("/proc/net/tcp6", true, table, failure);
}
