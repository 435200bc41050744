#include "counting/scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct scan_case {
    const char *name;
    std::string dump;
    service_counts want;  // POP3, SMTP, HTTP, FTP
};

// Lines as Windows netstat -an writes them, without their line end.
const std::string pop3 = "  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED";
const std::string smtp = "  TCP    10.0.0.5:25     10.0.0.9:50001    ESTABLISHED";
const std::string http = "  TCP    10.0.0.5:80     10.0.0.9:50002    ESTABLISHED";
const std::string ftp = "  TCP    10.0.0.5:21     10.0.0.9:50003    ESTABLISHED";

// Line ends, empty dumps and Linux listings are covered end to end.
TEST(count_connections, table)
{
    const scan_case cases[] = {
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
        {"IPv6 loopback", "  TCP    [::1]:80   [::1]:50520   ESTABLISHED\r\n  TCP    [::]:110   [::]:0   LISTENING\r\n" + ftp + "\r\n", {0, 0, 1, 1}},
    };
    for (const scan_case &c : cases)
        EXPECT_EQ(count_connections(c.dump), c.want) << c.name;
}

TEST(count_connections, two_bytes_per_character_count_nothing)
{
    std::string wide;
    for (char c : http + "\r\n") {
        wide += c;
        wide += '\0';
    }
    EXPECT_EQ(count_connections(wide), (service_counts{0, 0, 0, 0}));
}

TEST(count_connections, reads_nothing_past_the_view)
{
    // The bytes after the view would complete the state; they must not count.
    const std::string text = "  TCP a:80 b:1 ESTABLISHED";
    const std::string_view cut(text.data(), text.size() - 1);
    EXPECT_EQ(count_connections(cut), (service_counts{0, 0, 0, 0}));
}

}  // namespace
