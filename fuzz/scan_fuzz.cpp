// libFuzzer target: any bytes as a dump, and as a service list. The scan
// must give the counts of the direct reading (count_directly.h) whole,
// through the plain walk, in windows cut anywhere, as the read hands them
// over, and in shares scanned on threads; it aborts on a difference.
// Under AddressSanitizer a read outside the dump's bytes, or outside a
// window, stops the run too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "count_directly.h"
#include "counting/dump.h"
#include "counting/scan.h"
#include "front/service_list.h"

namespace {

using window_walk = void (*)(scan_state &, std::string_view, service_counts &);

// Counts `dump` by handing it to `walk` window after window, then finishing
// the scan. The window sizes come from the dump's own bytes, one byte per
// window and round again: window k holds 1 + dump[k] % widest bytes (fewer
// at the end), so every mutation of the input moves the cuts as well. Each
// window is a heap copy of exactly its length, so that a walk reading past
// its end, into where the next window's bytes would be, is caught.
service_counts count_in_windows(std::string_view dump, window_walk walk, unsigned widest)
{
    service_counts counts{};
    scan_state state;
    std::size_t at = 0;
    for (std::size_t k = 0; at < dump.size(); ++k) {
        const unsigned cut = 1 + static_cast<unsigned char>(dump[k % dump.size()]) % widest;
        const std::size_t size = std::min<std::size_t>(cut, dump.size() - at);
        const std::unique_ptr<char[]> window(new char[size]);
        std::memcpy(window.get(), dump.data() + at, size);
        walk(state, {window.get(), size}, counts);
        at += size;
    }
    finish_scan(state, counts);
    return counts;
}

// The plain walk over the whole dump in one call.
service_counts count_plainly(std::string_view dump)
{
    service_counts counts{};
    scan_state state;
    scan_window_plain(state, dump, counts);
    finish_scan(state, counts);
    return counts;
}

// Counts `dump` in `shares` shares on threads, read in windows whose width
// the dump's last byte sets, so that the cuts move with every mutation.
service_counts count_in_shares(std::string_view dump, unsigned shares)
{
    service_counts counts{};
    const std::size_t window = dump.empty() ? 1 : 1 + static_cast<unsigned char>(dump.back()) % 64;
    if (scan_from({read_view, &dump}, dump.size(), {0, window, shares}, counts) != read_result::done)
        std::abort();
    return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const service_counts counts = count_connections(bytes);
    if (counts != count_directly(bytes))
        std::abort();

    // Each count needs at least one colon and the eleven bytes of ESTABLISHED.
    std::int64_t total = 0;
    for (std::int64_t count : counts) {
        if (count < 0)
            std::abort();
        total += count;
    }
    if (static_cast<std::size_t>(total) * 12 > size)
        std::abort();

    // Windows of up to 256 bytes cut inside fields and lines; windows of up
    // to 3 bytes put a cut at nearly every step of the walk.
    if (count_plainly(bytes) != counts || count_in_windows(bytes, scan_window, 256) != counts ||
        count_in_windows(bytes, scan_window, 3) != counts ||
        count_in_windows(bytes, scan_window_plain, 256) != counts)
        std::abort();
    // As a large dump's run: AVX2 where the processor has it, and in shares.
    use_best_masks(true);
    if (count_connections(bytes) != counts || count_in_windows(bytes, scan_window, 256) != counts)
        std::abort();
    for (const unsigned shares : {1u, 2u, 3u, 7u})
        if (count_in_shares(bytes, shares) != counts)
            std::abort();
    use_best_masks(false);

    if (service_list_is_bracketed(bytes))
        parse_service_list(bytes);
    return 0;
}
