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

bool seeking(const scan_state &state)
{
    return state.step == scan_step::seek_local || state.step == scan_step::seek_remote;
}

// ---------------------------------------------------------------------------
// The plain walk: each call takes one step, over one byte or over a run of
// bytes that a single search can pass (up to a colon, up to a space, to the
// end of a word).

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
// The block walk: whole lines at a time, from 64-bit masks that mark the
// colons or the spaces among 64 bytes, so that a busy listing costs a few
// instructions per line rather than a few per byte. It takes every line the
// plain walk would take the same way, and leaves the rest to it.

// The bytes of a block that matter to the careful walk: bit i of `colons` is
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

// A port text and the space that ends it, as the four bytes at a port field
// read as one number, and which of those bytes count: so that the port test
// is one load and a compare per service rather than byte after byte (a
// listing of random ports scanned a fifth faster so).
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

// What the block walk may read ahead of a block's start: the block, the 64
// bytes after a colon in it, which tell where the colon's word ends and
// which colons it holds, the port after a colon, the 64 bytes after that
// port, and a state field and its end that start among them.
constexpr std::ptrdiff_t lookahead = 64 + 4 + 64 + 12;

// True when the colon at `colon` is its word's last: a space comes before
// any colon in the 16 bytes after it. False also when the word ends at a CR
// or LF, or later: the careful walk then looks again.
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

// What the careful walk made of a colon: passed it, found a matching port
// to go on from, or found a run of bytes too long to see whether the colon
// ends its word, which the plain walk then takes on after the colon.
enum class careful_step { passed, matched, plain };

// The block walk's step at a colon of a block whose words may hold several
// colons, from the block's exact masks. `local` says where the walk stood
// when the colon's word began and `before` how many of its colons it has
// passed (2 for two or more); both are brought up to date, and `service` is
// set to the port's service.
careful_step careful_colon(const block_masks &masks, const char *block, const char *colon, bool &local,
                           std::uint8_t &before, int &service)
{
    // A matching port ends at a space, so its colon is its word's last; any
    // other colon is its word's last when the first bound after it ends the
    // word.
    const int bit = static_cast<int>(colon - block);
    service = service_at(colon + 1);
    bool last = service >= 0;
    if (!last) {
        const std::uint64_t after = masks.bounds >> bit >> 1;
        if (after != 0) {
            last = (masks.colons >> bit >> 1 & after & (~after + 1)) == 0;
        } else {
            const block_masks probe = masks_of(colon + 1, 1);
            if (probe.bounds == 0)
                return careful_step::plain;
            last = (probe.colons & probe.bounds & (~probe.bounds + 1)) == 0;
        }
    }
    if (!last) {
        before = static_cast<std::uint8_t>(before < 2 ? before + 1 : 2);
        return careful_step::passed;
    }
    // The word's last colon: tested as a local one, or stepped over (see
    // end_word).
    const bool tested = local != (before == 1);
    before = 0;
    if (!tested || service < 0) {
        local = !tested;
        return careful_step::passed;
    }
    return careful_step::matched;
}

// Hands a word over to the plain walk just after its colon `colon`, before
// which it showed `before` colons, the word having begun where `local`
// says.
const char *resume_after(scan_state &state, const char *colon, bool local, std::uint8_t before)
{
    state.step = local ? scan_step::seek_local : scan_step::seek_remote;
    state.word_colons = static_cast<std::uint8_t>(before + 1);
    state.candidates = every_service;
    state.matched = 0;
    return colon + 1;
}

