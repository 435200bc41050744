// The byte masks of the scan's block walk: which of a run of bytes are a
// given byte, one bit each, from the vector instructions of the machine.
// Each instruction set the build can assume has one section below, which
// sets ESTACOUNT_BYTE_MASKS to 1 and ESTACOUNT_BYTE_MASKS_NAME to its name;
// where none applies, ESTACOUNT_BYTE_MASKS is 0 and the scan runs its plain
// walk alone: masks built byte by byte cost more than they save. AVX2, which
// only the processor can vouch for, has a last section of its own, in
// namespace avx2 (ESTACOUNT_AVX2_MASKS).
//
// Every section defines the same three functions. They read every byte they
// are given the address of and no other, and never fail; bit i of a mask
// stands for the byte at offset i.
//
//   std::uint32_t byte_mask_16(const char *at, char byte)
//       the 16 bytes from `at` that are `byte` (bits 16 to 31 clear);
//   std::uint64_t byte_mask_64(const char *at, char byte)
//       the same for the 64 bytes from `at`;
//   block_masks masks_of(const char *at, int parts)
//       for the 16 * `parts` bytes from `at` (parts 1 to 4): the colons, and
//       the bounds (a colon, space, CR or LF), higher bits clear.
#pragma once

#include <cstdint>

// The bytes of a block that matter to a word walked colon by colon: bit i of
// `colons` is set when block[i] is a colon, and of `bounds` when it is a
// colon or ends a word; the first bound after a colon tells whether it was
// its word's last.
struct block_masks {
    std::uint64_t colons;
    std::uint64_t bounds;
};

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
// SSE2: every x86-64 machine, and 32-bit x86 built with -msse2.
#include <emmintrin.h>
#define ESTACOUNT_BYTE_MASKS 1
#define ESTACOUNT_BYTE_MASKS_NAME "sse2"

inline std::uint32_t byte_mask_16(const char *at, char byte)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    return static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte))));
}

inline std::uint64_t byte_mask_64(const char *at, char byte)
{
    const __m128i wanted = _mm_set1_epi8(byte);
    std::uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * i));
        const int bits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted));
        mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(bits)) << (16 * i);
    }
    return mask;
}

inline block_masks masks_of(const char *at, int parts)
{
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    block_masks masks{0, 0};
    for (int i = 0; i < parts; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * i));
        const __m128i colons = _mm_cmpeq_epi8(bytes, colon);
        const __m128i bounds = _mm_or_si128(_mm_or_si128(colons, _mm_cmpeq_epi8(bytes, space)),
                                            _mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
        const unsigned shift = 16u * static_cast<unsigned>(i);
        masks.colons |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(colons))) << shift;
        masks.bounds |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(bounds))) << shift;
    }
    return masks;
}

#elif defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// NEON: every arm64 machine (little-endian, as Debian's arm64 is; 32-bit ARM
// lacks the pairwise adds of 16 bytes). It has no movemask: each byte of a
// compare (0xFF or 0) keeps the bit of its place among 8 bytes, and three
// rounds of pairwise adds fold 64 bytes into the 8 bytes of one mask, byte
// i's bit at bit i.
#include <arm_neon.h>
#define ESTACOUNT_BYTE_MASKS 1
#define ESTACOUNT_BYTE_MASKS_NAME "neon"

// A compare's result with each byte cut to its bit: 1 << (i % 8) in byte i.
inline uint8x16_t place_bits(uint8x16_t equal)
{
    static constexpr std::uint8_t places[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    return vandq_u8(equal, vld1q_u8(places));
}

// The mask of four compares of 16 bytes each, the first in the low bits.
inline std::uint64_t fold_64(uint8x16_t first, uint8x16_t second, uint8x16_t third, uint8x16_t fourth)
{
    const uint8x16_t halves = vpaddq_u8(vpaddq_u8(place_bits(first), place_bits(second)),
                                        vpaddq_u8(place_bits(third), place_bits(fourth)));
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(halves, halves)), 0);
}

