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

block_walker avx2_block_walk()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? walk_blocks_avx2 : nullptr;
}

#else

block_walker avx2_block_walk()
{
    return nullptr;
}

#endif  // ESTACOUNT_AVX2_MASKS
