// Throughput of the scan and of loading the dump, on a dump of the size the
// program reads in one go (5,000,000 bytes) and on contents built to defeat a
// careless scan. Prints bytes per second; there are no targets to assert.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "counting/dump.h"
#include "counting/scan.h"

namespace {

constexpr std::size_t dump_size = 5'000'000;

std::string repeat_to_size(const std::string &unit)
{
    std::string text;
    text.reserve(dump_size + unit.size());
    while (text.size() < dump_size)
        text += unit;
    text.resize(dump_size);
    return text;
}

// A busy server's listing: mostly other ports and states, some matches.
const std::string listing = repeat_to_size(
    "  TCP    192.168.10.5:80        192.168.10.34:51230    ESTABLISHED\r\n"
    "  TCP    192.168.10.5:443       192.168.10.34:51233    ESTABLISHED\r\n"
    "  TCP    192.168.10.5:110       192.168.10.52:49870    TIME_WAIT\r\n"
    "  TCP    192.168.10.5:50377     93.184.216.34:80       ESTABLISHED\r\n"
    "  UDP    0.0.0.0:5353           *:*                    \r\n");

void scan(benchmark::State &state, const std::string &dump)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(count_connections(dump));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}

void scan_listing(benchmark::State &state) { scan(state, listing); }

// Every byte a colon: a port test at each one.
void scan_colons_only(benchmark::State &state) { scan(state, std::string(dump_size, ':')); }

// A match at every colon and no line end: a scan that looked for the end of
// each state field would read the rest of the dump every time.
void scan_matches_without_line_ends(benchmark::State &state)
{
    scan(state, repeat_to_size("a:80 b:1 "));
}

// No spaces at all: a scan that measured each port field would.
void scan_without_spaces(benchmark::State &state) { scan(state, repeat_to_size("a:8")); }

void load_listing(benchmark::State &state)
{
    char folder[] = "/tmp/estacount-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::string path = dump_path(folder);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    std::fwrite(listing.data(), 1, listing.size(), file);
    std::fclose(file);
    for (auto _ : state) {
        file_bytes dump;
        if (load_dump(folder, dump) != read_result::done)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(dump.data.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * listing.size()));
    std::remove(path.c_str());
    std::remove(folder);
}

}  // namespace

BENCHMARK(scan_listing);
BENCHMARK(scan_colons_only);
BENCHMARK(scan_matches_without_line_ends);
BENCHMARK(scan_without_spaces);
BENCHMARK(load_listing);
BENCHMARK_MAIN();
