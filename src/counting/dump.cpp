#include "counting/dump.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "counting/scan.h"

namespace {

std::size_t read_file(void *file, char *into, std::size_t want)
{
    return read_next(*static_cast<open_file *>(file), into, want);
}

// Reads the whole source into one buffer, scanning what each read brings.
read_result scan_in_one_buffer(byte_source source, std::size_t size, scan_state &state,
                               service_counts &counts)
{
    char *const buffer = reserve_read_buffer(size);
    if (!buffer)
        return read_result::short_read;
    read_result result = read_result::done;
    for (std::size_t at = 0; at < size;) {
        const std::size_t got = source.read(source.source, buffer + at, size - at);
        if (got == 0) {
            result = read_result::short_read;
            break;
        }
        scan_window(state, {buffer + at, got}, counts);
        at += got;
    }
    release_read_buffer(buffer, size);
    return result;
}

// The buffers between the reading thread and the scan. Window k is read into
// buffer k % window_buffers, so the reader may start window k +
// window_buffers only once the scan is done with window k. More than two
// let the reader run ahead, so that the scan does not wait each time the
// reader is not scheduled at once (on a busy machine).
struct pipeline {
    byte_source source{};
    std::uint64_t size = 0;
    std::size_t window = 0;
    char *buffers[window_buffers] = {};
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t read = 0;        // windows read
    std::uint64_t scanned = 0;     // windows the scan is done with
    std::size_t arrived[window_buffers] = {};  // bytes of each buffer's latest window; 0: nothing more comes
};

// The second thread: ends after the last window, or after a read that
// brought nothing, which tells the scan so.
void read_windows(pipeline &line)
{
    std::uint64_t left = line.size;
    for (std::uint64_t k = 0; left > 0; ++k) {
        {
            std::unique_lock<std::mutex> guard(line.lock);
            line.changed.wait(guard, [&] { return line.read - line.scanned < window_buffers; });
        }
        const std::size_t want = left < line.window ? static_cast<std::size_t>(left) : line.window;
        const std::size_t got = line.source.read(line.source.source, line.buffers[k % window_buffers], want);
        {
            const std::lock_guard<std::mutex> guard(line.lock);
            line.arrived[k % window_buffers] = got;
            line.read = k + 1;
        }
        line.changed.notify_all();
        if (got == 0)
            return;
        left -= got;
    }
}

// Starts the reading thread, or says it could not: std::thread reports that
// (a task limit reached, no memory) only by throwing, which would end the
// run in an abort instead of a count.
bool start_reader(std::thread &reader, pipeline &line)
{
    try {
        reader = std::thread(read_windows, std::ref(line));
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

// Without a second thread: each window is read, then scanned, in one buffer.
read_result scan_in_turn(pipeline &line, scan_state &state, service_counts &counts)
{
    for (std::uint64_t left = line.size; left > 0;) {
        const std::size_t want = left < line.window ? static_cast<std::size_t>(left) : line.window;
        const std::size_t got = line.source.read(line.source.source, line.buffers[0], want);
        if (got == 0)
            return read_result::short_read;
        scan_window(state, {line.buffers[0], got}, counts);
        left -= got;
    }
    return read_result::done;
}

read_result scan_in_buffers(pipeline &line, bool read_ahead, scan_state &state, service_counts &counts)
{
    std::thread reader;
    if (!read_ahead || !start_reader(reader, line))
        return scan_in_turn(line, state, counts);
    read_result result = read_result::done;
    std::uint64_t left = line.size;
    for (std::uint64_t k = 0; left > 0; ++k) {
        std::size_t got;
        {
            std::unique_lock<std::mutex> guard(line.lock);
            line.changed.wait(guard, [&] { return line.read > k; });
            got = line.arrived[k % window_buffers];
        }
        if (got == 0) {
            result = read_result::short_read;
            break;
        }
        scan_window(state, {line.buffers[k % window_buffers], got}, counts);
        left -= got;
        {
            const std::lock_guard<std::mutex> guard(line.lock);
            line.scanned = k + 1;
        }
        line.changed.notify_all();
    }
    reader.join();
    return result;
}

}  // namespace

std::string dump_path(std::string_view spool_dir)
{
    std::string path(spool_dir);
    path += directory_separator;
    path += "netstatdump.log";
    return path;
}

read_result scan_from(byte_source source, std::uint64_t size, std::size_t whole, std::size_t window,
                      bool read_ahead, service_counts &counts)
{
    scan_state state;
    read_result result = read_result::done;
    if (size == 0) {
        // Nothing to read, and an empty dump is no failure.
    } else if (size <= whole) {
        result = scan_in_one_buffer(source, static_cast<std::size_t>(size), state, counts);
    } else {
        pipeline line;
        line.source = source;
        line.size = size;
        line.window = window;
        bool reserved = true;
        for (char *&buffer : line.buffers)
            reserved = (buffer = reserve_read_buffer(window)) != nullptr && reserved;
        result = reserved ? scan_in_buffers(line, read_ahead, state, counts) : read_result::short_read;
        for (char *buffer : line.buffers)
            release_read_buffer(buffer, window);
    }
    if (result == read_result::done)
        finish_scan(state, counts);
    return result;
}

dump_read load_dump(std::string_view spool_dir, service_counts &counts)
{
    dump_read read;
    open_file file;
    if (!open_for_reading(dump_path(spool_dir).c_str(), file, &read.why))
        return read;
    // Only a dump larger than one buffer has windows to read ahead, so only
    // then is the system asked (a call a small dump's run need not pay for).
    const bool read_ahead = file.size > dump_buffer_size && usable_processors() > 1;
    read.result = scan_from({read_file, &file}, file.size, dump_buffer_size, dump_buffer_size / window_buffers,
                            read_ahead, counts);
    // All the bytes of the size found at the open may still be no whole
    // listing: netstat still writing it, or a job that rewrote it in place.
    if (read.result == read_result::done && !file_unchanged(file))
        read.result = read_result::short_read;
    if (read.result == read_result::short_read)
        read.why = "could not be read whole";
    close_file(file);
    return read;
}

bool read_dump_head(std::string_view spool_dir, std::string &head)
{
    head.clear();
    open_file file;
    if (!open_for_reading(dump_path(spool_dir).c_str(), file))
        return false;
    head.resize(file.size < dump_head_size ? static_cast<std::size_t>(file.size) : dump_head_size);
    std::size_t got = 0;
    for (std::size_t arrived = 1; got < head.size() && arrived > 0; got += arrived)
        arrived = read_next(file, head.data() + got, head.size() - got);
    // A line cut by the bound would show a word cut short (ESTABLI), so the
    // head of a larger dump ends after its last line end, when it has one.
    if (got > 0 && got < file.size) {
        const std::size_t end = head.find_last_of("\r\n", got - 1);
        if (end != std::string::npos)
            got = end + 1;
    }
    head.resize(got);
    close_file(file);
    return file.size == 0 || got > 0;
}
