// How a line is taken, in four steps (scan.h gives the rules):
//   1. find the local colon: the next colon the word rule shows;
//   2. test the port after it against the four services' ports;
//   3. no match: step over the next colon, the remote endpoint's; a match:
//      skip the port, spaces, the remote endpoint and spaces;
//   4. count the state field there if it is ESTABLISHED up to a line end,
//      and go on from the field itself.
// Two walks take them, and must always agree.
//
// The plain walk, here, takes a step per byte or run of bytes and carries
// its place between windows in a scan_state. step_plain finds a colon (steps
// 1, and 3 with no match); step_word reads the word after it, testing its
// port bytes (2), and end_word settles at the word's end which colon it was:
// the local one with a service's port, or one to step over (3). A match goes
// on through step_plain's skips (3) to step_state (4).
//
// The block walk (scan_blocks.cpp) takes whole lines from 64-byte masks, and
// exists only where the machine has vector masks (byte_masks.h). One of
// take_colon (a colon that ends its word: IPv4), take_word (several colons:
// IPv6) and take_colon_by_colon (a word too long to take whole) finds the
// local colon (1), tests its port with service_at (2) and, with no match,
// steps over the next colon (3). count_state_field takes a match's skips (3)
// and counts (4). Near a window's end, and for runs longer than its masks,
// it leaves the rest to the plain walk.
#include "counting/scan.h"

#include <cstring>

#include "counting/scan_internal.h"

namespace {

// The bytes that end a word, and with it the port field after its last
// colon: only a space can end a port that matches.
bool ends_word(char byte)
{
    return byte == ' ' || byte == '\r' || byte == '\n';
}

// The candidate service whose whole port text is `length` bytes long, or -1.
// Port texts differ, so at most one can be.
int service_of_length(std::uint8_t candidates, std::size_t length)
{
    for (int i = 0; i < service_count; ++i)
        if ((candidates >> i & 1) && service_table[i].port_text.size() == length)
            return i;
    return -1;
}

// The end, at `at`, of a word that held colons. Which colon of a line the
// word's last colon is depends on where the walk stood at the word's start
// and on how many colons the word showed: the first of two is a local colon
// whose port field runs into the second, so fails, and the second is then
// stepped over, or tested if the first was the one to step over.
const char *end_word(scan_state &state, const char *at)
{
    const bool tested = (state.step == scan_step::seek_local) != (state.word_colons == 2);
    state.word_colons = 0;
    if (tested && *at == ' ') {
        const int service = service_of_length(state.candidates, state.matched);
        if (service >= 0) {
            state.step = scan_step::spaces_before_remote;
            state.service = static_cast<std::int8_t>(service);
            return at;  // the space is taken by the step that follows
        }
    }
    state.step = tested ? scan_step::seek_remote : scan_step::seek_local;
    return at + 1;
}

// Inside a word that has shown a colon: up to the word's end, where the walk
// learns what its colons were.
const char *step_word(scan_state &state, const char *at, const char *end)
{
    for (; at < end; ++at) {
        const char byte = *at;
        if (byte == ':') {
            state.word_colons = static_cast<std::uint8_t>(state.word_colons < 3 ? state.word_colons + 1 : 3);
            state.candidates = every_service;
            state.matched = 0;
        } else if (ends_word(byte)) {
            return end_word(state, at);
        } else if (state.candidates != 0) {
            std::uint8_t still = 0;
            for (int i = 0; i < service_count; ++i) {
                const std::string_view port = service_table[i].port_text;
                if ((state.candidates >> i & 1) && state.matched < port.size() && port[state.matched] == byte)
                    still |= static_cast<std::uint8_t>(1u << i);
            }
            state.candidates = still;
            ++state.matched;
        }
    }
    return end;
}

const char *step_state(scan_state &state, const char *at, service_counts &counts)
{
    if (state.matched < established.size()) {
        if (*at == established[state.matched]) {
            ++state.matched;
            return at + 1;
        }
    } else if (ends_state_field(*at)) {
        ++counts[state.service];
    }
    // ESTABLISHED holds no colon, so the search for the next one starts at
    // the byte that settled the state, not back at the field's start.
    state.step = scan_step::seek_local;
    return at;
}

const char *skip_spaces(const char *at, const char *end)
{
    while (at < end && *at == ' ')
        ++at;
    return at;
}

const char *find_byte(const char *at, const char *end, char byte)
{
    const void *hit = std::memchr(at, byte, static_cast<std::size_t>(end - at));
    return hit ? static_cast<const char *>(hit) : end;
}

// Takes one step from `at` (before `end`) and returns where the walk goes on.
const char *step_plain(scan_state &state, const char *at, const char *end, service_counts &counts)
{
    switch (state.step) {
    case scan_step::seek_local:
    case scan_step::seek_remote: {
        if (state.word_colons != 0)
            return step_word(state, at, end);
        // No colon yet in this word: the next colon is the first of its own.
        const char *colon = find_byte(at, end, ':');
        if (colon == end)
            return end;
        state.word_colons = 1;
        state.candidates = every_service;
        state.matched = 0;
        return colon + 1;
    }
    case scan_step::spaces_before_remote:
        at = skip_spaces(at, end);
        if (at < end)
            state.step = scan_step::remote;
        return at;
    case scan_step::remote:
        at = find_byte(at, end, ' ');
        if (at < end)
            state.step = scan_step::spaces_before_state;
        return at;
    case scan_step::spaces_before_state:
        at = skip_spaces(at, end);
        if (at < end) {
            state.step = scan_step::state;
            state.matched = 0;
        }
        return at;
    case scan_step::state:
        return step_state(state, at, counts);
    }
    return end;
}

block_walker best_walk = nullptr;  // set by use_best_masks, with no scan running

}  // namespace

void use_best_masks(bool best)
{
    if constexpr (have_block_walk) {
        if (!best) {
            best_walk = nullptr;
            return;
        }
        static const block_walker avx2 = avx2_block_walk();
        best_walk = avx2;
    }
}

const char *scan_masks()
{
    return best_walk ? "avx2" : ESTACOUNT_BYTE_MASKS_NAME;
}

void scan_window(scan_state &state, std::string_view window, service_counts &counts)
{
    if constexpr (have_block_walk) {
        const block_walker walk = best_walk ? best_walk : walk_blocks;  // one load, not one for each line
        const char *at = window.data();
        const char *const end = at + window.size();
        while (at < end) {
            const bool seeking = state.step == scan_step::seek_local || state.step == scan_step::seek_remote;
            if (seeking && state.word_colons == 0 && end - at >= lookahead)
                at = walk(state, at, end, counts);
            else
                at = step_plain(state, at, end, counts);
        }
    } else {
        scan_window_plain(state, window, counts);
    }
}

void scan_window_plain(scan_state &state, std::string_view window, service_counts &counts)
{
    for (const char *at = window.data(), *end = at + window.size(); at < end;)
        at = step_plain(state, at, end, counts);
}

// Seeking a local colon with no word open, the walk reads nothing else of
// its state: the next colon sets the candidates and the bytes matched.
bool starts_afresh(const scan_state &state)
{
    return state.step == scan_step::seek_local && state.word_colons == 0;
}

void finish_scan(const scan_state &state, service_counts &counts)
{
    if (state.step == scan_step::state && state.matched == established.size())
        ++counts[state.service];
}

service_counts count_connections(std::string_view dump)
{
    service_counts counts{};
    scan_state state;
    scan_window(state, dump, counts);
    finish_scan(state, counts);
    return counts;
}