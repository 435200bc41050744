#include "counting/dump.h"

#include "counting/scan.h"

namespace {

struct scan_in_progress {
    scan_state state;
    service_counts &counts;
};

void scan_next_window(std::string_view window, void *context)
{
    auto &scan = *static_cast<scan_in_progress *>(context);
    scan_window(scan.state, window, scan.counts);
}

}  // namespace

std::string dump_path(std::string_view spool_dir)
{
    std::string path(spool_dir);
    path += directory_separator;
    path += "netstatdump.log";
    return path;
}

read_result load_dump(std::string_view spool_dir, service_counts &counts)
{
    scan_in_progress scan{{}, counts};
    const read_result result = read_file_in_windows(dump_path(spool_dir).c_str(),
                                                    dump_buffer_size, scan_next_window, &scan);
    if (result == read_result::done)
        finish_scan(scan.state, counts);
    return result;
}
