// libFuzzer target: the whole program, run_command_line, on command lines,
// dumps and system answers built from the input, over the in-memory OS layer
// of platform_fake.cpp. After each run it checks what the program printed,
// asked of the system and returned against what the README promises, and
// aborts on the first difference.
//
// The input:
//   byte 0     bits 0-2  the number of words after the program name (0 to 6;
//                        7 reads as 6)
//              bit 3     the dump exists
//              bit 4     the database exists
//              bit 5     the read comes up short: its last window never arrives
//              bits 6-7  the launch: 1 not started, 2 refused (the interpreter
//                        would act on the command, as on Windows), 0 or 3
//                        started
//   bytes 1-2  the read's window size less one, little-endian (1 to 65,536
//              bytes, and never more than the read's buffer)
//   byte 3     0: standard output takes everything; n > 0: it takes n - 1
//              bytes, then refuses every write (a full disk)
//   then the words, each ended by a NUL byte (no command-line word can hold
//   one); a word of one byte from 0x01 to 0x0f stands for a keyword of
//   `keywords` below, so that a mutation of one byte reaches a mode or a
//   good service list. Words the input runs out before are empty.
//   The rest of the input is the dump.
// Missing header bytes read as 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdio_ext.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "counting/scan.h"
#include "front/run.h"
#include "front/service_list.h"
#include "platform/console.h"
#include "platform_fake.h"

namespace {

constexpr std::string_view keywords[15] = {
    "v",      "V",           "?",  "help",       "HELP",   "fillrrd", "video", "[POP3.SMTP.HTTP.FTP]",
    "[http]", "[smtp.pop3]", "[]", "[HTTP.ftp]", "db.rrd", "spool",   "spool/",
};

constexpr int most_words = 6;

struct run_input {
    std::vector<std::string> words;  // argv[1] onwards
    std::size_t stdout_room = SIZE_MAX;
};

// Byte `at` of the input, or 0 past its end.
std::uint8_t header_byte(std::string_view input, std::size_t at)
{
    return at < input.size() ? static_cast<std::uint8_t>(input[at]) : 0;
}

// Decodes the input as described at the top of this file: sets up the fake
// world for the run and returns the words and the room of standard output.
run_input decode(std::string_view input, fake_world &world)
{
    const std::uint8_t settings = header_byte(input, 0);
    world.dump_exists = settings & 0x08;
    world.database_exists = settings & 0x10;
    world.read_comes_up_short = settings & 0x20;
    const int launch = settings >> 6;
    world.launch = launch == 1 ? launch_result::not_started
                 : launch == 2 ? launch_result::refused
                               : launch_result::started;
    world.window_size = 1 + (header_byte(input, 1) | header_byte(input, 2) << 8);

    run_input run;
    if (const std::uint8_t room = header_byte(input, 3); room > 0)
        run.stdout_room = room - 1u;

    std::string_view rest = input.size() > 4 ? input.substr(4) : std::string_view{};
    int word_count = settings & 0x07;
    if (word_count > most_words)
        word_count = most_words;
    for (int i = 0; i < word_count; ++i) {
        const std::size_t end = rest.find('\0');
        std::string word(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const auto code = static_cast<std::uint8_t>(word.size() == 1 ? word[0] : 0);
        if (code >= 1 && code <= 15)
            word = keywords[code - 1];
        run.words.push_back(word);
    }
    world.dump = rest;
    return run;
}

// A stream in memory: it keeps what it is given while that fits in `room`,
// and refuses a write that does not fit, as a full disk would.
struct capture {
    std::string bytes;
    std::size_t room = 0;
    bool refused = false;
};

ssize_t capture_write(void *cookie, const char *data, std::size_t size)
{
    capture &into = *static_cast<capture *>(cookie);
    if (size > into.room) {
        into.refused = true;
        return 0;  // fewer bytes than asked: the stream's error flag goes up
    }
    into.bytes.append(data, size);
    into.room -= size;
    return static_cast<ssize_t>(size);
}

capture standard_output;
capture standard_error;

// The count lines of a report, "LABEL: DIGITS" for a service's label, each
// followed by a line feed, in the order printed.
std::string count_lines(std::string_view report)
{
    std::string found;
    while (!report.empty()) {
        const std::size_t end = report.find('\n');
        const std::string_view line = report.substr(0, end);
        report.remove_prefix(end == std::string_view::npos ? report.size() : end + 1);
        for (const service &each : service_table) {
            const std::string_view label = each.label;
            const std::string_view value = line.substr(std::min(line.size(), label.size() + 2));
            if (line.starts_with(label) && line.substr(label.size(), 2) == ": " && !value.empty() &&
                value.find_first_not_of("0123456789") == std::string_view::npos) {
                found += line;
                found += '\n';
            }
        }
    }
    return found;
}

// The counts of the selected services in table order, as the report prints
// them ("LABEL: COUNT" lines, with_labels) or as the update command joins
// them (":COUNT" each).
std::string selected_counts(const service_selection &selected, const service_counts &counts,
                            bool with_labels)
{
    std::string text;
    for (int i = 0; i < service_count; ++i)
        if (selected[i]) {
            if (with_labels) {
                text += service_table[i].label;
                text += ": ";
            } else {
                text += ':';
            }
            text += std::to_string(counts[i]);
            if (with_labels)
                text += '\n';
        }
    return text;
}

// What the README says a database path holds that makes rrdtool take it as
// something else ("holds a space", ...), from its first such byte; empty
// when it holds none.
std::string path_refusal(std::string_view path)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (byte == ' ')
            return "holds a space";
        if (byte < 0x20 || byte == 0x7F)
            return "holds a control character";
        if (i == 0 && byte == '-')
            return "begins with -";
    }
    return {};
}

