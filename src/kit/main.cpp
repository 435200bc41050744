// estacount-kit: the jobs around estacount that an operator schedules:
// make the database, save the listing and collect a sample, draw the graph,
// write the counts for Prometheus. It exits 0 only when the work is done and
// confirmed, and otherwise 2 with one line on standard error (and, on
// Windows, in the event log, as the Task Scheduler keeps no standard error).
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "kit/jobs.h"
#include "platform/event_log.h"

namespace {

const char usage[] =
    "usage: estacount-kit create DB [LIST]\n"
    "       estacount-kit collect DB SPOOL [LIST]\n"
    "       estacount-kit graph DB PNG [START]\n"
    "       estacount-kit textfile [--max-age SECONDS] [--save] SPOOL FILE [LIST]\n"
    "       estacount-kit --help | --version\n"
    "LIST: the services in brackets, separated by dots; [POP3.SMTP.HTTP.FTP] when not given.\n"
    "Exit status 0 when the work is done and confirmed, 2 otherwise. See estacount-kit(1).\n";

const char all_services[] = "[POP3.SMTP.HTTP.FTP]";

// The word at `i`, or `otherwise` past the end.
std::string word(const std::vector<std::string> &words, std::size_t i, const char *otherwise)
{
    return i < words.size() ? words[i] : otherwise;
}

bool run_job(const std::vector<std::string> &words, std::string &failure)
{
    const std::string job = word(words, 0, "");
    const std::size_t count = words.size();
    if (job == "create" && count >= 2 && count <= 3)
        return create_job(words[1], word(words, 2, all_services), failure);
    if (job == "collect" && count >= 3 && count <= 4)
        return collect_job(words[1], words[2], word(words, 3, all_services), failure);
    if (job == "graph" && count >= 3 && count <= 4)
        return graph_job(words[1], words[2], word(words, 3, "end-1d"), failure);
    if (job == "textfile") {
        std::int64_t max_age = 600;
        bool save = false;
        std::size_t i = 1;
        for (; i < count && words[i].rfind("--", 0) == 0; ++i) {
            const std::string &option = words[i];
            if (option == "--save") {
                save = true;
                continue;
            }
            if (option != "--max-age") {
                failure = "no option " + option + "; usage: estacount-kit textfile [--max-age SECONDS] [--save] "
                          "SPOOL FILE [LIST]";
                return false;
            }
            const std::string seconds = word(words, ++i, "");
            const auto [end, error] = std::from_chars(seconds.data(), seconds.data() + seconds.size(), max_age);
            if (seconds.empty() || error != std::errc{} ||
                end != seconds.data() + seconds.size() || max_age < 0) {
                failure = "--max-age takes a number of seconds; usage: estacount-kit textfile [--max-age SECONDS] "
                          "[--save] SPOOL FILE [LIST]";
                return false;
            }
        }
        if (count - i >= 2 && count - i <= 3)
            return textfile_job(max_age, save, words[i], words[i + 1], word(words, i + 2, all_services), failure);
    }
    // The one usage line of the job asked for, or of all.
    const std::string text = usage;
    const std::size_t at = job.empty() ? std::string::npos : text.find("estacount-kit " + job + " ");
    if (at == std::string::npos || job.rfind("-", 0) == 0)
        failure = job.empty() ? "no job given; usage: estacount-kit create|collect|graph|textfile ... (see --help)"
                              : "no job \"" + job + "\": the jobs are create, collect, graph and textfile (see --help)";
    else
        failure = "usage: " + text.substr(at, text.find('\n', at) - at);
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (argc == 2 && (words[0] == "--help" || words[0] == "-h" || words[0] == "--version")) {
        std::fputs(words[0] == "--version" ? "estacount-kit 1.0\n" : usage, stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    }
    std::string failure;
    if (run_job(words, failure))
        return 0;
    const std::string line = "estacount-kit: " + shown(failure);
    std::fprintf(stderr, "%s\n", line.c_str());
    log_failure(line);
    return 2;
}
