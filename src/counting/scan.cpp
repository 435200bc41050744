#include "counting/scan.h"

#include <cstring>

namespace {

constexpr std::string_view established = "ESTABLISHED";

// Position of the first `byte` at or after `from`, or the end of the dump.
std::size_t find_byte(std::string_view dump, std::size_t from, char byte)
{
    if (from >= dump.size())
        return dump.size();
    const void *hit = std::memchr(dump.data() + from, byte, dump.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char *>(hit) - dump.data())
               : dump.size();
}

std::size_t skip_spaces(std::string_view dump, std::size_t at)
{
    while (at < dump.size() && dump[at] == ' ')
        ++at;
    return at;
}

std::size_t skip_non_spaces(std::string_view dump, std::size_t at)
{
    while (at < dump.size() && dump[at] != ' ')
        ++at;
    return at;
}

// A line feed ends the state field as a carriage return does, so that dumps
// saved with Unix line ends count like those saved with CR LF.
bool ends_state_field(char byte)
{
    return byte == '\r' || byte == '\n';
}

// Compares only the few bytes that could match rather than finding where the
// field ends: a dump without spaces or line ends must not make every colon
// rescan the rest of it.
bool state_is_established(std::string_view dump, std::size_t at)
{
    if (dump.size() - at < established.size() ||
        dump.compare(at, established.size(), established) != 0)
        return false;
    const std::size_t end = at + established.size();
    return end == dump.size() || ends_state_field(dump[end]);
}

int service_at(std::string_view dump, std::size_t colon)
{
    for (int i = 0; i < service_count; ++i)
        if (port_matches(dump, colon, service_table[i].port_text))
            return i;
    return -1;
}

}  // namespace

bool port_matches(std::string_view dump, std::size_t colon, std::string_view port_text)
{
    const std::size_t start = colon + 1;
    if (port_text.empty() || start > dump.size() || dump.size() - start < port_text.size())
        return false;
    const std::size_t end = start + port_text.size();
    return dump.compare(start, port_text.size(), port_text) == 0 &&
           (end == dump.size() || dump[end] == ' ');
}

service_counts count_connections(std::string_view dump)
{
    service_counts counts{};
    std::size_t cursor = 0;
    for (;;) {
        const std::size_t colon = find_byte(dump, cursor, ':');
        if (colon >= dump.size())
            return counts;

        const int service = service_at(dump, colon);
        if (service < 0) {
            // Step over the remote endpoint's colon so its port is never tested.
            cursor = find_byte(dump, colon + 1, ':') + 1;
            continue;
        }

        std::size_t state = skip_non_spaces(dump, colon);  // the local port
        state = skip_spaces(dump, state);
        state = skip_non_spaces(dump, state);              // the remote endpoint
        state = skip_spaces(dump, state);
        if (state_is_established(dump, state))
            ++counts[service];
        // The next colon is searched from the state field itself, not from
        // the next line: a line with no state takes the next line's first
        // word as its state, and that line is then still examined.
        cursor = state;
    }
}
