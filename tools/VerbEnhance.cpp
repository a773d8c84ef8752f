// handpix enhance IN OUT [--mask FILE] [--equalise]: the photo enhancement of
// CLuxJpeg: devignetting against a mask picture, optionally a contrast stretch.
#include <fmt/core.h>

#include <memory>
#include <string>

#include "handpix/enhance/LuxJpeg.h"
#include "tools/Common.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct EnhanceOptions {
    std::string in, out, mask;
    bool equalise = false;
};

int RunEnhance(EnhanceOptions o) {
    CLuxJpeg lux;  // takes "Mask.jpg" beside the program when there is one
    if (!o.mask.empty()) {
        LUX_Image* mask = CLuxJpeg::LUX_LoadJPEG(o.mask.data());
        if (!mask) {
            fmt::print(stderr, "{}: not a colour JPEG\n", o.mask);
            return 1;
        }
        // Inverted, as the object does with its own mask.
        CLuxJpeg::LUX_InvertImage(mask);
        CLuxJpeg::LUX_FreeImage(lux.m_pMaskImage);
        lux.m_pMaskImage = mask;
    }
    LUX_Image* loaded = lux.LUX_LoadFile(o.in.data());
    if (!loaded) {
        fmt::print(stderr, "{}: not a colour JPEG\n", o.in);
        return 1;
    }
    const LUX_Image* mask = lux.m_pMaskImage;
    if (!mask || mask->ulWidth < loaded->ulWidth || mask->ulHeight < loaded->ulHeight)
        fmt::print(stderr, "handpix: note: no mask covers {} x {}: not devignetted\n", loaded->ulWidth, loaded->ulHeight);
    CLuxJpeg::LUX_FreeImage(loaded);
    LUX_Image* result = lux.m_pOutImage;
    if (!result) {
        fmt::print(stderr, "{}: out of memory\n", o.in);
        return 1;
    }
    if (o.equalise)
        CLuxJpeg::LUX_EqualiseImage(result->ppRows, result->ppRows, nullptr, result->ulWidth, result->ulHeight,
                                    result->ulChannels);
    if (!CLuxJpeg::LUX_SaveJPEG(result, o.out.data())) {
        fmt::print(stderr, "{}: cannot write\n", o.out);
        return 1;
    }
    fmt::print("{} -> {} ({} x {})\n", o.in, o.out, result->ulWidth, result->ulHeight);
    return 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<EnhanceOptions>();
    CLI::App* cmd = app.add_subcommand("enhance", "Devignette a JPEG photo against a mask, optionally stretch its contrast");
    cmd->add_option("in", opts->in, "Input JPEG")->required();
    cmd->add_option("out", opts->out, "Output JPEG")->required();
    cmd->add_option("--mask", opts->mask, "Mask picture (default: Mask.jpg beside the program)");
    cmd->add_flag("--equalise", opts->equalise, "Stretch the levels between the darkest and brightest 0.5 %");
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunEnhance(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
