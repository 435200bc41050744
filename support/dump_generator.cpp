#include "dump_generator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

constexpr std::string_view heading =
    "\r\n"
    "Active Connections\r\n"
    "\r\n"
    "  Proto  Local Address          Foreign Address        State\r\n";

// netstat's column width for an endpoint, its separating space included.
constexpr std::size_t endpoint_width = 23;

// The longest line written: "  TCP    " + two endpoints of up to 46 bytes +
// the longest state + CR LF, with room to spare.
constexpr std::size_t max_line = 160;

// The generator's whole state: the listing is one stream of lines drawn from
// it, so writing it in blocks gives the same bytes as building it at once.
struct line_source {
    std::uint64_t random_state;
    listing_kind kind;
    bool heading_written = false;
};

// splitmix64: tiny, fast, and the same sequence everywhere, which the
// standard library's distributions do not promise.
std::uint64_t next_random(line_source &source)
{
    std::uint64_t z = (source.random_state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

// A number in [0, bound): a multiply and a shift rather than a modulo, and
// as even as a listing needs for bounds far below 2^32.
std::uint32_t below(line_source &source, std::uint32_t bound)
{
    return static_cast<std::uint32_t>(((next_random(source) >> 32) * bound) >> 32);
}

// An ephemeral port, as Windows hands them out.
std::uint32_t ephemeral_port(line_source &source)
{
    return 49152 + below(source, 16384);
}

// Writers into a line buffer: each advances `at` past what it wrote. The
// buffer holds max_line bytes, which no line reaches.
void put(char *&at, std::string_view text)
{
    std::memcpy(at, text.data(), text.size());
    at += text.size();
}

void put_number(char *&at, std::uint32_t number)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0)
        *at++ = digits[--count];
}

// Pads the column that began at `column` to the endpoint width, with at
// least one space as netstat does for a longer endpoint.
void pad_column(char *&at, const char *column)
{
    const std::size_t used = static_cast<std::size_t>(at - column);
    const std::size_t spaces = used < endpoint_width ? endpoint_width - used : 1;
    std::memset(at, ' ', spaces);
    at += spaces;
}

// A public-looking client address, of varying length like real ones.
void put_remote_address(char *&at, line_source &source)
{
    const std::uint64_t bits = next_random(source);
    put_number(at, 1 + static_cast<std::uint32_t>(bits % 223));
    for (int shift = 16; shift <= 48; shift += 16) {
        *at++ = '.';
        put_number(at, static_cast<std::uint32_t>((bits >> shift) & 0xff));
    }
}

void put_endpoint(char *&at, std::string_view address, std::uint32_t port)
{
    const char *column = at;
    put(at, address);
    *at++ = ':';
    put_number(at, port);
    pad_column(at, column);
}

void put_remote_endpoint(char *&at, line_source &source, std::uint32_t port)
{
    const char *column = at;
    put_remote_address(at, source);
    *at++ = ':';
    put_number(at, port);
    pad_column(at, column);
}

// Picks from a table of (value, weight per thousand) pairs whose weights add
// up to 1000.
template <typename value, std::size_t n>
value pick(line_source &source, const std::pair<value, std::uint32_t> (&table)[n])
{
    std::uint32_t roll = below(source, 1000);
    for (const auto &[choice, weight] : table) {
        if (roll < weight)
            return choice;
        roll -= weight;
    }
    return table[n - 1].first;
}

using weighted_port = std::pair<std::uint32_t, std::uint32_t>;
using weighted_text = std::pair<std::string_view, std::uint32_t>;

// A mail, web and file server: the web takes most of the traffic.
constexpr weighted_port service_ports[] = {{80, 450}, {25, 250}, {110, 200}, {21, 100}};
constexpr weighted_port other_server_ports[] = {
    {443, 600}, {3389, 100}, {445, 100}, {135, 50}, {8080, 150}};
// What the server itself connects to: web sites, mail relays, and now and
// then another POP3 or FTP server.
constexpr weighted_port outgoing_ports[] = {
    {80, 400}, {25, 200}, {443, 300}, {110, 50}, {21, 50}};
constexpr weighted_port listening_ports[] = {
    {135, 200}, {445, 200}, {3389, 150}, {443, 150}, {8080, 100}, {49664, 100},
    {49665, 100}};
constexpr weighted_text server_addresses[] = {
    {"192.168.10.5", 800}, {"10.20.0.7", 120}, {"127.0.0.1", 80}};
