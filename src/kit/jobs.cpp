#include "kit/jobs.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "common/run_state.h"
#include "counting/dump.h"
#include "counting/listing_look.h"
#include "counting/scan.h"
#include "delivery/update.h"
#include "front/service_list.h"
#include "kit/listing.h"
#include "platform/lock.h"
#include "platform/process.h"
#include "platform/write.h"

namespace {

// Each bound well inside the collect unit's two minutes.
constexpr unsigned rrdtool_seconds = 20;
constexpr unsigned lock_seconds = 30;

// A database's data source for a service is its name in lower case, the
// service list's second spelling.
std::string source_name(int service)
{
    return std::string(service_table[service].spellings[1]);
}

std::string daemon_address()
{
    const char *address = std::getenv("RRDCACHED_ADDRESS");
    return address ? address : "";
}

std::string through_daemon()
{
    const std::string address = daemon_address();
    return address.empty() ? "" : " through rrdcached at " + address;
}

// Another program's words as part of one line.
std::string one_line(const std::string &text)
{
    std::string line;
    for (const char c : text)
        if (c != '\n' && c != '\r')
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

// Runs rrdtool with `words` and waits for it: true when it exited 0, with
// what it printed in `output`; else `failure` gives its words.
bool rrdtool(std::vector<std::string> words, std::string &failure, std::string *output = nullptr,
             std::intptr_t stdout_file = -1)
{
    const std::string verb = words[0];
    words.insert(words.begin(), "rrdtool");
    const program_result run = run_program(words, rrdtool_seconds, stdout_file);
    // Where rrdtool said ERROR, that is what it meant; the rest can be a
    // whole info dump it printed before failing.
    std::string errors;
    for (std::size_t at = 0; (at = run.output.find("ERROR", at)) != std::string::npos; ++at)
        if (at == 0 || run.output[at - 1] == '\n')
            errors += run.output.substr(at, run.output.find('\n', at) - at) + "\n";
    const std::string said = one_line(errors.empty() ? run.output : errors);
    if (run.outcome == program_result::exited && run.status == 0) {
        if (output)
            *output = run.output;
        return true;
    }
    if (run.outcome == program_result::not_started)
        failure = "rrdtool could not be started: " + said;
    else if (run.outcome == program_result::timed_out)
        failure = "rrdtool " + verb + " did not end within " + std::to_string(rrdtool_seconds) +
                  " s and was stopped" + (said.empty() ? "" : ": " + said);
    else
        failure = said.empty() ? "rrdtool " + verb + " exited with status " + std::to_string(run.status) : said;
    return false;
}

// The database-path faults the kit refuses, in its order: "the database
// path", the path itself when `names_it`, `what`, then ": write ./PATH" when
// `advise_dot`.
struct path_refusal {
    path_fault fault;
    bool names_it;
    const char *what;
    bool advise_dot;
};
constexpr path_refusal path_refusals[] = {
    {path_fault::empty, false, "is empty", false},
    {path_fault::service_list, true, "is a service list: give the database first, then the list", false},
    {path_fault::interpreter, true,
     "holds one of \" % ! ^ & | < > ( ) or a control character, which cmd.exe would act on", false},
    {path_fault::keyword, true, "is one of estacount's keywords", true},
    {path_fault::space, true, "holds a space, which would split it in rrdtool's update and rrdcached's line", false},
    {path_fault::leading_dash, true, "begins with -, which rrdtool would take for an option", true},
    {path_fault::control_character, false, "holds a control character", false},
};

// The rules estacount's own update holds a database path to, so that a
// database the kit makes can also be filled by "estacount ... fillrrd".
bool path_taken(const std::string &db, std::string &failure)
{
    const path_faults faults = database_path_faults(db);
    for (const path_refusal &refusal : path_refusals)
        if (has_fault(faults, refusal.fault)) {
            failure = std::string("the database path ") + (refusal.names_it ? db + " " : "") + refusal.what +
                      (refusal.advise_dot ? ": write ./" + db : "");
            return false;
        }
    return true;
}

// The services LIST selects, read as estacount reads it, but strict: every
// name must be a service's, and one at least.
bool selection_of(const std::string &list, service_selection &selected, std::string &failure)
{
    if (!service_list_is_bracketed(list)) {
        failure = "the service list " + list + " is not in brackets: write it as [POP3.SMTP.HTTP.FTP]";
        return false;
    }
    const unknown_names unknown = find_unknown_names(list);
    selected = parse_service_list(list);
    if (unknown.count > 0)
        failure.append("\"").append(unknown.first).append("\" in the service list " + list) +=
            " is no service: write POP3, SMTP, HTTP or FTP, all in capitals or all in lower case, separated by dots";
    else if (selected == service_selection{})
        failure = "the service list " + list + " selects no service: name one at least, as in [HTTP]";
    return failure.empty();
}

std::string names_of(const service_selection &selected)
{
    std::string names;
    for (int i = 0; i < service_count; ++i)
        if (selected[i])
            names += std::string(names.empty() ? "" : " ") + source_name(i);
    return names;
}

// The data sources of DB in their order, from rrdtool info's lines
// "ds[NAME].index = N", as the services they are; `info` keeps the rest.
bool sources_of(const std::string &db, service_selection &sources, std::string &other, std::string &info,
                std::string &failure)
{
    if (!rrdtool({"info", db}, failure, &info)) {
        // Where the daemon does not answer, rrdtool info reads a file of
        // that name here instead, and speaks of that: a flush, which only
        // the daemon does, tells whether it answers.
        std::string flushed;
        if (!daemon_address().empty() && !rrdtool({"flushcached", db}, flushed) && flushed != failure)
            failure += "; asked to flush it: " + flushed;
        failure = "cannot read " + db + through_daemon() + ": " + failure;
        return false;
    }
    sources = {};
    std::vector<std::string> names;
    for (std::size_t at = 0; (at = info.find("\nds[", at)) != std::string::npos;) {
        const std::size_t end = info.find("].index = ", at);
        const std::size_t line_end = info.find('\n', at + 1);
        at += 4;
        if (end < line_end)
            names.push_back(info.substr(at, end - at));
    }
    other.clear();
    for (std::size_t i = 0; i < names.size(); ++i) {
        other += (i ? " " : "") + names[i];
        for (int s = 0; s < service_count; ++s)
            if (names[i] == source_name(s))
                sources[s] = true;
    }
    return true;
}

// The second the next sample goes out in: now, or the one after the last
// sample sent from this spool folder when that is this second or the next.
// rrdcached takes one sample a second, and the time is noted before each
// update, so that a run killed during its update still keeps the next run
// out of its second. A clock set back further is left to rrdtool to judge.
std::time_t next_second(const std::string &stamp)
{
    // Read as estacount reads its dump, a regular file alone: a FIFO or a
    // device planted there by whoever may write in the spool folder is
    // never opened.
    char text[24] = {};
    open_file file;
    if (open_for_reading(stamp.c_str(), file)) {
        read_at(file, 0, text, file.size < sizeof text - 1 ? file.size : sizeof text - 1);
        close_file(file);
    }
    const std::time_t last = std::strtoll(text, nullptr, 10);
    const std::time_t now = std::time(nullptr);
    return last >= now && last - now < 2 ? last + 1 : now;
}

// Zeros from a listing the scan cannot read (netstat in another language,
// ss, UTF-16) are no counts.
bool english_listing(const std::string &spool)
{
    std::string head;
    return read_dump_head(spool, head) && look_of_listing(head).kind == listing_kind::english;
}

bool database_there(const std::string &db, const std::string &list, std::string &failure)
{
    // Not estacount's check, whose open on Windows shares nothing and so
    // fails while another run's rrdtool has the file open: rrdtool info,
    // next, judges what is there.
    if (!daemon_address().empty() || path_exists(db))
        return true;
    failure = "no database at " + db + (list.empty() ? "" : ": make it with estacount-kit create " + db + " " + list);
    return false;
}

}  // namespace

bool create_job(const std::string &db, const std::string &list, std::string &failure)
{
    service_selection selected;
    if (!selection_of(list, selected, failure) || !path_taken(db, failure))
        return false;
    const bool was_there = path_exists(db);
    std::string why;
    if (daemon_address().empty()) {
        // rrdtool would say only "Cannot create temporary file".
        const std::string probe = folder_of(db) + directory_separator + ".estacount-kit.probe";
        if (was_there)
            failure = db + " already exists: remove it first to start again";
        else if (!make_folders(folder_of(db), why) || !write_whole(probe, "", why))
            failure = "cannot write in the folder of " + db + ": " + why;
        remove_file(probe);
        if (!failure.empty())
            return false;
    }
    // GAUGE, as each value is how many connections are open at that moment;
    // a heartbeat of two steps, so that one missed run leaves no gap.
    std::vector<std::string> words = {"create", db, "--no-overwrite", "--step", "300"};
    for (int i = 0; i < service_count; ++i)
        if (selected[i])
            words.push_back("DS:" + source_name(i) + ":GAUGE:600:0:U");
    // AVERAGE for the trend and MAX for the peaks it hides: a day of
    // 5-minute points, a month of hours, a year of days.
    for (const char *archive : {"AVERAGE", "MAX"})
        for (const char *rows : {"1:288", "12:744", "288:366"})
            words.push_back(std::string("RRA:") + archive + ":0.5:" + rows);
    if (!rrdtool(words, why)) {
        failure = "rrdtool could not create " + db + through_daemon() + ": " + why;
        return false;
    }
    // rrdtool makes the file itself, where it stands, when the daemon does
    // not answer: only the daemon's own answer confirms it.
    std::string info, other;
    service_selection sources;
    if (daemon_address().empty() || sources_of(db, sources, other, info, why))
        return true;
    if (!was_there)
        remove_file(db);
    failure = db + " was not made" + through_daemon() + ": " + why;
    return false;
}

bool collect_job(const std::string &db, const std::string &spool, const std::string &list, std::string &failure)
{
    service_selection selected, sources;
    std::string other, info, why;
    if (!selection_of(list, selected, failure) || !path_taken(db, failure) ||
        !database_there(db, list, failure) || !sources_of(db, sources, other, info, failure)) {
        failure += ": no sample was sent";
        return false;
    }
    // The update carries the values by position: another list would be
    // refused, or worse, taken for other services.
    if (other != names_of(selected)) {
        failure = "the service list " + list + " sends " + names_of(selected) + ", but " + db + " holds " +
                  other + ": give the list that names its sources, in that order; no sample was sent";
        return false;
    }
    held_lock lock;
    if (!make_folders(spool, why) ||
        !take_lock(spool + directory_separator + ".estacount-kit.lock", lock_seconds, lock, why)) {
        failure = "cannot lock the spool folder: " + why + ": no sample was sent";
        return false;
    }
    std::string listing;
    bool landed = save_listing(spool, listing, failure);
    const std::string stamp = spool + directory_separator + ".estacount-kit.last";
    const std::time_t second = next_second(stamp);
    while (landed && std::time(nullptr) < second)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!landed) {
        failure += ": no sample was sent";
    } else if (!write_whole(stamp, std::to_string(second) + "\n", why)) {
        failure = "cannot note the sample's time in " + stamp + ": " + why + ": no sample was sent";
        landed = false;
    } else {
        run_state run;
        run.selected = selected;
        run.counts = count_connections(listing);
        form_count_texts(run);
        landed = rrdtool({"update", db, std::to_string(second) + sample_text(run).substr(1)}, why);
        if (!landed)
            failure = "the sample did not land in " + db + through_daemon() + ": " + why;
    }
    release_lock(lock);
    return landed;
}

