// How a line is taken, in four steps (scan.h gives the rules):
//   1. find the local colon: the next colon the word rule shows;
//   2. test the port after it against the four services' ports;
//   3. no match: step over the next colon, the remote endpoint's; a match:
//      skip the port, spaces, the remote endpoint and spaces;
//   4. count the state field there if it is ESTABLISHED up to a line end,
//      and go on from the field itself.
// The plain walk (step_plain) takes a step per byte or run of bytes and
// carries its place between windows in a scan_state. The block walk
// (walk_blocks) takes whole lines from 64-byte masks: step 1 is take_colon
// (a colon that ends its word: IPv4), take_word (several colons: IPv6) or
// take_colon_by_colon (a word too long to take whole), step 2 service_at,
// steps 3 and 4 count_state_field. Near a window's end, and for runs longer
// than its masks, it leaves the rest to the plain walk.
#include "counting/scan.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ESTACOUNT_SSE2 1
#endif

namespace {

constexpr std::string_view established = "ESTABLISHED";
constexpr std::uint8_t every_service = (1u << service_count) - 1;

// A line feed ends the state field as a carriage return does, so that dumps
// saved with Unix line ends count like those saved with CR LF.
bool ends_state_field(char byte)
{
    return byte == '\r' || byte == '\n';
}

// ---------------------------------------------------------------------------
// The plain walk.

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

// ---------------------------------------------------------------------------
// The block walk: a few instructions per line rather than a few per byte.

// The bytes of a block that matter to a word walked colon by colon: bit i of `colons` is
// set when block[i] is a colon, and of `bounds` when it is a colon or ends a
// word; the first bound after a colon tells whether it was its word's last.
struct block_masks {
    std::uint64_t colons;
    std::uint64_t bounds;
};

// The masks of the 16 * `parts` bytes from `block` (parts 1 to 4).
block_masks masks_of(const char *block, int parts)
{
#ifdef ESTACOUNT_SSE2
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    block_masks masks{0, 0};
    for (int i = 0; i < parts; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i));
        const __m128i colons = _mm_cmpeq_epi8(bytes, colon);
        const __m128i bounds = _mm_or_si128(_mm_or_si128(colons, _mm_cmpeq_epi8(bytes, space)),
                                            _mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
        const unsigned shift = 16u * static_cast<unsigned>(i);
        masks.colons |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(colons))) << shift;
        masks.bounds |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(bounds))) << shift;
    }
    return masks;
#else
    block_masks masks{0, 0};
    for (int i = 0; i < 16 * parts; ++i) {
        const char byte = block[i];
        masks.colons |= static_cast<std::uint64_t>(byte == ':') << i;
        masks.bounds |= static_cast<std::uint64_t>(byte == ':' || ends_word(byte)) << i;
    }
    return masks;
#endif
}

// Bit i is set when block[i] == byte, for the 64 bytes from block.
std::uint64_t byte_mask(const char *block, char byte)
{
#ifdef ESTACOUNT_SSE2
    const __m128i wanted = _mm_set1_epi8(byte);
    std::uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i));
        const int bits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted));
        mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(bits)) << (16 * i);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (int i = 0; i < 64; ++i)
        mask |= static_cast<std::uint64_t>(block[i] == byte) << i;
    return mask;
#endif
}

// A port text and the space that ends it as one number, and which of its
// four bytes count: a port test in one load (a fifth faster than by bytes).
struct port_word {
    std::uint32_t bytes;
    std::uint32_t mask;
};

constexpr port_word port_word_of(std::string_view port_text)
{
    static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);
    port_word word{0, 0};
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned shift = std::endian::native == std::endian::little ? 8 * i : 8 * (3 - i);
        if (i <= port_text.size()) {
            const char byte = i < port_text.size() ? port_text[i] : ' ';
            word.bytes |= static_cast<std::uint32_t>(static_cast<unsigned char>(byte)) << shift;
            word.mask |= std::uint32_t{0xFF} << shift;
        }
    }
    return word;
}

