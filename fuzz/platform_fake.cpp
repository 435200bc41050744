// The OS layer in memory, for the fuzz build: every file is the dump, the
// database only exists when the world says so, and a launch starts nothing.
// The fake also aborts when the program breaks the layer's contract, since
// the real layer would then misbehave where a test cannot see it.
#include "platform_fake.h"

#include <cstdlib>
#include <cstring>
#include <memory>

const char directory_separator = '/';

fake_world fake;

void forget_recorded(fake_world &world)
{
    world.reads = 0;
    world.read_path.clear();
    world.read_outcome = read_result::not_opened;
    world.database_checks = 0;
    world.database_path.clear();
    world.interpreter_questions = 0;
    world.asked_command.clear();
    world.launches = 0;
    world.command.clear();
}

// Hands the dump to `consume` in windows of the world's size (at most
// `buffer_size`), as the real read does with its buffer. Each window is a
// fresh heap copy of exactly its length, freed after the call, so that
// AddressSanitizer stops a consumer that reads past a window's end or keeps
// its bytes beyond the call. A short read delivers every window but the last.
read_result read_file_in_windows(const char *path, std::size_t buffer_size,
                                 window_consumer consume, void *context)
{
    if (path == nullptr || consume == nullptr || buffer_size == 0)
        std::abort();
    ++fake.reads;
    fake.read_path = path;
    if (!fake.dump_exists)
        return fake.read_outcome = read_result::not_opened;

    const std::size_t window = fake.window_size < buffer_size ? fake.window_size : buffer_size;
    std::string_view left = fake.dump;
    while (!left.empty()) {
        const std::size_t size = left.size() < window ? left.size() : window;
        if (fake.read_comes_up_short && size == left.size())
            return fake.read_outcome = read_result::short_read;
        const std::unique_ptr<char[]> bytes(new char[size]);
        std::memcpy(bytes.get(), left.data(), size);
        consume({bytes.get(), size}, context);
        left.remove_prefix(size);
    }
    return fake.read_outcome = read_result::done;
}

// The database: any path, present or not as the world says.
bool regular_file_opens(const char *path)
{
    if (path == nullptr)
        std::abort();
    ++fake.database_checks;
    fake.database_path = path;
    return fake.database_exists;
}

// Records the command; the interpreter acts on it when the world refuses it.
bool interpreter_would_act_on(std::string_view command)
{
    ++fake.interpreter_questions;
    fake.asked_command = command;
    return fake.launch == launch_result::refused;
}

// Records the command and answers as the world says; nothing runs.
launch_result start_hidden_command(const std::string &command, std::string &failure)
{
    ++fake.launches;
    fake.command = command;
    if (fake.launch == launch_result::not_started)
        failure = "rrdtool: not started";
    return fake.launch;
}

// The fake has no reasons of its own to give: one fixed text.
std::string unreadable_file_reason(const char *path)
{
    if (path == nullptr)
        std::abort();
    return "No such file or directory";
}
