#include "counting/listing_look.h"

#include <algorithm>
#include <cctype>

namespace {

// netstat's states as Linux (net-tools) and Windows word them in English.
constexpr std::string_view english_states[] = {
    "ESTABLISHED", "LISTEN",    "LISTENING", "SYN_SENT", "SYN_RECV",   "SYN_RECEIVED", "FIN_WAIT1",
    "FIN_WAIT2",   "FIN_WAIT_1", "FIN_WAIT_2", "TIME_WAIT", "CLOSE",    "CLOSED",       "CLOSE_WAIT",
    "LAST_ACK",    "CLOSING",   "UNKNOWN",   "DELETE_TCB", "BOUND"};

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_endpoint(std::string_view word)
{
    const std::size_t colon = word.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == word.size())
        return false;
    const std::string_view port = word.substr(colon + 1);
    return port == "*" || std::all_of(port.begin(), port.end(), is_digit);
}

bool begins_with_letter(std::string_view word)
{
    const unsigned char first = static_cast<unsigned char>(word[0]);
    return first >= 0x80 || std::isalpha(first);
}

bool names_protocol(std::string_view word)
{
    if (word.size() < 3)
        return false;
    std::string lower;
    for (const char c : word.substr(0, 3))
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "tcp" || lower == "udp";
}

// The state word of `line` when it is a connection line (see the header),
// else empty.
std::string_view state_word(std::string_view line)
{
    std::string_view state;
    bool first = true, protocol = false, after_endpoint = false;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        const std::string_view word = line.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        if (first)
            protocol = names_protocol(word);
        first = false;
        if (!protocol)
            return {};
        if (is_endpoint(word)) {
            state = {};
            after_endpoint = true;
        } else if (after_endpoint) {
            state = begins_with_letter(word) ? word : std::string_view{};
            after_endpoint = false;
        }
    }
    return state;
}

std::string_view first_word(std::string_view line)
{
    const std::size_t start = std::min(line.find_first_not_of(" \t"), line.size());
    return line.substr(start, line.find_first_of(" \t", start) - start);
}

}  // namespace

listing_look look_of_listing(std::string_view head)
{
    bool ss = head.find("Local Address:Port") != std::string_view::npos;
    bool english = head.find("Foreign Address") != std::string_view::npos;
    std::string_view foreign;
    for (std::size_t at = 0; at < head.size() && !ss;) {
        const std::size_t end = std::min(head.find_first_of("\r\n", at), head.size());
        const std::string_view line = head.substr(at, end - at);
        at = end + 1;
        ss = first_word(line) == "ESTAB";
        const std::string_view state = state_word(line);
        if (state.empty())
            continue;
        if (std::find(std::begin(english_states), std::end(english_states), state) != std::end(english_states))
            english = true;
        else if (foreign.empty())
            foreign = state;
    }
    if (ss)
        return {listing_kind::ss, {}};
    if (!foreign.empty())
        return {listing_kind::other_language, std::string(foreign)};
    if (english)
        return {listing_kind::english, {}};
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") ||
        head.find('\0') != std::string_view::npos)
        return {listing_kind::two_bytes, {}};
    return {};
}