// A run that printed `message` and ended with -1, having started nothing.
bool refused_with(std::string_view message, const fake_world &world, int status)
{
    return status == -1 && world.launches == 0 &&
           (standard_output.refused || standard_output.bytes == message);
}

bool is_keyword_first(const std::vector<std::string> &words)
{
    if (words.empty())
        return true;
    const std::string &first = words[0];
    return first == "v" || first == "V" || first == "?" || first == "help" || first == "HELP" ||
           first == "--version" || first == "--help" || first == "-h" ||
           (slash_question_asks_help && first == "/?");
}

// Standard error holds whole lines, each "estacount: " and one message with
// no control byte in it, however hostile the words it quotes.
bool is_lines_for_a_person(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos || !text.starts_with("estacount: "))
            return false;
        for (const char c : text.substr(0, end))
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                return false;
        text.remove_prefix(end + 1);
    }
    return true;
}

// Aborts unless the run's status, output and requests to the system are
// what the README promises for these words and this world.
void check_run(const std::vector<std::string> &words, const fake_world &world, int status)
{
    if (status != 0 && status != 1 && status != -1)
        std::abort();
    if (!is_lines_for_a_person(standard_error.bytes) || standard_error.refused)
        std::abort();
    // Keywords come first; a usage or version run touches nothing, and fails
    // only when its text did not reach standard output.
    if (is_keyword_first(words)) {
        if (status != (standard_output.refused ? -1 : 0) || world.reads != 0 ||
            world.database_checks != 0 || world.launches != 0)
            std::abort();
        return;
    }
    if (status == 0)
        std::abort();
    if (world.reads > 1 || world.database_checks > 1 || world.launches > 1)
        std::abort();

    const bool fillrrd = words.size() >= 4 && words[3] == "fillrrd";
    // Only fillrrd looks at the database, and it does so before the dump.
    if (world.database_checks == 1 && (!fillrrd || world.database_path != words[0]))
        std::abort();
    if (world.reads == 0) {
        if (world.launches != 0 || status == 1)
            std::abort();
        return;
    }
    if (words.size() < 4 || world.read_path != words[1] + directory_separator + "netstatdump.log")
        std::abort();
    if (fillrrd && (world.database_checks != 1 || !world.database_exists))
        std::abort();

    if (world.read_outcome != read_result::done) {
        if (status != -1 || world.launches != 0)
            std::abort();
        // A dump cut short ends the run without a word.
        if (world.read_outcome == read_result::short_read &&
            (!standard_output.bytes.empty() || standard_output.refused))
            std::abort();
        return;
    }

    const service_selection selected = parse_service_list(words[2]);
    const service_counts counts = count_connections(world.dump);
    if (!fillrrd) {
        if (world.launches != 0 || status != (standard_output.refused ? -1 : 1))
            std::abort();
        if (status == 1 &&
            count_lines(standard_output.bytes) != selected_counts(selected, counts, true))
            std::abort();
        return;
    }
    // With no service selected there is no sample to deliver.
    if (selected == service_selection{}) {
        if (world.interpreter_questions != 0 || world.launches != 0 || status != 1)
            std::abort();
        return;
    }
    const std::string command =
        "/C rrdtool update " + words[0] + " N" + selected_counts(selected, counts, false);
    // Just before the launch: first the interpreter's refusal, then the path's.
    if (world.interpreter_questions != 1 || world.asked_command != command)
        std::abort();
    if (world.launch == launch_result::refused) {
        if (!refused_with("\nimpossible to pass the rrd at [" + words[0] +
                              "] to the command interpreter: it holds one of \" % ! ^ & | < > ( ) "
                              "or a control character\n",
                          world, status))
            std::abort();
        return;
    }
    if (const std::string what = path_refusal(words[0]); !what.empty()) {
        if (!refused_with("\nimpossible to pass the rrd at [" + words[0] + "] to rrdtool: it " +
                              what + "\n",
                          world, status))
            std::abort();
        return;
    }
    if (world.launches != 1 || world.command != command)
        std::abort();
    if (status != (world.launch == launch_result::started ? 1 : -1))
        std::abort();
}

}  // namespace

// The program prints with printf and fputs on stdout. glibc lets a program
// assign stdout and stderr, so both become streams in memory (fopencookie)
// for the whole process: no system call per run, every byte seen, and a
// full disk is one counter. libFuzzer and the sanitizers report through
// their own handles, never through these.
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
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    forget_recorded(fake);
    const run_input run = decode(input, fake);
    standard_output = {{}, run.stdout_room, false};
    standard_error = {{}, SIZE_MAX, false};

    std::string program = "estacount";
    std::vector<std::string> words = run.words;
    std::vector<char *> argv = {program.data()};
    for (std::string &word : words)
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

    check_run(run.words, fake, status);
    return 0;
}
