#include "delivery/update.h"

#include "platform/file.h"

bool check_database(const char *rrd_path)
{
    return regular_file_opens(rrd_path);
}

database_path_problem database_path_problem_of(std::string_view rrd_path)
{
    for (std::size_t i = 0; i < rrd_path.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(rrd_path[i]);
        if (byte == ' ')
            return database_path_problem::space;
        if (byte < 0x20 || byte == 0x7F)
            return database_path_problem::control_character;
        if (i == 0 && byte == '-')
            return database_path_problem::leading_dash;
    }
    return database_path_problem::none;
}

std::string sample_text(const run_state &run)
{
    std::string sample = "N";
    for (int i = 0; i < service_count; ++i)
        if (run.selected[i]) {
            sample += ':';
            sample += run.count_texts[i];
        }
    return sample;
}

std::vector<std::string> update_words(const run_state &run)
{
    return {"rrdtool", "update", std::string(run.rrd_path), sample_text(run)};
}

launch_result launch_update(const std::vector<std::string> &words, std::string &failure)
{
    return start_hidden_program(words, failure);
}
