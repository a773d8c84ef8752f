#include "tools/Verbs.h"

namespace handpix::tool {
namespace {
int g_exitCode = 0;  // the tool runs one verb per process
}
void SetExitCode(int code) { g_exitCode = code; }
int ExitCode() { return g_exitCode; }

void RegisterVerbs(CLI::App& app) {
    (void)app;
}
}  // namespace handpix::tool
