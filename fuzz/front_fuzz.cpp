// libFuzzer target: the whole run, run_command_line, on command lines and
// system answers built from the input, over the in-memory OS layer of
// platform_fake.cpp. The exact texts and counts are the end-to-end cases'
// and the scan target's to check; this one holds every run, however odd its
// words or its world, to what must stay true of any of them, and aborts
// when one does not:
//   - it ends with 0, 1 or -1, and 0 (usage, version) touches nothing;
//   - it reads the dump, checks the database and starts a command at most
//     once each;
//   - text that did not reach standard output, a dump cut short and a
//     launch that failed are never a success, and a dump cut short is never
//     reported;
//   - a video run that succeeds printed a report;
//   - a started command is exactly `rrdtool update DB N:C...`: the database
//     word as given, checked, and read by rrdtool as a path, then one to four
//     counts of digits, no more than the dump's size allows.
// Nothing here reads standard error, where the program may say anything.
//
// The input:
//   byte 0     bits 0-2  the number of words after the program name (0 to 6;
//                        7 reads as 6)
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
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdio_ext.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "front/run.h"
#include "platform_fake.h"

namespace {

constexpr std::string_view keywords[] = {
    "v",      "V",           "?",      "help",       "HELP",   "fillrrd",
    "video",  "[POP3.SMTP.HTTP.FTP]", "[http]", "[smtp.pop3]", "[]",     "[HTTP.ftp]",
    "db.rrd", "spool",       "spool/", "--help",     "-h",     "--version",
};

// Byte `at` of the input, or 0 past its end.
std::uint8_t byte_at(std::string_view input, std::size_t at)
{
    return at < input.size() ? static_cast<std::uint8_t>(input[at]) : 0;
}

// A stream in memory that keeps what fits in `room` and refuses any write
// that does not, as a full disk would.
struct capture {
    std::string bytes;
    std::size_t room = SIZE_MAX;
    bool refused = false;
};

capture standard_output;
capture standard_error;

ssize_t capture_write(void *cookie, const char *data, std::size_t size)
{
    capture &into = *static_cast<capture *>(cookie);
    if (size > into.room) {
        into.refused = true;
        return 0;  // a short write raises the stream's error flag
    }
    into.bytes.append(data, size);
    into.room -= size;
    return static_cast<ssize_t>(size);
}

// Sets up the fake world from the input and returns the words.
std::vector<std::string> decode(std::string_view input)
{
    const std::uint8_t settings = byte_at(input, 0);
    fake.dump_exists = settings & 0x08;
    fake.read_comes_up_short = settings & 0x20;
    const int launch = settings >> 6;
    fake.launch = launch == 1 ? launch_result::not_started
                : launch == 2 ? launch_result::refused
                              : launch_result::started;
    fake.window_size = 1 + (byte_at(input, 1) | byte_at(input, 2) << 8);
    const std::uint8_t room = byte_at(input, 3);
    standard_output = {{}, room > 0 ? room - 1u : SIZE_MAX, false};
    standard_error = {};

    std::string_view rest = input.size() > 4 ? input.substr(4) : std::string_view{};
    std::vector<std::string> words;
    const int word_count = (settings & 0x07) == 7 ? 6 : settings & 0x07;
    for (int i = 0; i < word_count; ++i) {
        const std::size_t end = rest.find('\0');
        std::string word(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const std::size_t code = word.size() == 1 ? static_cast<unsigned char>(word[0]) : 0;
        if (code >= 1 && code <= std::size(keywords))
            word = keywords[code - 1];
        words.push_back(word);
    }
    fake.dump = rest;
    // No system opens a file by the empty name.
    fake.database_exists = (settings & 0x10) && !words.empty() && !words[0].empty();
    return words;
}

// True when `command` is "/C rrdtool update DB N" and then one to four
// ":DIGITS", whose sum no dump of `dump_size` bytes could exceed: each
// counted line needs at least a colon and ESTABLISHED.
bool is_update_of(std::string_view command, std::string_view database, std::size_t dump_size)
{
    const std::string head = "/C rrdtool update " + std::string(database) + " N";
    if (!command.starts_with(head))
        return false;
    std::string_view counts = command.substr(head.size());
    int fields = 0;
    std::size_t total = 0;
    while (!counts.empty()) {
        if (counts[0] != ':')
            return false;
        counts.remove_prefix(1);
        const std::string_view digits = counts.substr(0, counts.find(':'));
        if (digits.empty() || digits.size() > 18 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        total += std::stoull(std::string(digits));
        counts.remove_prefix(digits.size());
        ++fields;
    }
    return fields >= 1 && fields <= 4 && total * 12 <= dump_size;
}

// True when rrdtool, handed `database` as one word of its command line, takes
// it as that one path: no space splits it, no control character, and it is
// no option.
bool reads_as_one_path(std::string_view database)
{
    for (const char each : database) {
        const auto byte = static_cast<unsigned char>(each);
        if (byte <= ' ' || byte == 0x7F)
            return false;
    }
    return !database.empty() && database[0] != '-';
}

void check_run(const std::vector<std::string> &words, int status)
{
    if (status != 0 && status != 1 && status != -1)
        std::abort();
    if (fake.reads > 1 || fake.database_checks > 1 || fake.launches > 1)
        std::abort();
    if (status == 0 && (fake.reads != 0 || fake.database_checks != 0 || fake.launches != 0))
        std::abort();
    if (standard_output.refused && status != -1)
        std::abort();
    const bool read_whole = fake.reads == 1 && fake.read_outcome == read_result::done;
    if (fake.reads == 1 && fake.read_outcome == read_result::short_read &&
        (status != -1 || standard_output.bytes.find("Connection established") != std::string::npos))
        std::abort();
    if (status == 1 && words.size() >= 4 && words[3] == "video" &&
        (!read_whole || !standard_output.bytes.starts_with("Connection established:\n")))
        std::abort();
    if (fake.launches == 1) {
        if (!read_whole || fake.database_checks != 1 || !fake.database_exists ||
            fake.database_path != words[0] || !reads_as_one_path(words[0]) ||
            !is_update_of(fake.command, words[0], fake.dump.size()))
            std::abort();
        if (status != (fake.launch == launch_result::started ? 1 : -1))
            std::abort();
    }
}

}  // namespace

// The program prints with printf and fputs. glibc lets a program assign
// stdout and stderr, so both become streams in memory (fopencookie) for the
// whole process: every byte is seen, and a full disk is one counter.
// libFuzzer and the sanitizers report through their own handles.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const cookie_io_functions_t to_memory = {nullptr, capture_write, nullptr, nullptr};
    stdout = fopencookie(&standard_output, "w", to_memory);
    stderr = fopencookie(&standard_error, "w", to_memory);
    if (stdout == nullptr || stderr == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    forget_recorded(fake);
    const std::vector<std::string> words =
        decode({reinterpret_cast<const char *>(data), size});
    // argv's strings are the program's to change, so it gets copies.
    std::vector<std::string> argv_words = words;
    std::string program = "estacount";
    std::vector<char *> argv = {program.data()};
    for (std::string &word : argv_words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int status = run_command_line(static_cast<int>(argv.size() - 1), argv.data());

    // What the program left buffered reaches the captures now; what a full
    // stream still holds is dropped, so that no run sees the last one's.
    std::fflush(stdout);
    std::fflush(stderr);
    __fpurge(stdout);
    __fpurge(stderr);
    std::clearerr(stdout);
    std::clearerr(stderr);

    check_run(words, status);
    return 0;
}
