// handpix pack IN... -o OUT: ordinary pictures (an animated GIF or PNG, or
// stills one frame each) to a handset file of any format we read, reduced to its
// depth and fitted to its size.
#include <fmt/core.h>
#include <png.h>

#include <memory>
#include <optional>

#include "handpix/imagefiles/GifFrames.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/HandsetQuantize.h"
#include "handpix/imagefiles/ImgWriter.h"
#include "handpix/picture/HandsetWriter.h"
#include "handpix/picture/PictureHandset.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Limits.h"
#include "tools/ApngReader.h"
#include "tools/Common.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct PackOptions {
    std::vector<std::string> inputs;
    std::string out;
    int depth = 0;          // 0: the format's usual depth
    std::string stream;     // saf or sis; empty: by depth
    std::string palette = "own";
    int delay = 0;          // tenths of a second; 0: the inputs' own
    bool loop = false, once = false;
    std::string fit;        // WxH
    bool noFit = false;
    bool noDither = false;
};

enum class Format { img, pht, eba, sni };

// One still picture as RGBA: PNG through libpng, everything else through
// the library's loader.
bool LoadStill(const std::string& path, RgbaFrames& out, std::string& why) {
    std::vector<Rgba> px;
    if (LowerExtension(path) == ".png") {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path.c_str())) {
            why = image.message;
            return false;
        }
        image.format = PNG_FORMAT_RGBA;
        if (!PictureSizeAllowed(image.width, image.height)) {
            png_image_free(&image);
            why = "picture beyond the size limit";
            return false;
        }
        px.resize(static_cast<std::size_t>(image.width) * image.height);
        if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) {
            why = image.message;
            return false;
        }
        out.width = static_cast<int>(image.width), out.height = static_cast<int>(image.height);
    } else {
        CGraphicFileLoad g;
        if (!LoadPicture(path, g, why)) return false;
        for (int y = 0; y < g.m_nHeight; ++y) {
            const unsigned char* row = g.m_pDib + static_cast<std::size_t>(g.m_nStride) * (g.m_nHeight - 1 - y);
            for (int x = 0; x < g.m_nWidth; ++x) px.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x], 255});
        }
        out.width = g.m_nWidth, out.height = g.m_nHeight;
    }
    out.frames.push_back(std::move(px));
    out.delays.push_back(2);
    return true;
}

bool LoadInputs(const PackOptions& o, RgbaFrames& frames, std::string& why) {
    if (o.inputs.size() == 1 && LowerExtension(o.inputs[0]) == ".gif")
        return ReadGifFrames(o.inputs[0].c_str(), handset_picture::kMaxFrames, frames, why);
    if (o.inputs.size() == 1 && LowerExtension(o.inputs[0]) == ".png") {
        bool still = false;
        if (ReadApngFrames(o.inputs[0], handset_picture::kMaxFrames, frames, why, still)) return true;
        if (!still) return false;
        frames = RgbaFrames{};
    }
    for (const std::string& in : o.inputs) {
        RgbaFrames still;
        if (!LoadStill(in, still, why)) {
            why = in + ": " + why;
            return false;
        }
        if (frames.frames.empty()) {
            frames = still;
            continue;
        }
        // Later stills take the size of the first.
        if (still.width != frames.width || still.height != frames.height)
            still = ResizeFrames(still, frames.width, frames.height);
        frames.frames.push_back(still.frames[0]);
        frames.delays.push_back(still.delays[0]);
    }
    return true;
}

// The largest picture the format and stream hold.
void FormatBox(Format f, int depth, bool sis, int& w, int& h) {
    w = handset_picture::kMaxWidth, h = handset_picture::kMaxHeight;
    if (f == Format::sni && sis) w = 176, h = depth == 1 ? 120 : 160;  // multiples of 8
    if (f == Format::sni && !sis && depth == 16) w = 127;
}

ColourTarget TargetFor(Format f, int depth, bool ownPalette) {
    const bool animated = f == Format::sni || f == Format::eba;
    ColourTarget t;
    switch (depth) {
        case 1:
        case 2: t = GreyTarget(depth, animated); break;
        case 8: t = f == Format::sni && ownPalette ? OwnPaletteTarget() : Rgb332Target(); break;
        case 24: t = Rgb888Target(); break;
        default: t = Rgb565Target(); break;
    }
    // The still formats' readers show no transparency: such pixels go over white.
    if (!animated) t.keyed = false;
    return t;
}

// White borders that bring a side up to a multiple of 8.
RgbaFrames PadToEights(const RgbaFrames& in) {
    RgbaFrames out = in;
    out.width = (in.width + 7) / 8 * 8, out.height = (in.height + 7) / 8 * 8;
    if (out.width == in.width && out.height == in.height) return out;
    for (auto& f : out.frames) {
        std::vector<Rgba> px(static_cast<std::size_t>(out.width) * out.height, Rgba{255, 255, 255, 255});
        for (int y = 0; y < in.height; ++y)
            std::copy_n(f.begin() + static_cast<std::ptrdiff_t>(y) * in.width, in.width,
                        px.begin() + static_cast<std::ptrdiff_t>(y) * out.width);
        f = std::move(px);
    }
    return out;
}

