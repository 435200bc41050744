#include "delivery/update.h"

#include "front/service_list.h"
#include "platform/file.h"

bool check_database(std::string_view rrd_path, std::string &why)
{
    return regular_file_opens(std::string(rrd_path).c_str(), &why);
}

path_faults database_path_faults(std::string_view rrd_path)
{
    path_faults faults = 0;
    const auto add = [&faults](path_fault fault) { faults |= 1u << static_cast<unsigned>(fault); };
    if (rrd_path.empty())
        add(path_fault::empty);
    if (service_list_is_bracketed(rrd_path))
        add(path_fault::service_list);
    for (const std::string_view keyword : {"v", "V", "?", "help", "HELP"})
        if (rrd_path == keyword)
            add(path_fault::keyword);
    if (interpreter_would_act_on(rrd_path))
        add(path_fault::interpreter);
    for (std::size_t i = 0; i < rrd_path.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(rrd_path[i]);
        if (byte == ' ') {
            add(path_fault::space);
            break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            add(path_fault::control_character);
            break;
        }
        if (i == 0 && byte == '-') {
            add(path_fault::leading_dash);
            break;
        }
    }
    return faults;
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
