#include "platform/connections.h"

#include <cstring>
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include "platform/win32_text.h"

namespace {

// A row of either table; addresses are 4 or 16 bytes in network order, and
// ports in network order in the low 16 bits.
connection connection_of(bool ipv6, const void *local, const void *remote, DWORD local_port, DWORD remote_port,
                         DWORD state)
{
    connection c;
    c.ipv6 = ipv6;
    std::memcpy(c.local_address.data(), local, ipv6 ? 16 : 4);
    std::memcpy(c.remote_address.data(), remote, ipv6 ? 16 : 4);
    c.local_port = static_cast<std::uint16_t>((local_port & 0xFF) << 8 | (local_port >> 8 & 0xFF));
    c.remote_port = static_cast<std::uint16_t>((remote_port & 0xFF) << 8 | (remote_port >> 8 & 0xFF));
    // MIB_TCP_STATE_CLOSED (1) to MIB_TCP_STATE_DELETE_TCB (12) come in
    // tcp_state's order.
    static_assert(MIB_TCP_STATE_DELETE_TCB == 12 && static_cast<int>(tcp_state::delete_tcb) == 11);
    c.state = state >= 1 && state <= 12 ? static_cast<tcp_state>(state - 1) : tcp_state::unknown;
    return c;
}

// The table of `family` into `buffer`. Connections come and go between the
// call that sizes it and the one that fills it, so a table that grew in
// between is asked for again.
DWORD read_table(ULONG family, std::vector<char> &buffer)
{
    for (int tries = 0;; ++tries) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD error = GetExtendedTcpTable(buffer.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_ALL, 0);
        if (error != ERROR_INSUFFICIENT_BUFFER || tries == 8)
            return error;
        buffer.resize(size + size / 4);
    }
}

}  // namespace

bool read_connections(std::vector<connection> &table, std::string &failure)
{
    table.clear();
    std::vector<char> buffer(65536);
    for (const ULONG family : {AF_INET, AF_INET6}) {
        const DWORD error = read_table(family, buffer);
        // A system without IPv6 has no such table, and that is no failure.
        if (family == AF_INET6 && error == ERROR_NOT_SUPPORTED)
            break;
        if (error != NO_ERROR) {
            failure = std::string(family == AF_INET ? "the IPv4" : "the IPv6") + " connection table: " + system_text(error);
            return false;
        }
        const auto *v4 = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
        const auto *v6 = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID *>(buffer.data());
        for (DWORD i = 0; i < v4->dwNumEntries; ++i) {
            if (family == AF_INET) {
                const MIB_TCPROW_OWNER_PID &row = v4->table[i];
                table.push_back(connection_of(false, &row.dwLocalAddr, &row.dwRemoteAddr, row.dwLocalPort,
                                              row.dwRemotePort, row.dwState));
            } else {
                const MIB_TCP6ROW_OWNER_PID &row = v6->table[i];
                table.push_back(connection_of(true, row.ucLocalAddr, row.ucRemoteAddr, row.dwLocalPort,
                                              row.dwRemotePort, row.dwState));
            }
        }
    }
    return true;
}