constexpr weighted_text outgoing_addresses[] = {{"192.168.10.5", 900}, {"10.20.0.7", 100}};
constexpr weighted_text incoming_states[] = {
    {"ESTABLISHED", 740}, {"TIME_WAIT", 120}, {"CLOSE_WAIT", 70}, {"FIN_WAIT_2", 70}};
constexpr weighted_text outgoing_states[] = {
    {"ESTABLISHED", 650}, {"TIME_WAIT", 180}, {"SYN_SENT", 80}, {"CLOSE_WAIT", 50},
    {"FIN_WAIT_2", 40}};
constexpr weighted_text udp_addresses[] = {
    {"0.0.0.0", 500}, {"127.0.0.1", 100}, {"192.168.10.5", 200}, {"[::]", 150},
    {"[::1]", 50}};
constexpr weighted_port udp_ports[] = {
    {123, 200}, {500, 150}, {4500, 100}, {5353, 250}, {5355, 150}, {137, 50}, {138, 50},
    {1900, 50}};

// A connection to `port` on this server from a client, or from this server
// to itself when it picked the loopback address.
void put_incoming(char *&at, line_source &source, std::uint32_t port)
{
    const std::string_view local = pick(source, server_addresses);
    put(at, "  TCP    ");
    put_endpoint(at, local, port);
    if (local == "127.0.0.1")
        put_endpoint(at, local, ephemeral_port(source));
    else
        put_remote_endpoint(at, source, ephemeral_port(source));
    put(at, pick(source, incoming_states));
}

void put_listening(char *&at, std::string_view any_address, std::uint32_t port)
{
    put(at, "  TCP    ");
    put_endpoint(at, any_address, port);
    put_endpoint(at, any_address, 0);
    put(at, "LISTENING");
}

// IPv6 the scan can follow: the loopback between two of the server's own
// programs, one side on `port`, the other on an ephemeral port.
void put_ipv6_loopback(char *&at, line_source &source, std::uint32_t port, bool port_is_local)
{
    const std::uint32_t other = ephemeral_port(source);
    put(at, "  TCP    ");
    put_endpoint(at, "[::1]", port_is_local ? port : other);
    put_endpoint(at, "[::1]", port_is_local ? other : port);
    put(at, pick(source, incoming_states));
}

// IPv6 endpoints as Windows writes them, in brackets: the server's own
// addresses in each form it may have, and its clients'.
constexpr weighted_text ipv6_server_addresses[] = {
    {"[2001:db8::10]", 300}, {"[2001:db8:0:1::5]", 200},
    {"[2001:db8:85a3:8d3:1319:8a2e:370:7348]", 150}, {"[fe80::1c2d:3e4f:5a6b:7c8d%12]", 150},
    {"[::ffff:10.0.0.9]", 100}, {"[2001:0:4136:e378:8000:63bf:3fff:fdd2]", 50}, {"[::1]", 50}};

void put_hex(char *&at, std::uint32_t number)
{
    constexpr std::string_view digits = "0123456789abcdef";
    int shift = 12;
    while (shift > 0 && (number >> shift) == 0)
        shift -= 4;
    for (; shift >= 0; shift -= 4)
        *at++ = digits[(number >> shift) & 0xf];
}

// A client's address: a global one, compressed or in eight groups, or an
// IPv4-mapped one.
void put_ipv6_remote(char *&at, line_source &source, std::uint32_t port)
{
    const char *column = at;
    const std::uint32_t form = below(source, 10);
    *at++ = '[';
    if (form == 0) {
        put(at, "::ffff:");
        put_remote_address(at, source);
    } else {
        put(at, form < 4 ? "2001:db8" : "2a01:4f8");
        const std::uint32_t groups = form < 7 ? 1 + below(source, 3) : 6;
        if (groups < 6)
            *at++ = ':';
        for (std::uint32_t i = 0; i < groups; ++i) {
            *at++ = ':';
            put_hex(at, below(source, 0x10000));
        }
    }
    put(at, "]:");
    put_number(at, port);
    pad_column(at, column);
}

