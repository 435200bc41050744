// rrdtool for the Windows kit's tests under wine. A Windows program, so that
// its words arrive as the C runtime splits a command line, as the real
// rrdtool.exe gets them. Appends each call to calls.txt beside it, one line
// of [word]..., and keeps the little of a database that the kit reads, as
// text: a line of data source names, a line with the time of the last
// update (0 for none).
//   create DB [--no-overwrite] ... DS:NAME:... ...  info DB
//   update DB N:...  update DB SECONDS:...
//   graph - ...  (a PNG's signature and the sources, on stdout)
// Like rrdtool, an update lands only in a later second than the last one,
// and not in a read-only file; nor with RRDCACHED_ADDRESS set (a daemon that
// does not answer, through which create still makes a local file). Each
// update that lands appends "landed" to updates.txt beside it. A failure
// says why on stderr, as rrdtool does. With RRDTOOL_HANGS set, it waits a
// minute before anything; with RRDTOOL_FAILS set to a verb, that verb fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <io.h>
#include <sstream>
#include <string>
#include <windows.h>

static std::string beside(const char *name)
{
    char path[MAX_PATH];
    const std::string self(path, GetModuleFileNameA(NULL, path, MAX_PATH));
    return self.substr(0, self.find_last_of('\\') + 1) + name;
}

static void append(const char *name, const std::string &text)
{
    std::ofstream(beside(name), std::ios::app | std::ios::binary) << text;
}

static int error(const std::string &why)
{
    std::fprintf(stderr, "ERROR: %s\n", why.c_str());
    return 1;
}

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "", file = argc > 2 ? argv[2] : "";
    std::string names, call;
    long long last = 0;
    std::ifstream in(file);
    const bool database = std::getline(in, names) && in >> last;
    in.close();
    // Recorded once the database is read and before it is written: a test
    // that waits for the record finds it free for the next run, which opens
    // it alone, and an update's record comes before its landing.
    for (int i = 1; i < argc; ++i)
        call += std::string("[") + argv[i] + "]";
    append("calls.txt", call + "\n");
    if (std::getenv("RRDTOOL_HANGS"))
        Sleep(60000);
    const char *fails = std::getenv("RRDTOOL_FAILS");
    if (fails && command == fails)
        return error(command + " failed, as RRDTOOL_FAILS asked");
    const bool daemon = std::getenv("RRDCACHED_ADDRESS") != NULL;
    if (command == "create") {
        names.clear();
        for (int i = 3; i < argc; ++i)
            if (std::strcmp(argv[i], "--no-overwrite") == 0 && GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
                return error("creating '" + file + "': File exists");
            else if (std::strncmp(argv[i], "DS:", 3) == 0)
                names += std::string(names.empty() ? "" : " ") + std::strtok(argv[i] + 3, ":");
        return std::ofstream(file, std::ios::binary) << names << "\n0\n" ? 0 : error("opening '" + file + "'");
    }
    if (daemon)
        return error("Unable to connect to rrdcached: Connection refused");
    if (command == "graph" && file == "-") {
        _setmode(_fileno(stdout), _O_BINARY);
        return std::printf("\x89PNG\r\n\x1a\n%s\n", call.c_str()) < 0;
    }
    if (!database)
        return error("opening '" + file + "': No such file or directory");
    if (command == "info") {
        std::istringstream words(names);
        std::string name;
        std::printf("filename = \"%s\"\nstep = 300\n", file.c_str());
        for (int i = 0; words >> name; ++i)
            std::printf("ds[%s].index = %d\nds[%s].type = \"GAUGE\"\n", name.c_str(), i, name.c_str());
        return 0;
    }
    const std::string sample = argc > 3 ? argv[3] : "";
    const long long when = sample.rfind("N:", 0) == 0 ? std::time(NULL) : std::atoll(sample.c_str());
    if (command != "update")
        return error("the stand-in takes no " + command);
    if (when <= last)
        return error(file + ": illegal attempt to update using time " + std::to_string(when) +
                     " when last update time is " + std::to_string(last) + " (minimum one second step)");
    if (GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY)
        return error("opening '" + file + "': Permission denied");
    // Written aside and moved into place, as a reader may come at any time.
    const std::string aside = file + ".standin";
    if (!(std::ofstream(aside, std::ios::binary) << names << "\n" << when << "\n"))
        return error("writing '" + aside + "'");
    if (!MoveFileExA(aside.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        return error("renaming '" + aside + "' to '" + file + "'");
    append("updates.txt", "landed\n");
    return 0;
}