bool graph_job(const std::string &db, const std::string &png, const std::string &start, std::string &failure)
{
    const std::string kept = ": " + png + " was left as it was";
    service_selection sources;
    std::string other, info, why;
    if (png.empty()) {
        failure = "the graph's path is empty";
        return false;
    }
    if (!path_taken(db, failure) || !database_there(db, "", failure) ||
        !sources_of(db, sources, other, info, failure)) {
        failure += kept;
        return false;
    }
    if (sources == service_selection{}) {
        failure = db + " holds none of pop3, smtp, http, ftp (it holds " + other + ")" + kept;
        return false;
    }
    // A database made elsewhere may keep no maxima.
    const std::string peak = info.find(".cf = \"MAX\"") != std::string::npos ? "MAX" : "AVERAGE";
    // rrdtool splits its DEF words at colons, such as a drive's.
    std::string def_db;
    for (const char c : db)
        def_db += c == ':' ? std::string("\\:") : std::string(1, c);
    // Connections come whole: labels without decimals, on an axis of 0 to
    // 10 at least, over which rrdtool's steps are whole.
    std::vector<std::string> words = {"graph", "-", "--start", start, "--end", "now", "--imgformat", "PNG",
                                      "--title", "Established connections on " + host_name(),
                                      "--vertical-label", "connections", "--width", "600", "--height", "200",
                                      "--lower-limit", "0", "--upper-limit", "10", "--left-axis-format", "%.0lf",
                                      "--units-exponent", "0"};
    static const char *const colours[service_count] = {"1f77b4", "ff7f0e", "2ca02c", "d62728"};
    for (int i = 0; i < service_count; ++i) {
        if (!sources[i])
            continue;
        const std::string n = source_name(i);
        std::string label = service_table[i].label;
        label.resize(5, ' ');
        for (const std::string &word :
             {"DEF:" + n + "=" + def_db + ":" + n + ":AVERAGE", "DEF:" + n + "peak=" + def_db + ":" + n + ":" + peak,
              "VDEF:" + n + "last=" + n + ",LAST", "VDEF:" + n + "avg=" + n + ",AVERAGE",
              "VDEF:" + n + "max=" + n + "peak,MAXIMUM", "LINE2:" + n + "#" + colours[i] + ":" + label,
              "GPRINT:" + n + "last:last %4.0lf", "GPRINT:" + n + "avg:average %6.1lf",
              "GPRINT:" + n + "max:max %4.0lf\\l"})
            words.push_back(word);
    }
    words.push_back("COMMENT:last and average from the AVERAGE archive, max from the " + peak + " archive\\l");
    open_file file;
    std::string temporary;
    const std::string folder = folder_of(png);
    if (!make_folders(folder, why) || !create_unique_file(folder, ".estacount-graph.", file, temporary, why)) {
        failure = "cannot write in " + folder + ": " + why + kept;
        return false;
    }
    const bool drawn = rrdtool(words, why, nullptr, file.handle);
    if (!drawn)
        failure = "rrdtool could not draw " + db + ": " + why + kept;
    if (!write_done(file, why) && drawn)
        failure = "cannot write " + temporary + ": " + why + kept;
    else if (drawn && !replace_file(temporary, png, why))
        failure = "cannot rename " + temporary + ": " + why + kept;
    if (!failure.empty())
        remove_file(temporary);
    return failure.empty();
}

