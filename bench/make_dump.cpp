// estacount_make_dump [--ipv6] PATH SIZE [SEED]: writes a generated netstat
// listing of exactly SIZE bytes to PATH (see dump_generator.h), the IPv6 one
// with --ipv6, for timing whole runs of the program on dumps of any size. Exits 0 when written, 1 when the file
// could not be written, 2 on a wrong command line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dump_generator.h"

namespace {

// Decimal digits only, fitting in 64 bits: a size like "5e6" or "-1" is a
// mistake to report, not something to guess at.
bool parse_number(const char *text, std::uint64_t &number)
{
    if (*text == '\0')
        return false;
    number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(*text - '0');
        if (number > (UINT64_MAX - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    std::uint64_t size = 0;
    std::uint64_t seed = 1;
    listing_kind kind = listing_kind::ipv4;
    if (argc > 1 && std::strcmp(argv[1], "--ipv6") == 0) {
        kind = listing_kind::ipv6;
        --argc;
        ++argv;
    }
    if (argc < 3 || argc > 4 || !parse_number(argv[2], size) ||
        (argc == 4 && !parse_number(argv[3], seed))) {
        std::fputs("usage: estacount_make_dump [--ipv6] PATH SIZE [SEED]\n"
                   "  writes a netstat -an listing of exactly SIZE bytes to PATH\n",
                   stderr);
        return 2;
    }
    if (!write_listing(argv[1], seed, size, kind)) {
        std::fprintf(stderr, "estacount_make_dump: cannot write %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