int RunPack(const PackOptions& o) {
    const std::string ext = LowerExtension(o.out);
    std::optional<Format> format;
    if (ext == ".img") format = Format::img;
    if (ext == ".pht") format = Format::pht;
    if (ext == ".eba") format = Format::eba;
    if (ext == ".sni") format = Format::sni;
    if (!format) {
        fmt::print(stderr, "{}: the output must end in .img, .pht, .eba or .sni\n", o.out);
        return 2;
    }
    const int depth = o.depth ? o.depth : (*format == Format::sni && o.stream != "sis" ? 8 : *format == Format::sni ? 1 : 16);
    const bool sis = o.stream.empty() ? depth <= 2 : o.stream == "sis";
    RgbaFrames frames;
    std::string why;
    if (!LoadInputs(o, frames, why)) {
        fmt::print(stderr, "handpix: {}\n", why);
        return 1;
    }
    int boxW = 0, boxH = 0;
    FormatBox(*format, depth, sis, boxW, boxH);
    if (!o.fit.empty()) {
        int w = 0, h = 0;
        if (std::sscanf(o.fit.c_str(), "%dx%d", &w, &h) != 2 || w < 1 || h < 1 || w > boxW || h > boxH) {
            fmt::print(stderr, "handpix: --fit takes WxH within {} x {}\n", boxW, boxH);
            return 2;
        }
        boxW = w, boxH = h;
    }
    if (frames.width > boxW || frames.height > boxH) {
        if (o.noFit) {
            fmt::print(stderr, "handpix: {} x {} is larger than {} x {} (and --no-fit was given)\n", frames.width,
                       frames.height, boxW, boxH);
            return 1;
        }
        int w = 0, h = 0;
        FitSize(frames.width, frames.height, boxW, boxH, w, h);
        frames = ResizeFrames(frames, w, h);
    }
    if (*format == Format::sni && sis) frames = PadToEights(frames);
    if (o.delay > 0) frames.delays.assign(frames.frames.size(), static_cast<unsigned>(o.delay));
    if (o.loop) frames.loop = true;
    if (o.once) frames.loop = false;
    if (o.inputs.size() > 1) frames.loop = !o.once;

    const HandsetPixels pixels = ReduceColours(frames, TargetFor(*format, depth, o.palette == "own"), !o.noDither);
    EncodeResult r;
    switch (*format) {
        case Format::img: r = EncodeImg(pixels); break;
        case Format::pht: r = EncodePht(pixels); break;
        case Format::eba: r = EncodeEba(pixels); break;
        case Format::sni: r = EncodeSni(pixels, sis ? SniStream::sis : SniStream::saf); break;
    }
    if (!r) {
        fmt::print(stderr, "handpix: {}: {}\n", o.out, r.error);
        return 1;
    }
    if (!WriteFileAtomically(o.out.c_str(), r.bytes.data(), r.bytes.size())) {
        fmt::print(stderr, "handpix: cannot write {}\n", o.out);
        return 1;
    }
    const std::size_t written = *format == Format::img || *format == Format::pht ? 1 : pixels.frames.size();
    if (written < pixels.frames.size()) fmt::print(stderr, "handpix: note: a still picture keeps the first frame only\n");
    std::string stream;
    if (*format == Format::sni)
        stream = fmt::format(", {} stream {} bytes", sis ? "SIS" : "SAF",
                             r.bytes.size() - 152 - (pixels.palette.empty() ? 0 : 512));
    fmt::print("{}: {} x {}, {} frame{}, {} bit{}{}{}, {} bytes\n", o.out, pixels.width, pixels.height,
               written, written == 1 ? "" : "s", depth, depth == 1 ? "" : "s",
               pixels.palette.empty() ? "" : " (own palette)", stream, r.bytes.size());
    return 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<PackOptions>();
    CLI::App* cmd = app.add_subcommand(
        "pack", "Make a handset picture or animation (IMG, PHT, EBA, SNI) from an animated GIF or PNG, or from stills");
    cmd->add_option("inputs", opts->inputs, "An animated GIF or PNG, or still pictures (PNG, BMP, GIF, JPEG, IMG, PHT)")
        ->required();
    cmd->add_option("-o,--output", opts->out, "Handset file to write (.img, .pht, .eba or .sni)")->required();
    cmd->add_option("--depth", opts->depth, "Bits per pixel: 1, 2 (grey), 8, 16 (default: SNI 8 or 1 with SIS, else 16)")
        ->check(CLI::IsMember({1, 2, 8, 16}));
    cmd->add_option("--stream", opts->stream, "SNI stream: saf (8, 16 bits) or sis (1, 2 bits)")
        ->check(CLI::IsMember({"saf", "sis"}));
    cmd->add_option("--palette", opts->palette, "8-bit SNI colours: own (median cut, default) or standard (3-3-2)")
        ->check(CLI::IsMember({"own", "standard"}));
    cmd->add_option("--delay", opts->delay, "Delay of every frame in tenths of a second (default: the GIF's, or 2)")
        ->check(CLI::Range(1, 255));
    auto* loop = cmd->add_flag("--loop", opts->loop, "Play the animation in a loop");
    cmd->add_flag("--once", opts->once, "Play the animation once")->excludes(loop);
    cmd->add_option("--fit", opts->fit, "Fit larger pictures within WxH (default: the format's largest)");
    cmd->add_flag("--no-fit", opts->noFit, "Refuse pictures larger than the format (or --fit) instead of fitting them");
    cmd->add_flag("--no-dither", opts->noDither, "Nearest colours only, no error diffusion");
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunPack(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
