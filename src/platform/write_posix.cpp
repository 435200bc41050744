#include "platform/write.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string last_error_text()
{
    return std::strerror(errno);
}

bool create_unique_file(const std::string &folder, const char *prefix, open_file &file,
                        std::string &path, std::string &failure)
{
    std::string name = folder + "/" + prefix + "XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        failure = name + ": " + last_error_text();
        return false;
    }
    // mkstemp makes it 0600, and others (the web server, node_exporter)
    // read what the kit writes, whatever umask cron or a shell left. On the
    // descriptor: a chmod by name would follow a symlink swapped in.
    fchmod(fd, 0644);
    file.handle = fd;
    path = name;
    return true;
}

bool write_all(open_file &file, std::string_view text, std::string &failure)
{
    while (!text.empty()) {
        const ssize_t n = write(static_cast<int>(file.handle), text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = last_error_text();
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A full disk may show only at fsync or close, never at the write.
bool write_done(open_file &file, std::string &failure)
{
    const int fd = static_cast<int>(file.handle);
    file.handle = -1;
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    if (!synced)
        failure = last_error_text();
    if (close(fd) != 0 && synced) {
        failure = last_error_text();
        return false;
    }
    return synced;
}

bool replace_file(const std::string &from, const std::string &to, std::string &failure)
{
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    failure = to + ": " + last_error_text();
    return false;
}

void remove_file(const std::string &path)
{
    unlink(path.c_str());
}

bool make_folders(const std::string &folder, std::string &failure)
{
    for (std::size_t at = 1; at <= folder.size(); ++at)
        if (at == folder.size() || folder[at] == '/') {
            const std::string part = folder.substr(0, at);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                failure = part + ": " + last_error_text();
                return false;
            }
        }
    struct stat made;
    if (stat(folder.c_str(), &made) == 0 && S_ISDIR(made.st_mode))
        return true;
    failure = folder + ": not a folder";
    return false;
}

bool path_exists(const std::string &path, std::int64_t *modified)
{
    // The target's time for a symlink; a dangling one still exists.
    struct stat found;
    if (stat(path.c_str(), &found) != 0 && lstat(path.c_str(), &found) != 0)
        return false;
    if (modified)
        *modified = found.st_mtime;
    return true;
}

bool is_link(const std::string &path)
{
    struct stat found;
    return lstat(path.c_str(), &found) == 0 && S_ISLNK(found.st_mode);
}
