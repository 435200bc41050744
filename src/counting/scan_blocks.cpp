// The block walk of the scan: whole lines at a time from 64-byte masks, a
// few instructions per line rather than a few per byte. scan.cpp's opening
// map says which function takes which step; scan_window hands over to the
// plain walk near a window's end, and this walk hands back to it for what
// its masks cannot hold. Built only where byte_masks.h has vector masks,
// and built again for AVX2 by scan_blocks_avx2.cpp, which includes it.
#include "counting/scan_internal.h"

#if ESTACOUNT_BYTE_MASKS

#include <bit>
#include <cstring>

namespace {

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

// True when the colon at `colon` is its word's last: a space comes before
// any colon in the 16 bytes after it. False also when the word ends at a CR
// or LF, or later: the walk then looks again.
bool space_before_colon(const char *colon)
{
    // Counting 32 where there is none, which no space comes before.
    return std::countr_zero(byte_mask_16(colon + 1, ' ')) < std::countr_zero(byte_mask_16(colon + 1, ':'));
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
    walk.masks = walk.before == 0 ? block_masks{byte_mask_64(at, ':'), 0} : masks_of(at, 4);
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
    const std::uint64_t spaces = byte_mask_64(gap, ' ');
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

}  // namespace

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

#endif  // ESTACOUNT_BYTE_MASKS
