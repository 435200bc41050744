#include "kit/listing.h"

#include <cstdio>

#include "platform/file.h"
#include "platform/write.h"

namespace {

const char *state_word(tcp_state state)
{
    switch (state) {
    case tcp_state::closed: return "CLOSE";
    case tcp_state::listen: return "LISTEN";
    case tcp_state::syn_sent: return "SYN_SENT";
    case tcp_state::syn_received: return "SYN_RECV";
    case tcp_state::established: return "ESTABLISHED";
    case tcp_state::fin_wait1: return "FIN_WAIT1";
    case tcp_state::fin_wait2: return "FIN_WAIT2";
    case tcp_state::close_wait: return "CLOSE_WAIT";
    case tcp_state::closing: return "CLOSING";
    case tcp_state::last_ack: return "LAST_ACK";
    case tcp_state::time_wait: return "TIME_WAIT";
    case tcp_state::delete_tcb: return "DELETE_TCB";
    case tcp_state::unknown: break;
    }
    return "UNKNOWN";
}

// a.b.c.d:port, or [v6]:port with the longest run of two or more zero
// groups written as :: (the first of equal runs), as RFC 5952 has it.
std::string endpoint(bool ipv6, const std::array<std::uint8_t, 16> &a, unsigned port)
{
    char text[64];
    if (!ipv6) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], port);
        return text;
    }
    unsigned group[8];
    int run_at = -1, run_length = 1;
    for (int i = 0, length = 0; i < 8; ++i) {
        group[i] = a[2 * i] << 8 | a[2 * i + 1];
        length = group[i] == 0 ? length + 1 : 0;
        if (length > run_length)
            run_at = i - length + 1, run_length = length;
    }
    std::string out = "[";
    for (int i = 0; i < 8; ++i) {
        if (i == run_at) {
            out += "::";
            i += run_length - 1;
            continue;
        }
        if (i > 0 && i != run_at + run_length)
            out += ':';
        std::snprintf(text, sizeof text, "%x", group[i]);
        out += text;
    }
    return out + "]:" + std::to_string(port);
}

std::string padded(std::string text, std::size_t width)
{
    text.resize(text.size() < width ? width : text.size() + 1, ' ');
    return text;
}

}  // namespace

std::string netstat_listing(const std::vector<connection> &table)
{
    const char *const line_end = directory_separator == '\\' ? "\r\n" : "\n";
    std::string text = "Proto Local Address           Foreign Address         State";
    text += line_end;
    for (const connection &row : table) {
        text += row.ipv6 ? "tcp6  " : "tcp   ";
        text += padded(endpoint(row.ipv6, row.local_address, row.local_port), 24);
        text += padded(endpoint(row.ipv6, row.remote_address, row.remote_port), 24);
        text += state_word(row.state);
        text += line_end;
    }
    return text;
}

std::string folder_of(const std::string &path)
{
    const std::size_t end = path.find_last_of(directory_separator == '\\' ? "\\/" : "/");
    return end == std::string::npos ? "." : end == 0 ? path.substr(0, 1) : path.substr(0, end);
}

bool write_whole(const std::string &path, const std::string &text, std::string &failure)
{
    const std::string folder = folder_of(path);
    open_file file;
    std::string temporary;
    if (!make_folders(folder, failure) || !create_unique_file(folder, ".estacount.", file, temporary, failure))
        return false;
    if (write_all(file, text, failure) && write_done(file, failure) && replace_file(temporary, path, failure))
        return true;
    if (file.handle != -1)
        close_file(file);
    remove_file(temporary);
    return false;
}

bool save_listing(const std::string &spool, std::string &listing, std::string &failure)
{
    std::vector<connection> table;
    if (!read_connections(table, failure)) {
        failure = "cannot read the connection table: " + failure;
        return false;
    }
    listing = netstat_listing(table);
    if (write_whole(spool + directory_separator + "netstatdump.log", listing, failure))
        return true;
    failure = "cannot save the listing in " + spool + ": " + failure + ": the old listing is kept";
    return false;
}
