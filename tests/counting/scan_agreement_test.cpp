// The block walk, the plain walk, the windowed scan and the scan in shares
// must count alike, on listings and on byte soup built to reach every step
// of the walk at every window edge and every cut. They are checked against
// the walk written the most direct way (count_directly.h).
#include "counting/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "count_directly.h"
#include "counting/byte_masks.h"
#include "counting/dump.h"
#include "dump_generator.h"

// x86-64 and arm64 have vector masks, so there scan_window is the block walk;
// were its masks left out, these rows would hold the plain walk to itself.
#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__)
static_assert(ESTACOUNT_BYTE_MASKS, "the block walk is built here");
#endif

namespace {

// A fixed generator, so that a failing dump comes back on every run.
using random_bytes = std::mt19937_64;
std::size_t below(random_bytes &random, std::size_t n) { return static_cast<std::size_t>(random() % n); }

// Pieces of lines, near misses and runs long enough to leave the block
// walk's 64-byte look-ahead.
std::string soup(random_bytes &random, std::size_t pieces)
{
    static const std::vector<std::string> vocabulary = {
        ":", ": ", " ", "    ", "\r\n", "\r", "\n", "ESTABLISHED", "ESTABLISHED\r\n",
        "ESTABLISHE", "ESTABLISHEDD", "established", "110", "25", "80", "21", "1", "2", "8",
        "11", "250", "0", "TCP", "10.0.0.5", "[::1]", "\t", std::string(1, '\0'), ":80 ",
        ":110   a:1   ESTABLISHED\r\n", ":25 b:2 ESTABLISHED", std::string(70, ' '),
        std::string(130, 'x'), "  TCP    10.0.0.5:21     10.0.0.9:50003    ESTABLISHED\r\n",
        // IPv6 words, and words of many colons longer than a block.
        "[2001:db8::10]:80", "2001:db8::5:25 ", "::", ":::", "[fe80::1c2d:3e4f:5a6b:7c8d%12]:110",
        "a:b:c:", "::ffff:10.0.0.9:21", "10:15", "10:15:30", std::string(210, ':'),
        "1:11:111:1111:11111:1:11:111:1111:11111:1:11:111:1111:11111:1:11:111:1111:11111:1:11:111:1111:11111:80 ", "  TCP    [::1]:80   [2001:db8::9]:50000   ESTABLISHED\r\n",
        "tcp6  0  0 2001:db8::5:21  2001:db8::9:50000  ESTABLISHED\n"};
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i)
        text += vocabulary[below(random, vocabulary.size())];
    return text;
}

// Cuts the dump at random places, some windows a single byte.
service_counts count_in_windows(std::string_view dump, random_bytes &random, bool plain)
{
    service_counts counts{};
    scan_state state;
    std::size_t at = 0;
    while (at < dump.size()) {
        const std::size_t width = below(random, 4) == 0 ? 1 : 1 + below(random, 300);
        const std::string_view window = dump.substr(at, width);
        (plain ? scan_window_plain : scan_window)(state, window, counts);
        at += window.size();
    }
    finish_scan(state, counts);
    return counts;
}

// Cuts the dump into 1, 2, 3 or 7 shares scanned on threads, each read in
// windows of random width, so that cuts fall anywhere in a line and the
// scan ahead often starts out of step.
service_counts count_in_shares(std::string_view dump, random_bytes &random)
{
    static const unsigned shares[] = {1, 2, 3, 7};
    service_counts counts{};
    const scan_plan plan{0, 1 + below(random, 300), shares[below(random, 4)]};
    EXPECT_EQ(scan_from({read_view, &dump}, dump.size(), plan, counts), read_result::done);
    return counts;
}

void expect_all_agree(std::string_view dump, random_bytes &random, const std::string &label)
{
    const service_counts want = count_directly(dump);
    EXPECT_EQ(count_connections(dump), want) << label;
    EXPECT_EQ(count_in_windows(dump, random, false), want) << label << ", in windows";
    EXPECT_EQ(count_in_windows(dump, random, true), want) << label << ", plain, in windows";
    use_best_masks(true);  // as a large dump's run: AVX2 where the processor has it
    EXPECT_EQ(count_connections(dump), want) << label << ", " << scan_masks();
    EXPECT_EQ(count_in_windows(dump, random, false), want) << label << ", " << scan_masks() << ", in windows";
    EXPECT_EQ(count_in_shares(dump, random), want) << label << ", " << scan_masks() << ", in shares";
    use_best_masks(false);
}

TEST(scan_agreement, byte_soup)
{
    random_bytes random{1};
    // One failing dump tells enough.
    for (int i = 0; i < 3000 && !HasFailure(); ++i)
        expect_all_agree(soup(random, 1 + below(random, 120)), random, "soup " + std::to_string(i));
}

// Listings of both kinds with soup spliced in at random places: mostly the
// block walk, with falls back to the plain one and returns from it.
TEST(scan_agreement, listings_with_soup)
{
    random_bytes random{3};
    for (std::uint64_t seed = 0; seed < 300 && !HasFailure(); ++seed) {
        std::string dump = make_listing(seed, 4000, seed % 2 ? listing_kind::ipv6 : listing_kind::ipv4);
        for (int splice = 0; splice < 5; ++splice)
            dump.insert(below(random, dump.size()), soup(random, 1 + below(random, 10)));
        expect_all_agree(dump, random, "spliced listing " + std::to_string(seed));
    }
}

// Lines of both layouts with endpoints of every form: Windows in brackets
// with CR LF, Linux bare with LF, now and then one cut to 23 columns.
std::string endpoint_lines(random_bytes &random, std::size_t lines)
{
    static const std::vector<std::string> addresses = {
        "10.0.0.5", "::", "::1", "fd00::2", "2001:db8::5", "2001:db8:0:0:0:0:0:5", "::ffff:127.0.0.1",
        "fe80::fc:ff:fe00:1", "fe80::1c2d:3e4f:5a6b:7c8d%12", "2001:0:4136:e378:8000:63bf:3fff:fdd2",
        "2001:db8:85a3:8d3:1319:8a2e:370:7348", "2600:1f18:61c:8a00:4"};
    static const std::vector<std::string> ports = {"80", "25", "110", "21", "0", "*", "443", "50000"};
    static const std::vector<std::string> states = {"ESTABLISHED", "ESTABLISHED", "LISTEN", "LISTENING", "TIME_WAIT"};
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        const bool windows = below(random, 2) == 0;
        text += windows ? "  TCP    " : "tcp6       0      0 ";
        for (int side = 0; side < 2; ++side) {
            const std::string &address = addresses[below(random, addresses.size())];
            std::string endpoint = windows && address.find(':') != std::string::npos ? "[" + address + "]" : address;
            endpoint += ":" + ports[below(random, ports.size())];
            text += endpoint + std::string(1 + below(random, 3) * (endpoint.size() < 23 ? 23 - endpoint.size() : 1) / 2, ' ');
        }
        text += states[below(random, states.size())] + (windows ? "\r\n" : "\n");
    }
    return text;
}

TEST(scan_agreement, endpoint_lines)
{
    random_bytes random{4};
    for (int i = 0; i < 1000 && !HasFailure(); ++i)
        expect_all_agree(endpoint_lines(random, 1 + below(random, 40)), random, "endpoint lines " + std::to_string(i));
}

}  // namespace
