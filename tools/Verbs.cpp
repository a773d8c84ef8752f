#include "tools/Verbs.h"

#include <vector>

namespace handpix::tool {
namespace {
int g_exitCode = 0;  // the tool runs one verb per process
std::vector<VerbFactory>& Factories() {
    static std::vector<VerbFactory> f;
    return f;
}
}  // namespace

VerbRegistrar::VerbRegistrar(VerbFactory f) { Factories().push_back(f); }
void SetExitCode(int code) { g_exitCode = code; }
int ExitCode() { return g_exitCode; }

void RegisterVerbs(CLI::App& app) {
    for (VerbFactory f : Factories()) f(app);
}
}  // namespace handpix::tool