// One IPv6 line, its line end excluded: the same mix of connections,
// listeners and UDP sockets as the IPv4 lines.
void put_ipv6_line(char *&at, line_source &source)
{
    const std::uint32_t kind = below(source, 1000);
    const std::string_view local = pick(source, ipv6_server_addresses);
    if (kind < 900) {
        const bool incoming = kind < 650;
        const std::uint32_t port = kind < 420   ? pick(source, service_ports)
                                   : incoming ? pick(source, other_server_ports)
                                              : ephemeral_port(source);
        const std::uint32_t remote_port = incoming ? ephemeral_port(source) : pick(source, outgoing_ports);
        put(at, "  TCP    ");
        put_endpoint(at, local, port);
        put_ipv6_remote(at, source, remote_port);
        put(at, incoming ? pick(source, incoming_states) : pick(source, outgoing_states));
    } else if (kind < 950) {
        put(at, "  TCP    ");
        put_endpoint(at, local, pick(source, listening_ports));
        put_endpoint(at, "[::]", 0);
        put(at, "LISTENING");
    } else {
        put(at, "  UDP    ");
        put_endpoint(at, local, pick(source, udp_ports));
        const char *column = at;
        put(at, "*:*");
        pad_column(at, column);
    }
}

// Writes one line, CR LF included, and returns its length.
std::size_t put_line(char *line, line_source &source)
{
    char *at = line;
    if (source.kind == listing_kind::ipv6 && below(source, 10) < 3) {
        put_ipv6_line(at, source);
        put(at, "\r\n");
        return static_cast<std::size_t>(at - line);
    }
    const std::uint32_t kind = below(source, 1000);
    if (kind < 370) {
        put_incoming(at, source, pick(source, service_ports));
    } else if (kind < 380) {
        put_listening(at, "0.0.0.0", pick(source, service_ports));
    } else if (kind < 400) {
        // Service ports over IPv6: mostly connections, some listeners.
        if (below(source, 5) == 0)
            put_listening(at, "[::]", pick(source, service_ports));
        else
            put_ipv6_loopback(at, source, pick(source, service_ports), true);
    } else if (kind < 640) {
        put_incoming(at, source, pick(source, other_server_ports));
    } else if (kind < 880) {
        // One draw per statement: the order in which a call's arguments are
        // evaluated differs between compilers, and with it the bytes.
        const std::string_view local = pick(source, outgoing_addresses);
        const std::uint32_t port = ephemeral_port(source);
        put(at, "  TCP    ");
        put_endpoint(at, local, port);
        put_remote_endpoint(at, source, pick(source, outgoing_ports));
        put(at, pick(source, outgoing_states));
    } else if (kind < 900) {
        put_listening(at, "0.0.0.0", pick(source, listening_ports));
    } else if (kind < 915) {
        // Over IPv6, a listener on another port, or a client of the
        // server's own web or mail service: its remote port is a service
        // port, its local one is not.
        if (below(source, 3) == 0)
            put_listening(at, "[::]", pick(source, listening_ports));
        else
            put_ipv6_loopback(at, source, below(source, 2) == 0 ? 80 : 25, false);
    } else {
        const std::string_view local = pick(source, udp_addresses);
        const std::uint32_t port = pick(source, udp_ports);
        put(at, "  UDP    ");
        put_endpoint(at, local, port);
        const char *column = at;
        put(at, "*:*");
        pad_column(at, column);
    }
    put(at, "\r\n");
    return static_cast<std::size_t>(at - line);
}

// Appends the next lines of the listing to `out` until it holds at least
// `size` bytes; the last one appended is whole.
void append_lines(line_source &source, std::string &out, std::size_t size)
{
    if (!source.heading_written) {
        out += heading;
        source.heading_written = true;
    }
    char line[max_line];
    while (out.size() < size)
        out.append(line, put_line(line, source));
}

}  // namespace

std::string make_listing(std::uint64_t seed, std::size_t size, listing_kind kind)
{
    line_source source{seed, kind};
    std::string listing;
    listing.reserve(size + max_line + heading.size());
    append_lines(source, listing, size);
    listing.resize(size);
    return listing;
}

bool write_listing(const char *path, std::uint64_t seed, std::uint64_t size, listing_kind kind)
{
    // Big blocks keep the writes few; whole lines per block keep the stream
    // the same as make_listing's.
    constexpr std::size_t block_size = 4 << 20;
    std::FILE *file = std::fopen(path, "wb");
    if (!file)
        return false;
    line_source source{seed, kind};
    std::string block;
    block.reserve(block_size + max_line + heading.size());
    bool written = true;
    for (std::uint64_t left = size; left > 0 && written;) {
        block.clear();
        append_lines(source, block,
                     static_cast<std::size_t>(std::min<std::uint64_t>(left, block_size)));
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        written = std::fwrite(block.data(), 1, count, file) == count;
        left -= count;
    }
    // A full disk can surface only when the last buffered bytes go out.
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}