// Starts seeking a colon at `at`, at least `lookahead` bytes before `end`,
// with no colon of the current word behind it. Returns where it stopped,
// with `state` saying which step the walk is in there.
const char *walk_blocks(scan_state &state, const char *at, const char *end,
                        service_counts &counts)
{
    const char *block = at;
    bool local = state.step == scan_step::seek_local;  // where the current word began
    std::uint8_t before = 0;  // colons of the current word passed: 0, 1, or 2 for more
    // Each colon is taken as a whole endpoint's, as in an IPv4 listing, when
    // the bytes after it show it ends its word; the first colon of a word
    // that does not is taken with its word at once. Only a word walked colon
    // by colon needs the block's exact masks (`bounds` stays 0 until then).
    block_masks masks{byte_mask(block, ':'), 0};
    std::uint64_t colons = masks.colons;  // those not yet passed
    for (;;) {
        if (colons == 0) {
            block += 64;
            if (end - block < lookahead) {
                // A word still open has shown `before` colons, and shows its
                // next one before it ends: the plain walk need not know the
                // port bytes in between.
                state.step = local ? scan_step::seek_local : scan_step::seek_remote;
                state.word_colons = before;
                state.candidates = 0;
                state.matched = 0;
                return block;
            }
            masks = before == 0 ? block_masks{byte_mask(block, ':'), 0} : masks_of(block, 4);
            colons = masks.colons;
            continue;
        }
        const int bit = std::countr_zero(colons);
        const char *colon = block + bit;
        colons &= colons - 1;

        // Unless inside a word walked colon by colon, every colon reached is
        // its word's first: the colon before it ended its word.
        int service = -1;
        bool careful = before != 0;
        if (!careful) {
            if (!local) {
                if (space_before_colon(colon)) {
                    local = true;
                    continue;
                }
                careful = true;
            } else if (service = service_at(colon + 1); service < 0) {
                // The next colon is most often the remote endpoint's, in the
                // same block, and the only one of its word: stepped over, as
                // the old walk did, once the bytes after it show its word
                // ends. Should this colon not be its word's last, the two
                // make a word of two colons, which leaves the walk where it
                // was all the same. With no next colon in the block, this
                // one must show it ends its word.
                if (colons != 0) {
                    if (space_before_colon(block + std::countr_zero(colons))) {
                        colons &= colons - 1;
                        continue;
                    }
                } else if (space_before_colon(colon)) {
                    local = false;
                    continue;
                }
                careful = true;
            }
        }
        if (careful && before == 0) {
            // Most often the whole word lies in the 16 bytes after its first
            // colon, else in the 64: its colons are those up to its end, and
            // only its last may be tested.
            block_masks ahead = masks_of(colon + 1, 1);
            if ((ahead.bounds & ~ahead.colons) == 0)
                ahead = masks_of(colon + 1, 4);
            const std::uint64_t ends = ahead.bounds & ~ahead.colons;
            if (ends == 0) {
                if (masks.bounds == 0)
                    masks = masks_of(block, 4);
                goto colon_by_colon;  // a word longer than that
            }
            const int end_at = 1 + std::countr_zero(ends);  // the word's end, from `colon`
            // The word's colons after this one, as bits from `colon`.
            const std::uint64_t more = (ahead.colons << 1) & (~std::uint64_t{0} >> (64 - end_at));
            colons &= ~(more << bit);
            // Colons before the last: 0, 1, or 2 for more (see end_word).
            const std::uint8_t shown = more == 0 ? 0 : (more & (more - 1)) == 0 ? 1 : 2;
            const bool tested = local != (shown == 1);
            const char *last = more != 0 ? colon + 63 - std::countl_zero(more) : colon;
            service = tested ? service_at(last + 1) : -1;
            if (service < 0) {
                local = !tested;
                if (colons == 0 && colon + end_at - block > 64) {
                    // The word ended in the next block: on from its end.
                    block = colon + end_at;
                    if (end - block < lookahead) {
                        state.step = local ? scan_step::seek_local : scan_step::seek_remote;
                        state.word_colons = 0;
                        return block;
                    }
                    masks = {byte_mask(block, ':'), 0};
                    colons = masks.colons;
                }
                continue;
            }
            if (last - block >= 64) {
                // The port is read from a block that starts at its colon.
                if (end - last < lookahead)
                    return resume_after(state, last, local, shown);
                block = last;
                masks = {byte_mask(block, ':'), 0};
                colons = masks.colons & ~std::uint64_t{1};
            }
            colon = last;
            careful = false;  // on to the state field
        }
    colon_by_colon:
        if (careful) {
            switch (careful_colon(masks, block, colon, local, before, service)) {
            case careful_step::passed:
                continue;
            case careful_step::plain:
                return resume_after(state, colon, local, before);
            case careful_step::matched:
                break;
            }
        }

        // From the space after the port: spaces, the remote endpoint,
        // spaces, then the state field. A run that leaves the 64 bytes goes
        // on in the plain walk.
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

        // The next colon is searched from the state field itself: a line
        // with no state takes the next line's first word as its state, and
        // that line is then still examined. The field starts a word.
        local = true;
        if (field - block < 64) {
            colons &= ~std::uint64_t{0} << (field - block);
        } else {
            block = field;
            if (end - block < lookahead) {
                state.step = scan_step::seek_local;
                return block;
            }
            masks = {byte_mask(block, ':'), 0};
            colons = masks.colons;
        }
    }
}

}  // namespace

void scan_window(scan_state &state, std::string_view window, service_counts &counts)
{
    const char *at = window.data();
    const char *const end = at + window.size();
    while (at < end) {
        if (seeking(state) && state.word_colons == 0 && end - at >= lookahead)
            at = walk_blocks(state, at, end, counts);
        else
            at = step_plain(state, at, end, counts);
    }
}

void scan_window_plain(scan_state &state, std::string_view window, service_counts &counts)
{
    const char *at = window.data();
    const char *const end = at + window.size();
    while (at < end)
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
