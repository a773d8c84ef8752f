#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace handpix::test {

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

namespace {

void ApplyLimits(const ChildLimits& limits) {
    if (limits.addressSpaceBytes && !UnderSanitizer()) {
        rlimit r{limits.addressSpaceBytes, limits.addressSpaceBytes};
        setrlimit(RLIMIT_AS, &r);
    }
    if (limits.fileSizeBytes) {
        rlimit r{limits.fileSizeBytes, limits.fileSizeBytes};
        setrlimit(RLIMIT_FSIZE, &r);
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead of killing
    }
    if (limits.unprivileged && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(125);
    }
}

// Waits for pid, killing it when the time limit passes.
ChildResult Wait(pid_t pid, const ChildLimits& limits) {
    ChildResult r;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    rusage use{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &use);
        if (done == pid) break;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (limits.seconds > 0 && elapsed > limits.seconds && !r.timedOut) {
            r.timedOut = true;
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.maxRssKb = use.ru_maxrss;
    r.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                   static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    r.exited = WIFEXITED(status);
    r.exitCode = r.exited ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

}  // namespace

ChildResult RunInChild(const std::function<int()>& fn, const ChildLimits& limits) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ApplyLimits(limits);
        _exit(fn());
    }
    return Wait(pid, limits);
}

ChildResult RunProgram(const std::vector<std::string>& argv, const ChildLimits& limits) {
    int pipeFds[2];
    if (argv.empty() || pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ApplyLimits(limits);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    // Read the output on a thread so a chatty child never blocks on a full pipe.
    std::string output;
    std::thread reader([&] {
        char buf[4096];
        ssize_t n;
        while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) output.append(buf, static_cast<std::size_t>(n));
    });
    ChildResult r = Wait(pid, limits);
    reader.join();
    close(pipeFds[0]);
    r.output = std::move(output);
    return r;
}

}  // namespace handpix::test
