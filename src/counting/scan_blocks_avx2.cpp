// The block walk built a second time, for processors with AVX2: the same
// source (scan_blocks.cpp), its masks taken from the avx2 section of
// byte_masks.h, and every function of it built for AVX2. scan_window runs
// it once the processor has said it has AVX2; the build itself assumes no
// more than SSE2.
//
// Every header the walk needs comes in before the switch to AVX2, so that
// none of their inline functions is built for AVX2 here: the linker keeps
// one copy of each, and a processor without AVX2 could be handed this one.
#include <bit>
#include <cstring>

#include "counting/scan_internal.h"

#if ESTACOUNT_AVX2_MASKS
#include <cpuid.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

// The walk's functions live in this unnamed namespace and find these
// before the SSE2 masks of the same names.
namespace {
using avx2::byte_mask_16;
using avx2::byte_mask_64;
using avx2::masks_of;
}  // namespace

const char *walk_blocks_avx2(scan_state &state, const char *at, const char *end, service_counts &counts);
#define walk_blocks walk_blocks_avx2
#include "counting/scan_blocks.cpp"
#undef walk_blocks

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The processor's own answer, from cpuid, rather than the compiler's
// __builtin_cpu_supports: that links a constructor asking a dozen questions
// at every start, a tenth of a small dump's whole run in a virtual machine.
// AVX2 needs the processor's bit (leaf 7) and the system saving the vector
// registers on a switch (OSXSAVE, then XCR0's SSE and AVX state).
block_walker avx2_block_walk()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return nullptr;
    unsigned xcr0 = 0, high = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
    if ((xcr0 & 6) != 6 || !__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_AVX2))
        return nullptr;
    return walk_blocks_avx2;
}

#else

block_walker avx2_block_walk()
{
    return nullptr;
}

#endif  // ESTACOUNT_AVX2_MASKS
