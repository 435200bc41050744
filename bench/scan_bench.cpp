// Throughput in bytes per second of the scan alone, in memory, on generated
// listings of the size the program meets every five minutes (5,000,000
// bytes) and of a very busy server (500,000,000 bytes), on one with IPv6
// lines and on contents built to defeat a careless scan. Reading the dump is
// timed by whole runs of the program (compare.sh). It prints figures and
// asserts nothing.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "counting/scan.h"
#include "dump_generator.h"

namespace {

constexpr std::size_t small_size = 5'000'000;
constexpr std::size_t large_size = 500'000'000;
constexpr std::uint64_t seed = 1;

// Built on first use, so that a run filtered to other benchmarks neither
// waits for nor holds the large one.
const std::string &small_listing()
{
    static const std::string listing = make_listing(seed, small_size);
    return listing;
}

const std::string &large_listing()
{
    static const std::string listing = make_listing(seed, large_size);
    return listing;
}

// The same with three lines in ten IPv6 endpoints in brackets.
const std::string &small_ipv6_listing()
{
    static const std::string listing = make_listing(seed, small_size, listing_kind::ipv6);
    return listing;
}

std::string repeat_to_size(std::string_view unit)
{
    std::string text;
    text.reserve(small_size + unit.size());
    while (text.size() < small_size)
        text += unit;
    text.resize(small_size);
    return text;
}

// Argument 0: the build's own masks (SSE2, NEON), as a small dump's run
// has them; 1: the processor's best (AVX2 where it has it), as a large one's.
void scan(benchmark::State &state, const std::string &dump)
{
    use_best_masks(state.range(0) != 0);
    state.SetLabel(scan_masks());
    for (auto _ : state) {
        service_counts counts = count_connections(dump);
        benchmark::DoNotOptimize(counts);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}

void scan_listing_5mb(benchmark::State &state) { scan(state, small_listing()); }

void scan_listing_500mb(benchmark::State &state) { scan(state, large_listing()); }

void scan_ipv6_listing_5mb(benchmark::State &state) { scan(state, small_ipv6_listing()); }

// Every byte a colon: a port test at each one.
void scan_colons_only(benchmark::State &state)
{
    static const std::string dump(small_size, ':');
    scan(state, dump);
}

// A match at every colon and no line end: a scan that looked for the end of
// each state field would read the rest of the dump every time.
void scan_matches_without_line_ends(benchmark::State &state)
{
    static const std::string dump = repeat_to_size("a:80 b:1 ");
    scan(state, dump);
}

// No spaces at all: a scan that measured each port field would.
void scan_without_spaces(benchmark::State &state)
{
    static const std::string dump = repeat_to_size("a:8");
    scan(state, dump);
}

}  // namespace

BENCHMARK(scan_listing_5mb)->Arg(0)->Arg(1);
BENCHMARK(scan_listing_500mb)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
BENCHMARK(scan_ipv6_listing_5mb)->Arg(0)->Arg(1);
BENCHMARK(scan_colons_only)->Arg(0)->Arg(1);
BENCHMARK(scan_matches_without_line_ends)->Arg(0)->Arg(1);
BENCHMARK(scan_without_spaces)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