bool textfile_job(std::int64_t max_age, bool save, const std::string &spool, const std::string &file,
                  const std::string &list, std::string &failure)
{
    const std::string kept = ": " + file + " was left as it was";
    service_selection selected;
    std::string listing, why;
    if (file.size() < 5 || file.compare(file.size() - 5, 5, ".prom") != 0)
        failure = file + " does not end in .prom: node_exporter would never read it";
    else if (selection_of(list, selected, failure) && save)
        save_listing(spool, listing, failure);
    if (!failure.empty()) {
        failure += kept;
        return false;
    }
    // A clock a little ahead, such as a file server's, is no fault.
    constexpr std::int64_t tolerance = 30;
    const std::string path = dump_path(spool);
    std::int64_t saved = 0;
    service_counts counts{};
    const bool there = path_exists(path, &saved);
    const std::int64_t age = std::time(nullptr) - saved;
    if (!there)
        failure = "no listing at " + path;
    else if (is_link(path))  // the kit saves a file there, never a link
        failure = "the listing " + path + " is a link, which could lead a run as root to another's file";
    else if (age > max_age)
        failure = "the listing " + path + " is " + std::to_string(age) + " s old, more than " +
                  std::to_string(max_age) + " s";
    else if (age < -tolerance)
        failure = "the listing " + path + " is dated " + std::to_string(-age) + " s ahead of this clock";
    else if (load_dump(spool, counts).result != read_result::done)
        failure = "the listing " + path + " could not be read whole";
    else if (counts == service_counts{} && !english_listing(spool))
        failure = "the listing " + path + " counts nothing and is no netstat listing in English, so its zeros "
                  "would be no counts: save it with estacount-kit collect, or use --save";
    if (!failure.empty()) {
        failure += kept;
        return false;
    }
    std::string text = "# HELP estacount_established_connections Established TCP connections on the service's "
                       "local port, in the last saved netstat listing.\n"
                       "# TYPE estacount_established_connections gauge\n";
    for (int i = 0; i < service_count; ++i)
        if (selected[i])
            text += "estacount_established_connections{service=\"" + source_name(i) + "\"} " +
                    std::to_string(counts[i]) + "\n";
    text += "# HELP estacount_listing_timestamp_seconds When the netstat listing that the counts come from "
            "was saved, in seconds since 1970.\n"
            "# TYPE estacount_listing_timestamp_seconds gauge\n"
            "estacount_listing_timestamp_seconds " + std::to_string(saved) + "\n";
    // Written under a name beginning with a dot, which the collector skips
    // (it reads only *.prom), then renamed into place.
    if (!write_whole(file, text, why)) {
        failure = "cannot write " + file + ": " + why + kept;
        return false;
    }
    return true;
}
