// handpix info FILE...: the format by extension and the size after loading.
#include <fmt/core.h>

#include "handpix/imagefiles/GraphicFileLoad.h"
#include "tools/Common.h"
#include "tools/HandsetInfo.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct InfoOptions {
    std::vector<std::string> files;
};

int RunInfo(const InfoOptions& o) {
    int failures = 0;
    for (const std::string& f : o.files) {
        // Handset formats are recognised by their first bytes, whatever their name.
        std::string line;
        switch (DescribeHandsetFile(f, line)) {
            case HandsetInfoResult::described: fmt::print("{}\n", line); continue;
            case HandsetInfoResult::failed: fmt::print(stderr, "{}: {}\n", f, line); ++failures; continue;
            case HandsetInfoResult::notHandset: break;
        }
        CGraphicFileLoad g;
        std::string why;
        if (!LoadPicture(f, g, why)) {
            fmt::print(stderr, "{}: {}\n", f, why);
            ++failures;
            continue;
        }
        std::string ext = LowerExtension(f);
        fmt::print("{}\t{}\t{} x {}\n", f, ext.empty() ? "?" : ext.substr(1), g.m_nWidth, g.m_nHeight);
    }
    return failures ? 1 : 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Print the format and size of picture files");
    cmd->add_option("files", opts->files, "Picture files")->required();
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunInfo(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