constexpr port_word port_words[service_count] = {
    port_word_of(service_table[0].port_text), port_word_of(service_table[1].port_text),
    port_word_of(service_table[2].port_text), port_word_of(service_table[3].port_text)};
static_assert(service_table[0].port_text.size() < 4 && service_table[1].port_text.size() < 4 &&
              service_table[2].port_text.size() < 4 && service_table[3].port_text.size() < 4);

// The service whose port text is the port field at `port`, which is followed
// by at least four readable bytes; or -1.
int service_at(const char *port)
{
    std::uint32_t word;
    std::memcpy(&word, port, sizeof word);
    int service = -1;
    for (int i = service_count - 1; i >= 0; --i)
        service = (word & port_words[i].mask) == port_words[i].bytes ? i : service;
    return service;
}

// What the block walk may read ahead of a block's start: a colon in it, the
// 64 bytes after that (where its word ends, which colons it holds), the
// word's last colon among them and its port, the 64 bytes after that port,
// and a state field and its end that start among them.
constexpr std::ptrdiff_t lookahead = 64 + 64 + 4 + 64 + 12;

// True when the colon at `colon` is its word's last: a space comes before
// any colon in the 16 bytes after it. False also when the word ends at a CR
// or LF, or later: the walk then looks again.
bool space_before_colon(const char *colon)
{
#ifdef ESTACOUNT_SSE2
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(colon + 1));
    const unsigned spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
    const unsigned colons = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(':'))));
    // Counting 32 where there is none, which no space comes before.
    return std::countr_zero(spaces) < std::countr_zero(colons);
#else
    for (int i = 1; i <= 16; ++i)
        if (colon[i] == ' ' || colon[i] == ':')
            return colon[i] == ' ';
    return false;
#endif
}

// Where the block walk stands: the 64 bytes from `block` and which of their
// colons lie ahead. `local` says where the current word began (seeking the
// local colon, or the one to step over), and `before` how many of its
// colons a word walked colon by colon has passed: 0, 1, or 2 for more. Only
// then are the block's exact masks needed (`bounds` stays 0 until then).
struct block_walk {
    const char *block;
    const char *end;
    block_masks masks;
    std::uint64_t colons;
    bool local;
    std::uint8_t before;
};

// What a step made of a colon: passed it, found the local colon with a
// service's port, or must leave it to the next step: the word taken whole,
// colon by colon, or, near the window's end or in a word too long even for
// that, by the plain walk from the block's start or after the colon.
enum class taken { passed, matched, whole, colon_by_colon, plain_at_block, plain_after_colon };

// Puts the block at `at`; false when that is too near the window's end,
// where the plain walk takes over.
[[gnu::always_inline]] inline bool move_block(block_walk &walk, const char *at)
{
    walk.block = at;
    if (walk.end - at < lookahead)
        return false;
    walk.masks = walk.before == 0 ? block_masks{byte_mask(at, ':'), 0} : masks_of(at, 4);
    walk.colons = walk.masks.colons;
    return true;
}

// Find the local colon, as in an IPv4 listing: a colon whose word ends
// after it, as the 16 bytes after it show, is a whole endpoint's. It is
// tested when the walk seeks a local colon; when no service matches, the
// next colon is stepped over once it too shows that its word ends there
// (if this colon is not its word's last, the two make a word of two colons,
// which leaves the walk where it was all the same). Another colon within
// six bytes marks an IPv6 address, whose word is taken whole at once: any
// word may be, so that only saves work.
taken take_colon(block_walk &walk, const char *colon, int &service)
{
    if ((walk.colons >> (colon - walk.block) >> 1 & 0x3F) != 0)
        return taken::whole;
    if (!walk.local) {
        if (!space_before_colon(colon))
            return taken::whole;
        walk.local = true;
        return taken::passed;
    }
    service = service_at(colon + 1);
    if (service >= 0)
        return taken::matched;
    if (walk.colons != 0) {
        if (!space_before_colon(walk.block + std::countr_zero(walk.colons)))
            return taken::whole;
        walk.colons &= walk.colons - 1;
        return taken::passed;
    }
    // The colon to step over lies in a later block.
    if (!space_before_colon(colon))
        return taken::whole;
    walk.local = false;
    return taken::passed;
}

