// rrdtool for the Windows kit's tests under wine. A Windows program, so that
// cmd.exe waits for it, and so that its words arrive as the C runtime splits
// a command line, as the real rrdtool.exe gets them. Appends each call to
// calls.txt beside it, one line of [word]..., and keeps the little of a
// database that the kit reads, as text: a line of data source names, a line
// with the time of the last update (0 for none).
//   create DB DS:NAME:... ...  info DB  lastupdate DB  graph PNG ...
//   update DB N:...  flushcached DB
// Like rrdtool, an update lands only in a later second than the last one,
// and not in a read-only file; nor while "drop" exists beside this program
// (an update lost on its way), nor with RRDCACHED_ADDRESS set unless
// "daemon" exists beside it (a daemon that answers). Each update's fate,
// "landed" or "dropped", is appended to updates.txt beside it.
// Copied as netstat.exe, it prints netstat.txt beside it instead, and fails
// when there is none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <windows.h>

static std::string self()
{
    char path[MAX_PATH];
    return std::string(path, GetModuleFileNameA(NULL, path, MAX_PATH));
}

static std::string beside(const char *name)
{
    return self().substr(0, self().find_last_of('\\') + 1) + name;
}

static bool exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void append(const char *name, const std::string &text)
{
    std::ofstream(beside(name), std::ios::app | std::ios::binary) << text;
}

int main(int argc, char **argv)
{
    if (self().size() >= 11 && _stricmp(self().c_str() + self().size() - 11, "netstat.exe") == 0) {
        std::ifstream listing(beside("netstat.txt"), std::ios::binary);
        return listing && std::fputs(std::string(std::istreambuf_iterator<char>(listing), {}).c_str(), stdout) >= 0 ? 0 : 1;
    }
    std::string call;
    for (int i = 1; i < argc; ++i)
        call += std::string("[") + argv[i] + "]";
    append("calls.txt", call + "\n");
    if (argc < 3)
        return 1;
    const std::string command = argv[1], file = argv[2];
    if (command == "graph")
        return std::ofstream(file, std::ios::binary) ? 0 : 1;
    if (command == "create") {
        std::string names;
        for (int i = 3; i < argc; ++i)
            if (std::strncmp(argv[i], "DS:", 3) == 0)
                names += std::string(names.empty() ? "" : " ") + std::strtok(argv[i] + 3, ":");
        return std::ofstream(file, std::ios::binary) << names << "\n0\n" ? 0 : 1;
    }
    std::ifstream in(file);
    std::string names;
    long long last = 0;
    if (!std::getline(in, names) || !(in >> last)) {
        std::fprintf(stderr, "ERROR: opening '%s': not a database\n", file.c_str());
        return 1;
    }
    in.close();
    if (command == "info") {
        std::istringstream words(names);
        std::string name;
        for (int i = 0; words >> name; ++i)
            std::printf("ds[%s].index = %d\nds[%s].type = \"GAUGE\"\n", name.c_str(), i, name.c_str());
        return 0;
    }
    if (command == "lastupdate") {
        std::printf(" %s\n\n%lld: U\n", names.c_str(), last);
        return 0;
    }
    const bool daemon = !std::getenv("RRDCACHED_ADDRESS") || exists(beside("daemon"));
    if (command == "flushcached")
        return daemon ? 0 : 1;
    if (command != "update")
        return 1;
    const long long now = std::time(NULL);
    if (!daemon || exists(beside("drop")) || now <= last ||
        (GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY)) {
        append("updates.txt", "dropped\n");
        return 1;
    }
    // Written aside and moved into place, as a reader may come at any time.
    const std::string aside = file + ".standin";
    if (!(std::ofstream(aside, std::ios::binary) << names << "\n" << now << "\n"))
        return 1;
    if (!MoveFileExA(aside.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    append("updates.txt", "landed\n");
    return 0;
}
