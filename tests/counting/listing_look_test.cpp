#include "counting/listing_look.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string header = "\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State\r\n";

// The listings of the end-to-end cases (German, ss, UTF-16, an empty dump,
// English ones where nothing is busy) are not repeated here.
TEST(look_of_listing, table)
{
    const struct {
        const char *name;
        std::string head;
        listing_kind want;
        const char *word;
    } cases[] = {
        {"-ano: the process number after the state", "  TCP    0.0.0.0:135    0.0.0.0:0    LISTENING       900\r\n", listing_kind::english, ""},
        {"-anp: the program after the state", "tcp 0 0 10.0.0.5:22 10.0.0.9:50000 ESTABLISHED 812/sshd: root\n", listing_kind::english, ""},
        {"Linux IPv6 listener", "tcp6       0      0 :::22                   :::*                    LISTEN     \n", listing_kind::english, ""},
        {"a date line is no connection line", "Mo 7. Dez 10:15:30 CET 2026\r\n" + header, listing_kind::english, ""},
        {"UDP lines have no state", header + "  UDP    0.0.0.0:123            *:*                    \r\n", listing_kind::english, ""},
        {"a NUL in English", header + std::string(1, '\0') + "  TCP    0.0.0.0:135    0.0.0.0:0    LISTENING\r\n", listing_kind::english, ""},
        {"a 9 in the port", "  TCP    10.0.0.5:3389    10.0.0.9:49    ESTABLISHED\r\n", listing_kind::english, ""},
        {"names for ports (netstat without -n)", "tcp 0 0 mail:smtp client:imaps ESTABLISHED\n", listing_kind::no_connections, ""},
        {"a number after the endpoints is no state", "  TCP    10.0.0.5:80    10.0.0.9:1    4242\r\n", listing_kind::no_connections, ""},
        {"the state after the last endpoint", "  TCP    10.0.0.5:80    HERGESTELLT    10.0.0.9:1    ABH\x99REN\r\n", listing_kind::other_language, "ABH\x99REN"},
        {"UTF-16 big-endian mark", std::string("\xFE\xFF\0T\0C\0P", 8), listing_kind::two_bytes, ""},
        {"ss -H: ESTAB first, no header", "ESTAB 0      0     10.0.0.5:25   10.0.0.9:41234\n", listing_kind::ss, ""},
    };
    for (const auto &c : cases) {
        const listing_look look = look_of_listing(c.head);
        EXPECT_EQ(look.kind, c.want) << c.name;
        EXPECT_EQ(look.word, c.word) << c.name;
    }
}

}  // namespace
