// rrdtool for the Windows kit's tests under wine. A Windows program, so that
// cmd.exe waits for it, and so that its words arrive as the C runtime splits
// a command line, as the real rrdtool.exe gets them. Appends each call to
// calls.txt beside it, one line of [word]..., and keeps the little of a
// database that the kit reads, as text: a line of data source names, a line
// with the time of the last update (0 for none).
//   create DB DS:NAME:... ...  info DB  lastupdate DB  graph PNG ...
//   update DB N:...  flushcached DB
// Like rrdtool, an update lands only in a later second than the last one,
// and not in a read-only file; nor with RRDTOOL_DROPS set (an update lost on
// its way), nor with RRDCACHED_ADDRESS set (a daemon that does not answer).
// Each update that lands appends "landed" to updates.txt beside it.
// Called as "netstat -an", it prints netstat.txt beside it instead, and
// fails when there is none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
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

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "-an") == 0) {
        std::ifstream listing(beside("netstat.txt"), std::ios::binary);
        if (listing)
            std::cout << listing.rdbuf();
        return !listing;
    }
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
    // Any file will do for a graph: the kit only moves it into place.
    if (command == "create" || command == "graph") {
        names.clear();
        for (int i = 3; i < argc; ++i)
            if (std::strncmp(argv[i], "DS:", 3) == 0)
                names += std::string(names.empty() ? "" : " ") + std::strtok(argv[i] + 3, ":");
        return std::ofstream(file, std::ios::binary) << names << "\n0\n" ? 0 : 1;
    }
    if (!database)
        return 1;
    if (command == "info") {
        std::istringstream words(names);
        std::string name;
        for (int i = 0; words >> name; ++i)
            std::printf("ds[%s].index = %d\n", name.c_str(), i);
        return 0;
    }
    if (command == "lastupdate")
        return std::printf(" %s\n\n%lld: U\n", names.c_str(), last) < 0;
    if (command != "update")
        return command == "flushcached" && !std::getenv("RRDCACHED_ADDRESS") ? 0 : 1;
    const long long now = std::time(NULL);
    if (std::getenv("RRDCACHED_ADDRESS") || std::getenv("RRDTOOL_DROPS") || now <= last ||
        (GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY))
        return 1;
    // Written aside and moved into place, as a reader may come at any time.
    const std::string aside = file + ".standin";
    if (!(std::ofstream(aside, std::ios::binary) << names << "\n" << now << "\n"))
        return 1;
    if (!MoveFileExA(aside.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    append("updates.txt", "landed\n");
    return 0;
}
