#include "bench/support/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace handpix::bench {

bool RunQuiet(const std::vector<std::string>& args, double* cpuMs) {
    if (args.empty()) return false;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&io, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const bool started = posix_spawnp(&pid, argv[0], &io, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&io);
    if (!started) return false;
    int status = -1;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid) return false;
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    if (cpuMs) *cpuMs += ms(use.ru_utime) + ms(use.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace handpix::bench
