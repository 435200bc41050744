// The run is one straight pass: every check below runs in this order, the
// first that fails decides the message, and this file alone prints a refusal
// and chooses the exit status: 0 for usage or version, 1 when the run reached
// its delivery, -1 when it was refused or failed (text that never reached
// standard output included).

#include "front/run.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "common/run_state.h"
#include "counting/dump.h"
#include "delivery/report.h"
#include "delivery/update.h"
#include "front/service_list.h"
#include "front/usage.h"

namespace {

// Text that never reached its reader (a full disk, a closed descriptor) is no
// delivery, and there is nowhere left to say so. Both tests are needed: the
// Windows C runtime writes an unbuffered stdout at once, so its fflush has
// nothing left to fail and the error sits only in the stream's flag.
bool output_written()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int refuse_for_interpreter(const char *rrd_path)
{
    std::printf("\nimpossible to pass the rrd at [%s] to the command interpreter: "
                "it holds one of \" %% ! ^ & | < > ( ) or a control character\n",
                rrd_path);
    return -1;
}

}  // namespace

int run_command_line(int argc, char **argv)
{
    run_state run;

    if (argc < 2) {
        print_usage(usage_variant::dot);
        return output_written() ? 0 : -1;
    }
    // Keywords come before the word count, so "V a b c" prints the version.
    const std::string_view first = argv[1];
    if (first == "V" || first == "v") {
        print_version();
        return output_written() ? 0 : -1;
    }
    if (first == "?" || first == "help" || first == "HELP") {
        print_usage(usage_variant::comma);
        return output_written() ? 0 : -1;
    }
    if (argc < 5) {
        std::fputs("wrong use of parameters. use [estacount ?] for help", stdout);
        return -1;
    }

    // Any word but "fillrrd" means video, so a misspelt mode only prints.
    if (std::string_view(argv[4]) == "fillrrd")
        run.mode = run_mode::fillrrd;

    // The database is checked before the list, so a missing database wins
    // over a malformed list; a video run never looks at it.
    if (run.mode == run_mode::fillrrd) {
        run.rrd_path = argv[1];
        if (!check_database(argv[1])) {
            std::printf("\nimpossible to find the rrd choosen at [%s]\n", argv[1]);
            return -1;
        }
    }

    run.spool_dir = argv[2];
    run.service_list = argv[3];
    if (!service_list_is_bracketed(run.service_list)) {
        std::fputs("\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax", stdout);
        return -1;
    }
    run.selected = parse_service_list(run.service_list);

    switch (load_dump(run.spool_dir, run.counts)) {
    case read_result::done:
        break;
    case read_result::not_opened:
        std::fputs("\nCan't find netstat output file", stdout);
        return -1;
    case read_result::short_read:
        // A dump cut short would deliver counts too low; say nothing and fail.
        return -1;
    }

    for (int i = 0; i < service_count; ++i)
        if (run.selected[i])
            run.count_texts[i] = std::to_string(run.counts[i]);

    if (run.mode == run_mode::video) {
        print_report(run);
        return output_written() ? 1 : -1;
    }

    // A sample with no value could only make rrdtool fail.
    if (run.selected == service_selection{})
        return 1;
    const std::string command = build_update_command(run);
    // Where a command interpreter reads the path, its refusal comes first, so
    // that a path it would act on keeps that message whatever else it holds.
    if (interpreter_would_act_on(command))
        return refuse_for_interpreter(argv[1]);
    switch (database_path_problem_of(run.rrd_path)) {
    case database_path_problem::none:
        break;
    case database_path_problem::space:
        std::printf("\nimpossible to pass the rrd at [%s] to rrdtool: it holds a space\n", argv[1]);
        return -1;
    case database_path_problem::leading_dash:
        std::printf("\nimpossible to pass the rrd at [%s] to rrdtool: it begins with -\n", argv[1]);
        return -1;
    case database_path_problem::control_character:
        std::printf("\nimpossible to pass the rrd at [%s] to rrdtool: it holds a control character\n",
                    argv[1]);
        return -1;
    }
    switch (launch_update(command)) {
    case launch_result::started:
        return 1;
    case launch_result::not_started:
        std::printf("\nimpossible to start rrdtool to update the rrd at [%s]\n", argv[1]);
        return -1;
    case launch_result::refused:
        return refuse_for_interpreter(argv[1]);
    }
    return 1;
}
