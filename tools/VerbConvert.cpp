// handpix convert IN OUT: any loadable picture to .img, .png or .bmp.
#include <fmt/core.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/platform/core/File.h"
#include "tools/Common.h"
#include "tools/Png.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct ConvertOptions {
    std::string in, out;
};

void PutLE(std::vector<std::uint8_t>& v, std::uint32_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

// A 24-bit BMP is the DIB behind a 54-byte header: the rows are already in file order.
bool WriteBmp(const std::string& path, const CGraphicFileLoad& g) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(g.m_nStride) * static_cast<std::uint64_t>(g.m_nHeight);
    if (pixels > UINT32_MAX - 54) return false;  // the header's sizes are 32-bit
    std::vector<std::uint8_t> f{'B', 'M'};
    PutLE(f, static_cast<std::uint32_t>(54 + pixels), 4);
    PutLE(f, 0, 4);
    PutLE(f, 54, 4);
    PutLE(f, 40, 4);
    PutLE(f, static_cast<std::uint32_t>(g.m_nWidth), 4);
    PutLE(f, static_cast<std::uint32_t>(g.m_nHeight), 4);
    PutLE(f, 1, 2);
    PutLE(f, 24, 2);
    PutLE(f, 0, 4);
    PutLE(f, static_cast<std::uint32_t>(pixels), 4);
    PutLE(f, 3780, 4);  // 96 dpi
    PutLE(f, 3780, 4);
    PutLE(f, 0, 4);
    PutLE(f, 0, 4);
    f.insert(f.end(), g.m_pDib, g.m_pDib + pixels);
    return WriteFileAtomically(path.c_str(), f.data(), f.size());
}

int RunConvert(const ConvertOptions& o) {
    CGraphicFileLoad g;
    std::string why;
    if (!LoadPicture(o.in, g, why)) {
        fmt::print(stderr, "{}: {}\n", o.in, why);
        return 1;
    }
    std::string ext = LowerExtension(o.out);
    bool ok = false;
    std::string error = "cannot write " + o.out;
    if (ext == ".img") {
        // SaveIMG reports nothing itself: the file on disk tells.
        const FileStamp before = FileStamp::Of(o.out);
        g.SaveIMG(o.out.c_str());
        ok = !(FileStamp::Of(o.out) == before) && FileSizeOf(o.out.c_str()) == 48 + 2LL * g.m_nWidth * g.m_nHeight;
        if (static_cast<long long>(g.m_nWidth) * g.m_nHeight > 178 * 160)
            fmt::print(stderr, "handpix: note: {} x {} is larger than a handset screen (178 x 160)\n", g.m_nWidth,
                       g.m_nHeight);
    } else if (ext == ".png") {
        PngImage im{g.m_pDib + static_cast<std::ptrdiff_t>(g.m_nStride) * (g.m_nHeight - 1), g.m_nWidth, g.m_nHeight,
                    -static_cast<std::ptrdiff_t>(g.m_nStride), PixelOrder::BGR};
        ok = WritePng(o.out, im, &error);
    } else if (ext == ".bmp") {
        ok = WriteBmp(o.out, g);
    } else {
        error = "output must end in .img, .png or .bmp";
    }
    if (!ok) {
        fmt::print(stderr, "{}: {}\n", o.out, error);
        return 1;
    }
    fmt::print("{} -> {} ({} x {})\n", o.in, o.out, g.m_nWidth, g.m_nHeight);
    return 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<ConvertOptions>();
    CLI::App* cmd = app.add_subcommand("convert", "Convert a BMP, GIF, JPEG, IMG or PHT picture to IMG, PNG or BMP");
    cmd->add_option("in", opts->in, "Input picture")->required();
    cmd->add_option("out", opts->out, "Output file (.img, .png or .bmp)")->required();
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunConvert(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
