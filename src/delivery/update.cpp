#include "delivery/update.h"

#include "platform/file.h"

bool check_database(const char *rrd_path)
{
    return regular_file_opens(rrd_path);
}

std::string build_update_command(const run_state &run)
{
    std::string command = "/C rrdtool update ";
    command += run.rrd_path;
    command += " N";
    for (int i = 0; i < service_count; ++i)
        if (run.selected[i]) {
            command += ':';
            command += run.count_texts[i];
        }
    return command;
}

launch_result launch_update(const std::string &update_command)
{
    return start_hidden_command(update_command);
}
