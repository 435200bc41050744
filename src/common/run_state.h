// What one run knows, from the command line to the delivery. The front end
// owns it; the deliveries only read it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/service_table.h"

enum class run_mode { video, fillrrd };

struct run_state {
    run_mode mode = run_mode::video;
    std::string_view rrd_path;  // word 1, looked at in fillrrd mode only
    std::string_view spool_dir;
    std::string_view service_list;
    service_selection selected{};
    service_counts counts{};
    // Decimal text of each selected count; empty for the rest.
    std::array<std::string, service_count> count_texts;
};

// Writes the decimal count text of each selected service, once the scan is
// done; the rest stay empty.
inline void form_count_texts(run_state &run)
{
    for (int i = 0; i < service_count; ++i)
        if (run.selected[i])
            run.count_texts[i] = std::to_string(run.counts[i]);
}
