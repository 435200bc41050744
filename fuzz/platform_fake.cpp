// The OS layer in memory, for the fuzz build: every file is the dump, the
// database only exists when the world says so, and a launch starts nothing.
// The fake also aborts when the program breaks the layer's contract, since
// the real layer would then misbehave where a test cannot see it.
#include "platform_fake.h"

#include <cstdlib>
#include <cstring>

const char directory_separator = '/';

fake_world fake;


// The fake has no reasons of its own to give: one fixed text.
constexpr const char *absent = "No such file or directory";

bool open_for_reading(const char *path, open_file &file, std::string *why)
{
    if (path == nullptr)
        std::abort();
    ++fake.seen.reads;
    if (!fake.dump_exists) {
        if (why)
            *why = absent;
        return false;
    }
    // A dump that changes while it is read is no whole listing, however
    // many of its bytes arrive.
    fake.seen.read_outcome = fake.dump_changes ? read_result::short_read : read_result::done;
    file.handle = 0;
    file.size = fake.dump.size();
    return true;
}

// Gives the dump in windows of the world's size (at most `want`). A short
// read gives every window but the last.
std::size_t read_at(open_file &file, std::uint64_t offset, char *into, std::size_t want)
{
    if (file.handle != 0 || into == nullptr || want == 0 || offset >= fake.dump.size())
        std::abort();
    const std::size_t left = fake.dump.size() - static_cast<std::size_t>(offset);
    std::size_t size = want < fake.window_size ? want : fake.window_size;
    size = size < left ? size : left;
    if (fake.read_comes_up_short && size == left) {
        fake.seen.read_outcome = read_result::short_read;
        return 0;
    }
    std::memcpy(into, fake.dump.data() + offset, size);
    return size;
}

bool file_unchanged(const open_file &file)
{
    if (file.handle != 0)
        std::abort();
    return !fake.dump_changes;
}

void close_file(open_file &file)
{
    if (file.handle != 0)
        std::abort();
    file.handle = -1;
}

// Heap memory of exactly the size, so that AddressSanitizer stops a read
// past the buffer.
char *reserve_read_buffer(std::size_t size)
{
    return new char[size];
}

void release_read_buffer(char *buffer, std::size_t)
{
    delete[] buffer;
}

// One: a dump too large for one buffer is read in turn, on the fuzzer's thread.
unsigned usable_processors()
{
    return 1;
}

// The database: any path, present or not as the world says.
bool regular_file_opens(const char *path, std::string *why)
{
    if (path == nullptr)
        std::abort();
    ++fake.seen.database_checks;
    fake.seen.database_path = path;
    if (!fake.database_exists && why)
        *why = absent;
    return fake.database_exists;
}

// The interpreter acts on any text when the world refuses the launch.
bool interpreter_would_act_on(std::string_view)
{
    return fake.launch == launch_result::refused;
}

// Records the words and answers as the world says; nothing runs.
launch_result start_hidden_program(const std::vector<std::string> &words, std::string &failure)
{
    ++fake.seen.launches;
    fake.seen.words = words;
    if (fake.launch == launch_result::not_started)
        failure = "rrdtool: not started";
    return fake.launch;
}
