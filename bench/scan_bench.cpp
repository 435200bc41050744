// Throughput in bytes per second of the scan, on generated listings of the
// size the program meets every five minutes (5,000,000 bytes) and of a very
// busy server (500,000,000 bytes), on one with IPv6 lines and on contents built to defeat a careless
// scan, and of loading and counting a dump file of each size. It prints
// figures; there are no targets to assert.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "counting/dump.h"
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

void scan(benchmark::State &state, const std::string &dump)
{
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

// A dump file in a scratch folder of its own, written once however often the
// benchmark is started, and removed when the program ends.
struct dump_file {
    std::string folder;  // empty when the file could not be written

    explicit dump_file(std::uint64_t size)
    {
        const char *tmpdir = std::getenv("TMPDIR");
        std::string name = tmpdir && *tmpdir ? tmpdir : "/tmp";
        name += "/estacount-bench-XXXXXX";
        if (!mkdtemp(name.data()))
            return;
        if (write_listing(dump_path(name).c_str(), seed, size))
            folder = name;
        else
            std::remove(name.c_str());
    }
    ~dump_file()
    {
        if (!folder.empty()) {
            std::remove(dump_path(folder).c_str());
            std::remove(folder.c_str());
        }
    }
};

// Counts of a dump read from a file the page cache holds, through the
// program's own read buffer, as one run of the program does: the throughput
// of reading and scanning together.
void load(benchmark::State &state, const dump_file &file, std::uint64_t size)
{
    if (file.folder.empty()) {
        state.SkipWithError("the dump could not be written under $TMPDIR or /tmp");
        return;
    }
    for (auto _ : state) {
        service_counts counts{};
        if (load_dump(file.folder, counts).result != read_result::done) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(counts);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void load_listing_5mb(benchmark::State &state)
{
    static const dump_file file(small_size);
    load(state, file, small_size);
}

void load_listing_500mb(benchmark::State &state)
{
    static const dump_file file(large_size);
    load(state, file, large_size);
}

}  // namespace

BENCHMARK(scan_listing_5mb);
BENCHMARK(scan_listing_500mb)->Unit(benchmark::kMillisecond);
BENCHMARK(scan_ipv6_listing_5mb);
BENCHMARK(scan_colons_only);
BENCHMARK(scan_matches_without_line_ends);
BENCHMARK(scan_without_spaces);
BENCHMARK(load_listing_5mb);
BENCHMARK(load_listing_500mb)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