// Find the local colon in a word of several colons, such as an IPv6
// endpoint: taken whole from the masks of the 16 bytes after its first
// colon, else the 64. Of its colons only the last can be tested (see
// end_word); `colon` is moved to it when its port matches. A word longer
// than that is walked colon by colon.
taken take_word(block_walk &walk, const char *&colon, int &service)
{
    block_masks ahead = masks_of(colon + 1, 1);
    if ((ahead.bounds & ~ahead.colons) == 0)
        ahead = masks_of(colon + 1, 4);
    const std::uint64_t ends = ahead.bounds & ~ahead.colons;
    if (ends == 0) {
        if (walk.masks.bounds == 0)
            walk.masks = masks_of(walk.block, 4);
        return taken::colon_by_colon;
    }
    const int end_at = 1 + std::countr_zero(ends);  // the word's end, from `colon`
    // The word's colons after this one, as bits from `colon`.
    const std::uint64_t more = (ahead.colons << 1) & (~std::uint64_t{0} >> (64 - end_at));
    walk.colons &= ~(more << (colon - walk.block));
    const std::uint8_t shown = more == 0 ? 0 : (more & (more - 1)) == 0 ? 1 : 2;
    const bool tested = walk.local != (shown == 1);
    const char *last = more != 0 ? colon + 63 - std::countl_zero(more) : colon;
    service = tested ? service_at(last + 1) : -1;
    if (service >= 0) {
        colon = last;
        return taken::matched;
    }
    walk.local = !tested;
    // A word that ended in the next block: on from its end.
    if (colon + end_at - walk.block > 64 && !move_block(walk, colon + end_at))
        return taken::plain_at_block;
    return taken::passed;
}

// Find the local colon colon by colon, in a word too long to take whole,
// from the block's exact masks: a colon is its word's last when the first
// bound after it ends the word, or when its port matches, since a matching
// port ends at a space.
taken take_colon_by_colon(block_walk &walk, const char *colon, int &service)
{
    const int bit = static_cast<int>(colon - walk.block);
    service = service_at(colon + 1);
    bool last = service >= 0;
    if (!last) {
        const std::uint64_t after = walk.masks.bounds >> bit >> 1;
        if (after != 0) {
            last = (walk.masks.colons >> bit >> 1 & after & (~after + 1)) == 0;
        } else {
            const block_masks probe = masks_of(colon + 1, 1);
            if (probe.bounds == 0)
                return taken::plain_after_colon;
            last = (probe.colons & probe.bounds & (~probe.bounds + 1)) == 0;
        }
    }
    if (!last) {
        walk.before = static_cast<std::uint8_t>(walk.before < 2 ? walk.before + 1 : 2);
        return taken::passed;
    }
    // The word's last colon: tested as a local one, or stepped over.
    const bool tested = walk.local != (walk.before == 1);
    walk.before = 0;
    if (!tested || service < 0) {
        walk.local = !tested;
        return taken::passed;
    }
    return taken::matched;
}

// Hands the walk over to the plain one just after `colon`, the word's
// latest, before which it showed `before` colons.
const char *resume_after(scan_state &state, const block_walk &walk, const char *colon)
{
    state.step = walk.local ? scan_step::seek_local : scan_step::seek_remote;
    state.word_colons = static_cast<std::uint8_t>(walk.before + 1);
    state.candidates = every_service;
    state.matched = 0;
    return colon + 1;
}

