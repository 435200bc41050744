#include "platform/process.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <cerrno>
#include <cstdio>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <string_view>
#include <vector>

extern char **environ;

namespace {

// The child must not inherit our console (a cron mail, a test's pipe), our
// signal state, or our session: it outlives us and writes its own messages
// nowhere, as the hidden window does on Windows. Returns 0, or the error
// number of the first setting that failed.
int configure(posix_spawn_file_actions_t &actions, posix_spawnattr_t &attributes)
{
    int error = 0;
    for (int fd = 0; fd <= 2 && error == 0; ++fd)
        error = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                                 fd == 0 ? O_RDONLY : O_WRONLY, 0);
#ifdef ESTACOUNT_HAVE_ADDCLOSEFROM
    if (error == 0)
        error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&attributes, &all);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&attributes, &none);
    if (error == 0)
        error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                                                          POSIX_SPAWN_SETSIGMASK);
    return error;
}

}  // namespace

bool interpreter_would_act_on(std::string_view)
{
    return false;
}

// No shell sees the words, so ; | & $( ) and quotes in a database path stay
// part of the path.
launch_result start_hidden_program(const std::vector<std::string> &words, std::string &failure)
{
    if (words.empty()) {
        failure = "the update command names no program";
        return launch_result::not_started;
    }
    std::vector<char *> argv;
    for (const std::string &word : words)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // glibc reports a failed exec (no such program on PATH, not executable)
    // as the result of the spawn itself. The child is never waited for: once
    // we exit, init adopts and reaps it.
    pid_t child;
    int error = configure(actions, attributes);
    if (error == 0)
        error = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        failure = words[0] + ": " + std::strerror(error);
        return launch_result::not_started;
    }
    return launch_result::started;
}

namespace {

// What a finished program wrote into `output`, from its start.
std::string read_back(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t got;
    lseek(fd, 0, SEEK_SET);
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

}  // namespace

// The program stays in our process group, so that a supervisor that ends
// the group (systemd's cgroup, a shell's Ctrl+C) ends it with us. Its words
// go to an unnamed file rather than a pipe, which a chatty program could
// fill while we wait for it.
program_result run_program(const std::vector<std::string> &words, unsigned seconds, std::intptr_t stdout_file)
{
    program_result result;
    FILE *const output = std::tmpfile();
    if (!output) {
        result.output = std::string("no file for its output: ") + std::strerror(errno);
        return result;
    }
    const int out = fileno(output);
    // Inherited as ignored, SIGCHLD would let the child go unwaited for.
    signal(SIGCHLD, SIG_DFL);
    std::vector<char *> argv;
    for (const std::string &word : words)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, stdout_file >= 0 ? static_cast<int>(stdout_file) : out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        result.output = words[0] + ": " + std::strerror(error);
        std::fclose(output);
        return result;
    }
    const struct timespec pause = {0, 5'000'000};
    int status = 0;
    pid_t done = 0;
    for (unsigned long waited = 0; (done = waitpid(child, &status, WNOHANG)) == 0; ++waited) {
        if (waited == seconds * 200ul) {
            kill(child, SIGKILL);
            done = waitpid(child, &status, 0);
            result.outcome = program_result::timed_out;
            break;
        }
        nanosleep(&pause, nullptr);
    }
    result.output = read_back(out);
    std::fclose(output);
    if (done != child)
        return result;
    if (result.outcome != program_result::timed_out) {
        result.outcome = program_result::exited;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result;
}

std::string host_name()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "this host";
    return name;
}
