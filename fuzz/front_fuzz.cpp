// libFuzzer target: the whole run, run_command_line, on command lines and
// system answers built from the input, over the in-memory OS layer of
// platform_fake.cpp. The exact texts and counts are the end-to-end cases'
// and the scan target's to check; this one holds every run, however odd its
// words or its world, to what must stay true of any of them, and aborts
// when one does not:
//   - it ends with 0, 1 or -1, and 0 (usage, version) touches nothing;
//   - it checks the database and starts a command at most once each, and
//     reads the dump at most twice (the second time its head alone, to say
//     what a listing in which nothing counted looks like);
//   - text that did not reach standard output, a dump cut short (or changed
//     while it was read) and a launch that failed are never a success, and
//     such a dump is never reported;
//   - a video run that succeeds printed a report;
//   - a started program gets exactly the words rrdtool, update, DB, N:C...: the database
//     word as given, checked, and read by rrdtool as a path, then one to four
//     counts of digits, no more than the dump's size allows.
// Nothing here reads standard error, where the program may say anything.
//
// The input:
//   byte 0     bits 0-2  the number of words after the program name (0 to 6;
//                        7: six, and the dump changes while it is read)
//              bit 3     the dump exists
//              bit 4     the database exists
//              bit 5     the read comes up short: its last window never arrives
//              bits 6-7  the launch: 1 not started, 2 refused, 0 or 3 started
//   bytes 1-2  the read's window size less one, little-endian
//   byte 3     0: standard output takes everything; n > 0: it takes n - 1
//              bytes, then refuses every write (a full disk)
//   then the words, each ended by a NUL byte; a word of the one byte 0x01 to
//   0x12 stands for that entry of `keywords`, so that one mutation reaches a
//   mode or a good service list. The rest of the input is the dump.
// Missing bytes read as 0, missing words as empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdio_ext.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "front/run.h"
#include "platform_fake.h"

