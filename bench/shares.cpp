// estacount_shares: scans a file as a large dump's run does, in a number of
// shares given on the command line rather than the processors', and says
// what became of them: the counts, the masks, how many shares were scanned
// ahead and how many again. For the peak memory at 8 or 64 processors on a
// machine with 2, and for how often the scan ahead had to be redone.
//   estacount_shares FILE SHARES [WINDOW]
#include <cstdio>
#include <cstdlib>

#include "counting/dump.h"
#include "counting/scan.h"

namespace {

std::size_t read_file_at(void *file, std::uint64_t offset, char *into, std::size_t want)
{
    return read_at(*static_cast<open_file *>(file), offset, into, want);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4 || std::atoi(argv[2]) < 1) {
        std::fprintf(stderr, "usage: estacount_shares FILE SHARES [WINDOW]\n");
        return 2;
    }
    open_file file;
    std::string why;
    if (!open_for_reading(argv[1], file, &why)) {
        std::fprintf(stderr, "estacount_shares: %s: %s\n", argv[1], why.c_str());
        return 2;
    }
    scan_plan plan;
    plan.whole = 0;  // shares even for a small file, as the fuzz corpus is
    plan.shares = static_cast<unsigned>(std::atoi(argv[2]));
    if (argc == 4)
        plan.window = static_cast<std::size_t>(std::atoll(argv[3]));
    use_best_masks(true);
    service_counts counts{};
    share_tally tally;
    const read_result result = scan_from({read_file_at, &file}, file.size, plan, counts, &tally);
    close_file(file);
    if (result != read_result::done) {
        std::fprintf(stderr, "estacount_shares: %s: could not be read whole\n", argv[1]);
        return 1;
    }
    std::printf("%lld %lld %lld %lld masks %s shares %u ahead %u rescanned %u\n",
                static_cast<long long>(counts[0]), static_cast<long long>(counts[1]),
                static_cast<long long>(counts[2]), static_cast<long long>(counts[3]), scan_masks(), plan.shares,
                tally.ahead, tally.rescanned);
    return 0;
}
