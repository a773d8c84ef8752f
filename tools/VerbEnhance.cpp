// handpix enhance IN OUT [--mask FILE|none] [--equalise]: the photo enhancement
// of CLuxJpeg: devignetting against a mask picture, optionally a contrast stretch.
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

// Which mask devignetted the picture, and how it was fitted to it.
std::string MaskNote(const CLuxJpeg& lux, const LUX_Image* picture) {
    const LUX_Image* mask = lux.m_pMaskImage;
    if (!mask) return "no mask (gamma only)";
    std::string note = fmt::format("mask {}", lux.m_strMaskPath.c_str());
    if (mask->ulWidth != picture->ulWidth || mask->ulHeight != picture->ulHeight)
        note += fmt::format(", fitted from {} x {}", mask->ulWidth, mask->ulHeight);
    return note;
}

int RunEnhance(EnhanceOptions o) {
    CLuxJpeg lux;  // takes "Mask.jpg" beside the program, or the installed one
    if (o.mask == "none") {
        lux.LUX_LoadMask(nullptr);
    } else if (!o.mask.empty() && !lux.LUX_LoadMask(o.mask.c_str())) {
        fmt::print(stderr, "{}: not a colour JPEG\n", o.mask);
        return 1;
    }
    LUX_Image* loaded = lux.LUX_LoadFile(o.in.data());
    if (!loaded) {
        fmt::print(stderr, "{}: not a colour JPEG\n", o.in);
        return 1;
    }
    const std::string note = MaskNote(lux, loaded);
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
    fmt::print("{} -> {} ({} x {}), {}\n", o.in, o.out, result->ulWidth, result->ulHeight, note);
    return 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<EnhanceOptions>();
    CLI::App* cmd = app.add_subcommand("enhance", "Devignette a JPEG photo against a mask, optionally stretch its contrast");
    cmd->add_option("in", opts->in, "Input JPEG")->required();
    cmd->add_option("out", opts->out, "Output JPEG")->required();
    cmd->add_option("--mask", opts->mask,
                    "Mask picture, fitted to the photo, or \"none\" for gamma only (default: Mask.jpg beside the "
                    "program, else ../share/handpix/Mask.jpg)");
    cmd->add_flag("--equalise", opts->equalise, "Stretch the levels between the darkest and brightest 0.5 %");
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunEnhance(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
