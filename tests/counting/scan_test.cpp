#include "counting/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "counting/dump.h"
#include "dump_generator.h"

namespace {

// Lines as Windows netstat -an writes them, without their line end.
const std::string pop3 = "  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED";
const std::string smtp = "  TCP    10.0.0.5:25     10.0.0.9:50001    ESTABLISHED";
const std::string http = "  TCP    10.0.0.5:80     10.0.0.9:50002    ESTABLISHED";
const std::string ftp = "  TCP    10.0.0.5:21     10.0.0.9:50003    ESTABLISHED";

// A connection line in columns of 24, after the head of Windows netstat -an
// or of Linux netstat -tanW.
const char *const win = "  TCP    ", *const lin = "tcp6       0      0 ";
std::string line(const char *head, std::string local, std::string remote, const char *state = "ESTABLISHED")
{
    local.resize(std::max<std::size_t>(local.size() + 1, 24), ' ');
    remote.resize(std::max<std::size_t>(remote.size() + 1, 24), ' ');
    return head + local + remote + state + (head == lin ? "\n" : "\r\n");
}

// The line, then an IPv4 probe line that counts for FTP only if the walk is
// still in step after the line.
std::string probed(const std::string &line) { return line + ftp + "\r\n"; }

// Line ends, empty dumps, Linux listings and two bytes per character are
// covered end to end.
TEST(count_connections, table)
{
    const struct {
        const char *name;
        std::string dump;
        service_counts want;  // POP3, SMTP, HTTP, FTP
    } cases[] = {
        {"headings only", "\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State\r\n", {0, 0, 0, 0}},
        {"one of each", pop3 + "\r\n" + smtp + "\r\n" + http + "\r\n" + ftp + "\r\n", {1, 1, 1, 1}},
        {"other states", "  TCP    10.0.0.5:110    10.0.0.9:5    TIME_WAIT\r\n  TCP    10.0.0.5:80    0.0.0.0:0    LISTENING\r\n", {0, 0, 0, 0}},
        {"near-miss ports", "  TCP    a:1100    b:1    ESTABLISHED\r\n  TCP    a:11    b:1    ESTABLISHED\r\n  TCP    a:2    b:1    ESTABLISHED\r\n  TCP    a:8    b:1    ESTABLISHED\r\n  TCP    a:250    b:1    ESTABLISHED\r\n  TCP    a:021    b:1    ESTABLISHED\r\n", {0, 0, 0, 0}},
        {"remote port is never counted", "  TCP    10.0.0.5:50377    93.184.216.34:80    ESTABLISHED\r\n  TCP    10.0.0.5:50415    10.0.0.9:25    ESTABLISHED\r\n", {0, 0, 0, 0}},
        {"spaces after the state", http + "   \r\n", {0, 0, 0, 0}},
        {"empty state", "  TCP    10.0.0.5:80     10.0.0.9:50002       \r\n" + smtp + "\r\n", {0, 1, 0, 0}},
        {"state in lower case", "  TCP    10.0.0.5:80     10.0.0.9:50002    established\r\n", {0, 0, 0, 0}},
        {"a further column", http + "     4242\r\n", {0, 0, 0, 0}},
        {"bare LF line ends", http + "\n" + http + "\n", {0, 0, 2, 0}},
        {"tabs are no spaces", "  TCP\t10.0.0.5:80\t10.0.0.9:50002\tESTABLISHED\r\n", {0, 0, 0, 0}},
        // No state after the remote endpoint: the next line's first word is
        // taken as the state, and that line is still counted.
        {"state missing", "  TCP    10.0.0.5:80     10.0.0.9:50002\r\n" + smtp + "\r\n", {0, 1, 0, 0}},
        // A single stray colon puts the scan out of step: remote ports are
        // tested until one is a service port, whose line counts nothing.
        {"stray colon", "Taken at 10:15\r\n" + pop3 + "\r\n  TCP    10.0.0.5:4000   10.0.0.9:80    ESTABLISHED\r\n" + ftp + "\r\n", {0, 0, 0, 1}},
        {"time with seconds keeps step", "Taken at 10:15:30\r\n" + pop3 + "\r\n" + ftp + "\r\n", {1, 0, 0, 1}},
        {"ends after a colon", "abc:", {0, 0, 0, 0}},
        {"ends after a port", "abc:80", {0, 0, 0, 0}},
        {"ends in the state", "  TCP a:80 b:1 ESTABLISH", {0, 0, 0, 0}},
        {"ends after the state", "  TCP a:80 b:1 ESTABLISHED", {0, 0, 1, 0}},
        {"colons only", std::string(1000, ':'), {0, 0, 0, 0}},
        // In a word of three or more colons only the last is the walk's.
        {"a:b:c:80", probed(line(win, "a:b:c:80", "d:1")), {0, 0, 1, 1}},
        {"[::1]", probed(line(win, "[::1]:80", "[::1]:50520")), {0, 0, 1, 1}},
        {"[::] listener", probed(line(win, "[::]:110", "[::]:0", "LISTENING")), {0, 0, 0, 1}},
        {"compressed", probed(line(win, "[2001:db8::10]:80", "[2001:db8::20]:50123")), {0, 0, 1, 1}},
        {"eight groups", probed(line(win, "[2001:db8:85a3:8d3:1319:8a2e:370:7348]:110", "[2001:db8:85a3:8d3:1319:8a2e:370:7349]:50000")), {1, 0, 0, 1}},
        {"UDP, no remote port", probed("  UDP    [fe80::1c2d:3e4f:5a6b:7c8d%3]:1900  *:*  \r\n"), {0, 0, 0, 1}},
        {"client of a service", probed(line(win, "[2001:db8::10]:50000", "[2606:4700:4700::1111]:80")), {0, 0, 0, 1}},
        {"Linux :::80", probed(line(lin, ":::80", ":::*", "LISTEN     ")), {0, 0, 0, 1}},
        {"Linux ::1", probed(line(lin, "::1:25", "::1:40000")), {0, 1, 0, 1}},
        {"Linux global", probed(line(lin, "2001:db8::5:80", "2001:db8::9:50000")), {0, 0, 1, 1}},
        {"Linux client of a service", probed(line(lin, "2001:db8::5:50000", "2001:db8::9:80")), {0, 0, 0, 1}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(count_connections(c.dump), c.want) << c.name;
}

TEST(count_connections, reads_nothing_past_the_view)
{
    // The byte after the view would complete the state; it must not count.
    const std::string_view text = "  TCP a:80 b:1 ESTABLISHED";
    EXPECT_EQ(count_connections(text.substr(0, text.size() - 1)), (service_counts{0, 0, 0, 0}));
}

// A dump in memory, given `piece` bytes a read at most, and nothing from
// byte `fails_at` on. Reads change nothing, so threads may share it.
struct memory_source {
    std::string_view bytes;
    std::size_t piece;
    std::size_t fails_at;
};

std::size_t read_memory(void *source, std::uint64_t offset, char *into, std::size_t want)
{
    const auto &memory = *static_cast<const memory_source *>(source);
    const std::size_t at = static_cast<std::size_t>(offset);
    const std::size_t size = at < memory.fails_at ? std::min({want, memory.piece, memory.fails_at - at}) : 0;
    std::memcpy(into, memory.bytes.data() + at, size);
    return size;
}

// Whatever the buffers, the windows, the reads and the shares, the counts
// are those of the whole dump; a read that stops early anywhere is a short
// read.
TEST(scan_from, windows_shares_and_short_reads)
{
    const std::string listing = make_listing(7, 200'000, listing_kind::ipv6);
    const std::string tiny = listing.substr(0, 3000), five = listing.substr(0, 5), empty;
    const std::size_t all = std::string::npos;
    struct {
        const char *name;
        const std::string &dump;
        std::size_t whole, window, piece, fails_at;
        read_result want;
    } const cases[] = {
        {"one buffer, one read", listing, listing.size(), 0, all, all, read_result::done},
        {"one buffer, reads of 7 bytes", listing, listing.size(), 0, 7, all, read_result::done},
        {"shares, windows of 4096", listing, 0, 4096, all, all, read_result::done},
        {"shares, reads shorter than a window", listing, 0, 4096, 1000, all, read_result::done},
        {"shares, windows of 3 bytes", tiny, 0, 3, all, all, read_result::done},
        {"shares of a byte or none", five, 0, 2, all, all, read_result::done},
        {"empty dump", empty, 0, 4096, all, all, read_result::done},
        {"one buffer, short in the middle", listing, listing.size(), 0, 4096, 100'000, read_result::short_read},
        {"shares, short in the first", listing, 0, 4096, all, 20'000, read_result::short_read},
        {"shares, short in the middle", listing, 0, 4096, all, 100'000, read_result::short_read},
        {"shares, short by the last byte", listing, 0, 4096, all, listing.size() - 1, read_result::short_read},
    };
    for (const unsigned shares : {1u, 2u, 3u, 7u}) {
        for (const auto &c : cases) {
            const std::string name = std::string(c.name) + ", " + std::to_string(shares) + " shares";
            memory_source memory{c.dump, c.piece, std::min(c.fails_at, c.dump.size())};
            service_counts counts{};
            EXPECT_EQ(scan_from({read_memory, &memory}, c.dump.size(), {c.whole, c.window, shares}, counts), c.want)
                << name;
            if (c.want == read_result::done) {
                EXPECT_EQ(counts, count_connections(c.dump)) << name;
            }
        }
    }
}

// Two shares cut after the line in the middle. Where the walk leaves that
// line in step, the second share's counts, scanned ahead, are taken as they
// are; where it does not, the share is scanned again from where the walk
// really stands, and only then do its counts come out right.
TEST(scan_from, shares_scanned_again)
{
    const std::string lines = line(win, "10.0.0.5:80", "10.0.0.9:1") + line(lin, "[::1]:25", "[::1]:2") +
                              line(win, "10.0.0.5:21", "10.0.0.9:3", "TIME_WAIT");
    struct {
        const char *name, *middle;
        unsigned rescanned;
    } const cases[] = {
        {"in step", "  TCP    10.0.0.5:110    10.0.0.9:5    ESTABLISHED\r\n", 0},
        {"no endpoint", "Active Internet connections (servers and established)\n", 0},
        {"a service's port ends the line", "  TCP    10.0.0.5:80\n", 1},
        {"the remote endpoint runs past the line feed", "  TCP    10.0.0.5:80   \n", 1},
        {"no state field", "  TCP    10.0.0.5:110    10.0.0.9:5\n", 1},
        {"a time of day", "Connections at 10:15\n", 1},
    };
    for (const auto &c : cases) {
        const std::string dump = lines + lines + c.middle + lines + lines;
        memory_source memory{dump, 64, dump.size()};
        service_counts counts{};
        share_tally tally;
        EXPECT_EQ(scan_from({read_memory, &memory}, dump.size(), {0, 64, 2}, counts, &tally), read_result::done);
        EXPECT_EQ(counts, count_connections(dump)) << c.name;
        EXPECT_EQ(tally.ahead, 1u) << c.name;
        EXPECT_EQ(tally.rescanned, c.rescanned) << c.name;
    }
}

}  // namespace
