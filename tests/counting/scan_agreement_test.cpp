// The block walk, the plain walk and the windowed scan must count alike, on
// listings and on byte soup built to reach every step of the walk at every
// window edge. They are checked against the walk written the most direct
// way: from colon to colon over the whole dump.
#include "counting/scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dump_generator.h"

namespace {

// The walk as netstat's layout explains it, with no regard for speed.
service_counts count_directly(std::string_view dump)
{
    const std::size_t end = dump.size();
    auto find = [&](std::size_t at, char byte) {
        while (at < end && dump[at] != byte)
            ++at;
        return at;
    };
    auto port_is = [&](std::size_t colon, std::string_view port) {
        const std::size_t field_end = find(colon + 1, ' ');
        return dump.substr(colon + 1, field_end - colon - 1) == port;
    };
    service_counts counts{};
    std::size_t cursor = 0;
    for (;;) {
        const std::size_t colon = find(cursor, ':');
        if (colon >= end)
            return counts;
        int service = -1;
        for (int i = 0; i < service_count && service < 0; ++i)
            if (port_is(colon, service_table[i].port_text))
                service = i;
        if (service < 0) {
            cursor = find(colon + 1, ':') + 1;
            continue;
        }
        std::size_t at = colon;
        for (bool spaces : {false, true, false, true})
            while (at < end && (dump[at] == ' ') == spaces)
                ++at;
        std::size_t state_end = at;
        while (state_end < end && dump[state_end] != '\r' && dump[state_end] != '\n')
            ++state_end;
        if (dump.substr(at, state_end - at) == "ESTABLISHED")
            ++counts[service];
        cursor = at;
    }
}

struct random_bytes {
    std::uint64_t seed;
    std::uint64_t next()  // splitmix64
    {
        std::uint64_t z = (seed += 0x9E3779B97F4A7C15);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

// Pieces of lines, near misses and runs long enough to leave the block
// walk's 64-byte look-ahead.
std::string soup(random_bytes &random, std::size_t pieces)
{
    static const std::vector<std::string> vocabulary = {
        ":", ":", ": ", " ", "    ", "\r\n", "\r", "\n", "ESTABLISHED", "ESTABLISHED\r\n",
        "ESTABLISHE", "ESTABLISHEDD", "established", "110", "25", "80", "21", "1", "2", "8",
        "11", "250", "0", "TCP", "10.0.0.5", "[::1]", "\t", std::string(1, '\0'), ":80 ",
        ":110   a:1   ESTABLISHED\r\n", ":25 b:2 ESTABLISHED", std::string(70, ' '),
        std::string(130, 'x'), "  TCP    10.0.0.5:21     10.0.0.9:50003    ESTABLISHED\r\n"};
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i)
        text += vocabulary[random.below(vocabulary.size())];
    return text;
}

// Cuts the dump at random places, some windows a single byte.
service_counts count_in_windows(std::string_view dump, random_bytes &random, bool plain)
{
    service_counts counts{};
    scan_state state;
    std::size_t at = 0;
    while (at < dump.size()) {
        const std::size_t width = random.below(4) == 0 ? 1 : 1 + random.below(300);
        const std::string_view window = dump.substr(at, width);
        if (plain)
            scan_window_plain(state, window, counts);
        else
            scan_window(state, window, counts);
        at += window.size();
    }
    finish_scan(state, counts);
    return counts;
}

void expect_all_agree(std::string_view dump, random_bytes &random, const std::string &label)
{
    const service_counts want = count_directly(dump);
    EXPECT_EQ(count_connections(dump), want) << label;
    service_counts plain{};
    scan_state state;
    scan_window_plain(state, dump, plain);
    finish_scan(state, plain);
    EXPECT_EQ(plain, want) << label << ", plain walk";
    EXPECT_EQ(count_in_windows(dump, random, false), want) << label << ", in windows";
    EXPECT_EQ(count_in_windows(dump, random, true), want) << label << ", plain, in windows";
}

TEST(scan_agreement, byte_soup)
{
    random_bytes random{1};
    for (int i = 0; i < 3000; ++i) {
        const std::string dump = soup(random, 1 + random.below(120));
        expect_all_agree(dump, random, "soup " + std::to_string(i));
        if (HasFailure())
            return;  // one failing dump tells enough
    }
}

TEST(scan_agreement, listings)
{
    random_bytes random{2};
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        const std::string dump = make_listing(seed, 1 + random.below(20000));
        expect_all_agree(dump, random, "listing " + std::to_string(seed));
        if (HasFailure())
            return;
    }
}

// A listing with soup spliced in at random places: mostly the block walk,
// with falls back to the plain one and returns from it.
TEST(scan_agreement, listings_with_soup)
{
    random_bytes random{3};
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
        std::string dump = make_listing(seed, 4000);
        for (int splice = 0; splice < 5; ++splice)
            dump.insert(random.below(dump.size()), soup(random, 1 + random.below(10)));
        expect_all_agree(dump, random, "spliced listing " + std::to_string(seed));
        if (HasFailure())
            return;
    }
}

}  // namespace
