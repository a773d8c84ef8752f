// Running a whole program from a bench, as a user would.
#pragma once
#include <string>
#include <vector>

namespace handpix::bench {
// Runs args[0] (looked for on PATH) with its output thrown away. True when it
// exited with 0. Adds the child's user and system time, in milliseconds, to
// *cpuMs when given.
bool RunQuiet(const std::vector<std::string>& args, double* cpuMs = nullptr);
}  // namespace handpix::bench
