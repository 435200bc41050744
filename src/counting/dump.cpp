#include "counting/dump.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "counting/scan.h"

namespace {

std::size_t read_file_at(void *file, std::uint64_t offset, char *into, std::size_t want)
{
    return read_at(*static_cast<open_file *>(file), offset, into, want);
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
        const std::size_t got = source.read_at(source.source, at, buffer + at, size - at);
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

// One thread's buffer over the source, a window at a time.
struct window_reader {
    byte_source source;
    std::uint64_t size;  // the whole source's
    std::size_t window;
    char *buffer;
};

std::size_t read_window(const window_reader &reader, std::uint64_t at, std::uint64_t until)
{
    const std::uint64_t left = until - at;
    return reader.source.read_at(reader.source.source, at, reader.buffer,
                                 left < reader.window ? static_cast<std::size_t>(left) : reader.window);
}

// Scans from `from`, where a line starts, up to the first place at or after
// `cut` where a line starts (after a line feed) or the source ends, and
// returns that place; 0 after a read that brought nothing. So the share
// that ends at a cut and the one that starts there meet at one line feed.
std::uint64_t scan_share(const window_reader &reader, std::uint64_t from, std::uint64_t cut, scan_state &state,
                         service_counts &counts)
{
    if (from >= cut)
        return from;
    std::uint64_t at = from;
    while (at < reader.size) {
        const std::size_t got = read_window(reader, at, reader.size);
        if (got == 0)
            return 0;
        std::size_t take = got;
        bool ends = false;
        if (at + got >= cut) {
            // The line feed sought may be the byte just before the cut.
            const std::size_t look = cut - 1 >= at ? static_cast<std::size_t>(cut - 1 - at) : 0;
            if (const void *feed = std::memchr(reader.buffer + look, '\n', got - look)) {
                take = static_cast<std::size_t>(static_cast<const char *>(feed) - reader.buffer) + 1;
                ends = true;
            }
        }
        scan_window(state, {reader.buffer, take}, counts);
        at += take;
        if (ends)
            break;
    }
    return at;
}

// A share after the first, as one thread scans it ahead of knowing the
// state its predecessor ends in.
struct share {
    std::uint64_t cut = 0;        // where it is cut from its predecessor
    std::uint64_t start = 0;      // where its first line starts
    std::uint64_t end = 0;        // where its scan stopped (0: a read failed)
    bool ahead = false;           // scanned ahead from a fresh state, by a thread of its own
    bool unbuffered = false;      // its thread had no buffer, so it is left to the join
    bool empty = true;            // no line starts between its cut and its successor's
    scan_state state;             // the state it ended in
    service_counts counts{};
    std::thread thread;
};

// Finds the share's first line start, the first place after a line feed
// at or after its cut, and scans from there to its successor's cut. A
// share with no line feed between the cuts is empty: its predecessor's
// scan runs through it to the same line feed its successor starts at.
void scan_ahead(const window_reader &reader, std::uint64_t next_cut, share &part)
{
    part.end = next_cut;
    for (std::uint64_t at = part.cut - 1; at < next_cut - 1;) {
        const std::size_t got = read_window(reader, at, next_cut - 1);
        if (got == 0) {
            part.end = 0;
            return;
        }
        if (const void *feed = std::memchr(reader.buffer, '\n', got)) {
            part.start = at + static_cast<std::size_t>(static_cast<const char *>(feed) - reader.buffer) + 1;
            part.empty = false;
            part.end = scan_share(reader, part.start, next_cut, part.state, part.counts);
            return;
        }
        at += got;
    }
}

void run_share(window_reader reader, std::uint64_t next_cut, share *part)
{
    // Short of memory the share is scanned in its turn, in the caller's
    // buffer, as if no thread could be had: more memory never fails a run
    // that less would have counted.
    reader.buffer = reserve_read_buffer(reader.window);
    if (!reader.buffer) {
        part->unbuffered = true;
        return;
    }
    scan_ahead(reader, next_cut, *part);
    release_read_buffer(reader.buffer, reader.window);
}

// std::thread reports a thread it cannot have (a task limit reached, no
// memory) only by throwing, which would end the run in an abort instead of
// a count; the share is then scanned on the caller's thread.
bool start_share(share &part, const window_reader &reader, std::uint64_t next_cut)
{
    try {
        part.thread = std::thread(run_share, reader, next_cut, &part);
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

// The shares' cuts spread the source evenly; each share is scanned ahead on
// a thread, the first on this one, and the shares are then joined in order:
// one scanned ahead counts as it is where its predecessor ended at its
// start in a fresh state, and is scanned again from that state where not.
read_result scan_in_shares(byte_source source, std::uint64_t size, const scan_plan &plan, scan_state &state,
                           service_counts &counts, share_tally *tally)
{
    const unsigned shares = plan.shares > 1 ? plan.shares : 1;
    window_reader reader{source, size, plan.window, reserve_read_buffer(plan.window)};
    if (!reader.buffer)
        return read_result::short_read;
    const auto cut_of = [&](unsigned i) { return size / shares * i + std::min<std::uint64_t>(i, size % shares); };
    std::unique_ptr<share[]> parts(new share[shares]);
    for (unsigned i = 1; i < shares; ++i) {
        parts[i].cut = cut_of(i);
        parts[i].ahead = start_share(parts[i], reader, i + 1 < shares ? cut_of(i + 1) : size);
    }
    std::uint64_t at = scan_share(reader, 0, shares > 1 ? cut_of(1) : size, state, counts);
    bool whole = at != 0 || size == 0;
    for (unsigned i = 1; i < shares; ++i) {
        share &part = parts[i];
        if (part.ahead)
            part.thread.join();
        const bool ahead = part.ahead && !part.unbuffered;
        if (ahead && tally)
            ++tally->ahead;
        if (ahead && part.end == 0)
            whole = false;
        if (!whole || (ahead && part.empty))
            continue;  // an empty share's bytes were its predecessor's
        if (ahead && part.start == at && starts_afresh(state)) {
            for (int s = 0; s < service_count; ++s)
                counts[s] += part.counts[s];
            state = part.state;
            at = part.end;
            continue;
        }
        if (ahead && tally)
            ++tally->rescanned;
        at = scan_share(reader, at, i + 1 < shares ? cut_of(i + 1) : size, state, counts);
        whole = at != 0;
    }
    release_read_buffer(reader.buffer, reader.window);
    return whole ? read_result::done : read_result::short_read;
}

}  // namespace

std::string dump_path(std::string_view spool_dir)
{
    std::string path(spool_dir);
    path += directory_separator;
    path += "netstatdump.log";
    return path;
}

read_result scan_from(byte_source source, std::uint64_t size, const scan_plan &plan, service_counts &counts,
                      share_tally *tally)
{
    scan_state state;
    read_result result = read_result::done;
    if (size == 0) {
        // Nothing to read, and an empty dump is no failure.
    } else if (size <= plan.whole) {
        result = scan_in_one_buffer(source, static_cast<std::size_t>(size), state, counts);
    } else {
        result = scan_in_shares(source, size, plan, state, counts, tally);
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
    // Only a dump larger than one buffer is cut into shares, so only then
    // is the system asked (a call a small dump's run need not pay for).
    scan_plan plan;
    if (file.size > plan.whole) {
        plan.shares = std::min(usable_processors(), max_shares);
        use_best_masks(true);
    }
    read.result = scan_from({read_file_at, &file}, file.size, plan, counts);
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
        arrived = read_at(file, got, head.data() + got, head.size() - got);
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
