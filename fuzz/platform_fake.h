// The OS layer of the fuzz build: src/platform/file.h and process.h kept in
// memory. The fuzz target sets up `fake_world` before each run of the
// program and reads back what the program asked of the system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "counting/dump.h"
#include "platform/file.h"
#include "platform/process.h"

struct fake_world {
    // Set before a run.
    std::string_view dump;       // the bytes of any file read as the dump
    bool dump_exists = false;    // false: the read finds no regular file
    bool database_exists = false;
    bool read_comes_up_short = false;  // the last window never arrives
    bool dump_changes = false;         // its size or time changes while it is read
    std::size_t window_size = 1;       // at least 1; capped at the read's buffer size
    // refused: the interpreter would act on the words, and says so when
    // asked beforehand; the other answers come from the launch itself.
    launch_result launch = launch_result::started;

    // Recorded during the run; the fuzz target clears it before each.
    struct record {
        int reads = 0;
        read_result read_outcome = read_result::not_opened;
        int database_checks = 0;
        std::string database_path;
        int launches = 0;
        std::vector<std::string> words;  // what the launch was given
    } seen;
};

// The one world the fake layer works on.
extern fake_world fake;