namespace {

constexpr std::string_view keywords[] = {"v", "V", "?", "help", "HELP", "fillrrd", "video", "[POP3.SMTP.HTTP.FTP]",
                                         "[http]", "[smtp.pop3]", "[]", "[HTTP.ftp]", "db.rrd", "spool", "spool/",
                                         "--help", "-h", "--version"};

// A broken rule aborts, which libFuzzer reports as a crash at the rule's line.
void require(bool rule)
{
    if (!rule)
        std::abort();
}

// A stream in memory that keeps what fits in `room` and then, as a full
// disk would, refuses every write.
struct capture {
    std::string bytes;
    std::size_t room = SIZE_MAX;
    bool refused = false;
};

capture standard_output;

ssize_t capture_write(void *cookie, const char *data, std::size_t size)
{
    capture &into = *static_cast<capture *>(cookie);
    into.refused = into.refused || size > into.room;
    if (into.refused)
        return 0;  // a short write raises the stream's error flag
    into.bytes.append(data, size);
    into.room -= size;
    return static_cast<ssize_t>(size);
}

// Sets up the fake world from the input and returns the words, the
// program's name first.
std::vector<std::string> decode(std::string_view input)
{
    const auto setting = [&](std::size_t at) { return at < input.size() ? static_cast<std::uint8_t>(input[at]) : 0; };
    fake.dump_exists = setting(0) & 0x08;
    fake.read_comes_up_short = setting(0) & 0x20;
    fake.dump_changes = (setting(0) & 0x07) == 7;
    constexpr launch_result launches[] = {launch_result::started, launch_result::not_started, launch_result::refused,
                                          launch_result::started};
    fake.launch = launches[setting(0) >> 6];
    fake.window_size = 1 + (setting(1) | setting(2) << 8);
    standard_output = {{}, setting(3) > 0 ? setting(3) - 1u : SIZE_MAX, false};

    std::string_view rest = input.size() > 4 ? input.substr(4) : std::string_view{};
    std::vector<std::string> words = {"estacount"};
    for (int i = std::min(setting(0) & 0x07, 6); i > 0; --i) {
        const std::size_t end = rest.find('\0');
        std::string &word = words.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (word.size() == 1 && word[0] >= 1 && word[0] <= static_cast<char>(std::size(keywords)))
            word = keywords[word[0] - 1];
    }
    fake.dump = rest;
    // No system opens a file by the empty name.
    fake.database_exists = (setting(0) & 0x10) && words.size() > 1 && !words[1].empty();
    return words;
}

// True when `launched` is "rrdtool", "update", DB and then "N" and one to
// four ":DIGITS", whose sum no dump of `dump_size` bytes could exceed: each
// counted line needs at least a colon and ESTABLISHED.
bool is_update_of(const std::vector<std::string> &launched, const std::string &database, std::size_t dump_size)
{
    static const std::regex sample("N(:[0-9]{1,18}){1,4}");
    if (launched.size() != 4 || launched[0] != "rrdtool" || launched[1] != "update" || launched[2] != database ||
        !std::regex_match(launched[3], sample))
        return false;
    const std::string &text = launched[3];
    std::size_t total = 0;
    for (std::size_t at = text.find(':'); at != std::string::npos; at = text.find(':', at + 1))
        total += std::stoull(text.substr(at + 1));
    return total * 12 <= dump_size;
}

void check_run(const std::vector<std::string> &words, int status)
{
    // A second read comes only after a whole first one, and finds the same.
    const bool read_whole = fake.seen.read_outcome == read_result::done;
    require(status == 0 || status == 1 || status == -1);
    require(fake.seen.reads <= 2 && fake.seen.database_checks <= 1 && fake.seen.launches <= 1);
    require(status != 0 || (fake.seen.reads == 0 && fake.seen.database_checks == 0 && fake.seen.launches == 0));
    require(!standard_output.refused || status == -1);
    require(fake.seen.read_outcome != read_result::short_read ||
            (status == -1 && standard_output.bytes.find("Connection established") == std::string::npos));
    require(status != 1 || words.size() < 5 || words[4] != "video" ||
            (read_whole && standard_output.bytes.starts_with("Connection established:\n")));
    if (fake.seen.launches == 1) {
        const std::string &database = words[1];
        require(read_whole && fake.seen.database_checks == 1 && fake.database_exists && fake.seen.database_path == database);
        // rrdtool takes the word as that one path: no space splits it, no
        // control character, and it is no option.
        require(!database.empty() && database[0] != '-' &&
                std::ranges::none_of(database, [](unsigned char c) { return c <= ' ' || c == 0x7F; }));
        require(is_update_of(fake.seen.words, database, fake.dump.size()));
        require(status == (fake.launch == launch_result::started ? 1 : -1));
    }
}

}  // namespace

// The program prints with printf and fputs. glibc lets a program assign
// stdout and stderr: stdout becomes a stream in memory (fopencookie) for the
// whole process, so every byte is seen and a full disk is one counter;
// stderr, which nothing here reads, goes to /dev/null. libFuzzer and the
// sanitizers report through their own handles.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    stdout = fopencookie(&standard_output, "w", {nullptr, capture_write, nullptr, nullptr});
    stderr = std::fopen("/dev/null", "w");
    require(stdout != nullptr && stderr != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fake.seen = {};
    const std::vector<std::string> words = decode({reinterpret_cast<const char *>(data), size});
    // argv's strings are the program's to change, so it gets copies.
    std::vector<std::string> copies = words;
    std::vector<char *> argv;
    for (std::string &word : copies)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int status = run_command_line(static_cast<int>(copies.size()), argv.data());

    // What the program left buffered reaches the capture now; what a full
    // stream still holds is dropped, so that no run sees the last one's.
    for (FILE *stream : {stdout, stderr}) {
        std::fflush(stream);
        __fpurge(stream);
        std::clearerr(stream);
    }
    check_run(words, status);
    return 0;
}
