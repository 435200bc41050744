#include "delivery/report.h"

#include <cstdio>

void print_report(const run_state &run)
{
    std::fputs("Connection established:\n", stdout);
    // Each count line opens with its line feed, so the heading is followed
    // by one blank line and the last count by none.
    for (int i = 0; i < service_count; ++i)
        if (run.selected[i])
            std::printf("\n%s: %s", service_table[i].label, run.count_texts[i].c_str());
    std::fputs("\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n", stdout);
}
