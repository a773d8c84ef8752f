// handpix show FILE [--frame N] -o OUT.png: a frame of an SNI, EBA or IMG
// file as a PNG of the picture's own size; --display draws it the way
// DisplayEBA/DisplayIMG do, --all writes every frame as an animated PNG and
// --sheet lays the frames side by side.
#include <fmt/core.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "handpix/picture/Picture.h"
#include "handpix/platform/draw/DC.h"
#include "handpix/platform/draw/Surface.h"
#include "tools/Apng.h"
#include "tools/Common.h"
#include "tools/HandsetDisplay.h"
#include "tools/HandsetInfo.h"
#include "tools/Png.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct ShowOptions {
    std::string file;
    std::string out;
    int frame = 0;
    bool display = false;
    bool all = false;
    bool sheet = false;
};

// One frame as RGBA: the picture's RGB buffer with key-coloured pixels fully
// transparent when the picture's transparency flag is set.
struct RgbaFrame {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    PngImage Image() const { return {pixels.data(), width, height, static_cast<std::ptrdiff_t>(width) * 4, PixelOrder::RGBA}; }
};

class Source {
public:
    explicit Source(const ShowOptions& o) : m_path(o.file.c_str()), m_pic(std::make_unique<CPicture>()) {}

    bool Open(std::string& why) {
        if (!ReadHandsetFacts(m_path.c_str(), m_facts, why)) return false;
        if (m_facts.width < 1 || m_facts.height < 1) {
            why = fmt::format("the picture is {} x {}: nothing to show", m_facts.width, m_facts.height);
            return false;
        }
        return true;
    }
    bool IsImg() const { return m_facts.format == HandsetFormat::img; }
    int Frames() const { return IsImg() ? 1 : m_facts.frames; }
    const HandsetFacts& Facts() const { return m_facts; }

    bool Read(int frame, RgbaFrame& out, std::string& why) {
        const bool ok = IsImg() ? frame == 0 && m_pic->GetIMG(m_path)
                                : m_pic->GetEBAHeader(m_path) && m_pic->GetEBAData(m_path, frame);
        if (!ok) {
            why = fmt::format("cannot read frame {} (the file has {})", frame, Frames());
            return false;
        }
        // Pictures wider than the handset screen hold no more than it does.
        const int w = m_facts.width, h = IsImg() ? m_facts.height : std::min(m_facts.height, 160);
        const long long limit = CPicture::kHandsetPixels;
        const int rows = static_cast<int>(std::min<long long>(h, limit / w));
        const BYTE(*rgb)[3] = IsImg() ? m_pic->m_ImgRGB : m_pic->m_FrameRGB;
        const bool keyed = !IsImg() && m_pic->m_bTransparent;
        out.width = w;
        out.height = rows;
        out.pixels.assign(static_cast<std::size_t>(w) * rows * 4, 0);
        for (std::size_t i = 0; i < static_cast<std::size_t>(w) * rows; ++i) {
            const bool clear = keyed && std::memcmp(rgb[i], m_pic->m_ColorKey, 3) == 0;
            std::memcpy(&out.pixels[4 * i], rgb[i], 3);
            out.pixels[4 * i + 3] = clear ? 0 : 255;
        }
        return true;
    }

    // What DisplayEBA / DisplayIMG draw on a white 230 x 190 surface.
    bool Display(int frame, const std::string& outPath, std::string& why) {
        CBitmap bmp;
        if (!DrawHandsetDisplay(*m_pic, m_path, IsImg(), frame, bmp)) {
            why = "the file could not be drawn";
            return false;
        }
        const Surface& s = *bmp.GetSurface();
        return WritePng(outPath, {s.Bytes(), s.Width(), s.Height(), s.Stride(), PixelOrder::BGRX}, &why);
    }

private:
    CString m_path;
    std::unique_ptr<CPicture> m_pic;
    HandsetFacts m_facts;
};

bool WriteAll(Source& src, const std::string& outPath, std::string& why) {
    std::vector<RgbaFrame> frames(static_cast<std::size_t>(src.Frames()));
    std::vector<ApngFrame> apng;
    for (int f = 0; f < src.Frames(); ++f) {
        if (!src.Read(f, frames[f], why)) return false;
        ApngFrame a;
        a.image = frames[f].Image();
        a.delayNum = FrameDelayTenths(src.Facts(), f);
        a.delayDen = 10;
        apng.push_back(a);
    }
    const unsigned plays = LoopsForever(src.Facts()) ? 0 : 1;
    return WriteApng(outPath, apng, plays, &why);
}

// The frames in rows of up to eight, 4 pixels apart, on a transparent ground.
bool WriteSheet(Source& src, const std::string& outPath, std::string& why) {
    constexpr int kGap = 4;
    const int n = src.Frames();
    std::vector<RgbaFrame> frames(static_cast<std::size_t>(n));
    for (int f = 0; f < n; ++f)
        if (!src.Read(f, frames[f], why)) return false;
    const int cols = std::min(n, 8), rows = (n + cols - 1) / cols;
    const int fw = frames[0].width, fh = frames[0].height;
    RgbaFrame sheet;
    sheet.width = cols * fw + (cols - 1) * kGap;
    sheet.height = rows * fh + (rows - 1) * kGap;
    sheet.pixels.assign(static_cast<std::size_t>(sheet.width) * sheet.height * 4, 0);
    for (int f = 0; f < n; ++f) {
        const int x0 = (f % cols) * (fw + kGap), y0 = (f / cols) * (fh + kGap);
        for (int y = 0; y < fh; ++y)
            std::memcpy(&sheet.pixels[(static_cast<std::size_t>(y0 + y) * sheet.width + x0) * 4],
                        &frames[f].pixels[static_cast<std::size_t>(y) * fw * 4], static_cast<std::size_t>(fw) * 4);
    }
    return WritePng(outPath, sheet.Image(), &why);
}

int RunShow(const ShowOptions& o) {
    Source src(o);
    std::string why;
    bool ok = src.Open(why);
    if (ok && (o.frame < 0 || o.frame >= src.Frames())) {
        why = fmt::format("frame {} does not exist: the file has {} (counted from 0)", o.frame, src.Frames());
        ok = false;
    }
    if (ok) {
        if (o.display) {
            ok = src.Display(o.frame, o.out, why);
        } else if (o.all) {
            ok = WriteAll(src, o.out, why);
        } else if (o.sheet) {
            ok = WriteSheet(src, o.out, why);
        } else {
            RgbaFrame frame;
            ok = src.Read(o.frame, frame, why) && WritePng(o.out, frame.Image(), &why);
        }
    }
    if (!ok) {
        fmt::print(stderr, "{}: {}\n", o.file, why);
        return 1;
    }
    return 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<ShowOptions>();
    CLI::App* cmd = app.add_subcommand("show", "Write a frame of an SNI, EBA or IMG file as PNG");
    cmd->add_option("file", opts->file, "SNI, EBA or IMG file")->required();
    cmd->add_option("-o,--output", opts->out, "PNG file to write")->required();
    cmd->add_option("--frame", opts->frame, "Frame number, from 0")->default_val(0);
    CLI::Option* display =
        cmd->add_flag("--display", opts->display, "Draw as DisplayEBA/DisplayIMG do, caption included (230 x 190)");
    CLI::Option* all = cmd->add_flag("--all", opts->all, "Every frame as an animated PNG with the stream's delays");
    CLI::Option* sheet = cmd->add_flag("--sheet", opts->sheet, "Every frame side by side on one contact sheet");
    display->excludes(all)->excludes(sheet);
    all->excludes(sheet);
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunShow(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