// 0xFF in each of the 16 bytes from `at` that is `byte`, 0 in the others.
inline uint8x16_t equal_bytes(const char *at, char byte)
{
    return vceqq_u8(vld1q_u8(reinterpret_cast<const std::uint8_t *>(at)), vdupq_n_u8(static_cast<std::uint8_t>(byte)));
}

inline std::uint32_t byte_mask_16(const char *at, char byte)
{
    uint8x16_t folded = place_bits(equal_bytes(at, byte));
    for (int round = 0; round < 3; ++round)
        folded = vpaddq_u8(folded, folded);
    return vgetq_lane_u16(vreinterpretq_u16_u8(folded), 0);
}

inline std::uint64_t byte_mask_64(const char *at, char byte)
{
    return fold_64(equal_bytes(at, byte), equal_bytes(at + 16, byte), equal_bytes(at + 32, byte),
                   equal_bytes(at + 48, byte));
}

inline block_masks masks_of(const char *at, int parts)
{
    uint8x16_t colons[4] = {vdupq_n_u8(0), vdupq_n_u8(0), vdupq_n_u8(0), vdupq_n_u8(0)};
    uint8x16_t bounds[4] = {vdupq_n_u8(0), vdupq_n_u8(0), vdupq_n_u8(0), vdupq_n_u8(0)};
    for (int i = 0; i < parts; ++i) {
        const uint8x16_t bytes = vld1q_u8(reinterpret_cast<const std::uint8_t *>(at + 16 * i));
        colons[i] = vceqq_u8(bytes, vdupq_n_u8(':'));
        bounds[i] = vorrq_u8(vorrq_u8(colons[i], vceqq_u8(bytes, vdupq_n_u8(' '))),
                             vorrq_u8(vceqq_u8(bytes, vdupq_n_u8('\r')), vceqq_u8(bytes, vdupq_n_u8('\n'))));
    }
    return {fold_64(colons[0], colons[1], colons[2], colons[3]), fold_64(bounds[0], bounds[1], bounds[2], bounds[3])};
}
#else
#define ESTACOUNT_BYTE_MASKS 0
#define ESTACOUNT_BYTE_MASKS_NAME "none"
#endif

// AVX2, on x86-64 processors that have it (chosen at run time: the build
// assumes SSE2 alone): the same functions in namespace avx2, each 64 bytes
// in two 32-byte compares where SSE2 makes four of 16. They are built for
// AVX2 only and called only from the block walk built for it
// (scan_blocks_avx2.cpp), so no processor without AVX2 ever runs them.
#if ESTACOUNT_BYTE_MASKS && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ESTACOUNT_AVX2_MASKS 1

namespace avx2 {

[[gnu::target("avx2")]] inline std::uint32_t byte_mask_16(const char *at, char byte)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    return static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte))));
}

[[gnu::target("avx2")]] inline std::uint64_t bits_of(__m256i matches, int half)
{
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(matches))) << (32 * half);
}

[[gnu::target("avx2")]] inline std::uint64_t byte_mask_64(const char *at, char byte)
{
    const __m256i wanted = _mm256_set1_epi8(byte);
    std::uint64_t mask = 0;
    for (int half = 0; half < 2; ++half) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 32 * half));
        mask |= bits_of(_mm256_cmpeq_epi8(bytes, wanted), half);
    }
    return mask;
}

// Fewer than four parts take the SSE2 way: a 32-byte load would read past
// the 16 * parts bytes the caller vouches for.
[[gnu::target("avx2")]] inline block_masks masks_of(const char *at, int parts)
{
    if (parts < 4)
        return ::masks_of(at, parts);
    block_masks masks{0, 0};
    for (int half = 0; half < 2; ++half) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 32 * half));
        const __m256i colons = _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(':'));
        const __m256i spaces = _mm256_or_si256(colons, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' ')));
        const __m256i ends = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\r')),
                                             _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n')));
        masks.colons |= bits_of(colons, half);
        masks.bounds |= bits_of(_mm256_or_si256(spaces, ends), half);
    }
    return masks;
}

}  // namespace avx2

#else
#define ESTACOUNT_AVX2_MASKS 0
#endif