// Hands the walk over to the plain one at `at`, seeking a colon. A word
// still open has shown `before` colons, and shows its next one before it
// ends: the plain walk need not know the port bytes in between.
const char *leave_at(scan_state &state, const block_walk &walk, const char *at)
{
    state.step = walk.local ? scan_step::seek_local : scan_step::seek_remote;
    state.word_colons = walk.before;
    state.candidates = 0;
    state.matched = 0;
    return at;
}

// Skip to the state field and count: from the space after the matched
// port, over spaces, the remote endpoint and spaces to the state field,
// which counts when it is ESTABLISHED up to a line end. The walk goes on
// from the field itself: a line with no state takes the next line's first
// word as its state, and that line is then still examined. Returns where
// the plain walk goes on when a run leaves the 64 bytes, else nullptr.
const char *count_state_field(block_walk &walk, scan_state &state, const char *colon, int service,
                              service_counts &counts)
{
    state.word_colons = 0;
    state.service = static_cast<std::int8_t>(service);
    const char *gap = colon + 1 + service_table[service].port_text.size();
    const std::uint64_t spaces = byte_mask(gap, ' ');
    const std::uint64_t others = ~spaces;
    if (others == 0) {
        state.step = scan_step::spaces_before_remote;
        return gap;
    }
    const int remote = std::countr_zero(others);
    if ((spaces >> remote) == 0) {
        state.step = scan_step::remote;
        return gap + remote;
    }
    const int second_gap = remote + std::countr_zero(spaces >> remote);
    if ((others >> second_gap) == 0) {
        state.step = scan_step::spaces_before_state;
        return gap + second_gap;
    }
    const char *field = gap + second_gap + std::countr_zero(others >> second_gap);
    counts[service] += std::memcmp(field, established.data(), established.size()) == 0 &&
                       ends_state_field(field[established.size()]);
    walk.local = true;  // the field starts a word
    if (field - walk.block < 64)
        walk.colons &= ~std::uint64_t{0} << (field - walk.block);
    else if (!move_block(walk, field))
        return leave_at(state, walk, field);
    return nullptr;
}

// Walks line after line from `at`, at least `lookahead` bytes before `end`,
// seeking a colon with no colon of the current word behind it. Returns
// where it stopped, with `state` saying which step the walk is in there.
const char *walk_blocks(scan_state &state, const char *at, const char *end, service_counts &counts)
{
    block_walk walk{at, end, {}, 0, state.step == scan_step::seek_local, 0};
    move_block(walk, at);
    for (;;) {
        while (walk.colons == 0)
            if (!move_block(walk, walk.block + 64))
                return leave_at(state, walk, walk.block);
        const char *colon = walk.block + std::countr_zero(walk.colons);
        walk.colons &= walk.colons - 1;

        int service = -1;
        taken step = walk.before == 0 ? take_colon(walk, colon, service) : taken::colon_by_colon;
        if (step == taken::whole)
            step = take_word(walk, colon, service);
        if (step == taken::colon_by_colon)
            step = take_colon_by_colon(walk, colon, service);
        if (step == taken::plain_at_block)
            return leave_at(state, walk, walk.block);
        if (step == taken::plain_after_colon)
            return resume_after(state, walk, colon);
        if (step == taken::matched)
            if (const char *plain = count_state_field(walk, state, colon, service, counts))
                return plain;
    }
}

}  // namespace

void scan_window(scan_state &state, std::string_view window, service_counts &counts)
{
    const char *at = window.data();
    const char *const end = at + window.size();
    while (at < end) {
        const bool seeking = state.step == scan_step::seek_local || state.step == scan_step::seek_remote;
        if (seeking && state.word_colons == 0 && end - at >= lookahead)
            at = walk_blocks(state, at, end, counts);
        else
            at = step_plain(state, at, end, counts);
    }
}

void scan_window_plain(scan_state &state, std::string_view window, service_counts &counts)
{
    for (const char *at = window.data(), *end = at + window.size(); at < end;)
        at = step_plain(state, at, end, counts);
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
