// Runs test code or the tool in a forked child under limits: address space,
// wall time, file size, and optionally as the unprivileged user "nobody"
// (CI runs as root, where permission cases cannot show otherwise).
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace handpix::test {

struct ChildLimits {
    unsigned long long addressSpaceBytes = 0;  // RLIMIT_AS; ignored under sanitizers, which reserve terabytes
    unsigned long long fileSizeBytes = 0;      // RLIMIT_FSIZE (writes past it fail with EFBIG)
    double seconds = 0;                        // wall time; the child is killed after it
    bool unprivileged = false;                 // drop to uid/gid 65534 when running as root
};

struct ChildResult {
    bool exited = false;  // ended by exit, not a signal
    int exitCode = -1;
    int signal = 0;
    bool timedOut = false;
    long maxRssKb = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of the child: what it cost, whatever the machine's load
    std::string output;  // stdout and stderr, for RunProgram
};

// True when the build carries a sanitizer runtime (limits on memory are then meaningless).
bool UnderSanitizer();

// fn's return value becomes the child's exit code.
ChildResult RunInChild(const std::function<int()>& fn, const ChildLimits& limits = {});
// Executes argv[0] with the arguments, capturing its output.
ChildResult RunProgram(const std::vector<std::string>& argv, const ChildLimits& limits = {});

}  // namespace handpix::test
