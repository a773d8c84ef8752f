// handpix draw IN OUT.png --size WxH [--icon]: a picture fitted into a
// rectangle exactly as CPicture::Draw (or DrawIcon) draws it.
// handpix sheet OUT.png IN...: several pictures as captioned tiles on one sheet.
#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "handpix/handpix.h"
#include "handpix/picture/Picture.h"
#include "tools/Png.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

bool ParseSize(const std::string& text, int& w, int& h) {
    char x = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X')) return false;
    return w > 0 && h > 0 && w <= 8192 && h <= 8192;
}

bool SaveBitmap(const CBitmap& bmp, const std::string& path) {
    const auto& s = bmp.GetSurface();
    if (!s) return false;
    std::string error;
    PngImage image{s->Bytes(), s->Width(), s->Height(), s->Stride(), PixelOrder::BGRX};
    if (!WritePng(path, image, &error)) {
        fmt::print(stderr, "{}: {}\n", path, error);
        return false;
    }
    return true;
}

struct DrawArgs {
    std::string in, out, size;
    bool icon = false;
};

void RunDraw(const DrawArgs& a) {
    int w = 0, h = 0;
    if (!ParseSize(a.size, w, h)) {
        fmt::print(stderr, "--size wants WIDTHxHEIGHT, each 1 to 8192: {}\n", a.size);
        SetExitCode(2);
        return;
    }
    CPicture picture;
    if (picture.SetPicture(a.in.c_str()) == 0) {
        fmt::print(stderr, "{}: not a picture that loads (JPEG, BMP or GIF)\n", a.in);
        SetExitCode(1);
        return;
    }
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap bmp;
    bmp.CreateCompatibleBitmap(&dc, w, h);
    CBitmap* old = dc.SelectObject(&bmp);
    if (a.icon) picture.DrawIcon(&dc, CRect(0, 0, w, h));
    else picture.Draw(&dc, CRect(0, 0, w, h));
    dc.SelectObject(old);
    if (!SaveBitmap(bmp, a.out)) {
        SetExitCode(1);
        return;
    }
    CSize size = picture.GetImageSize();
    fmt::print("{} ({}x{}) -> {} ({}x{})\n", a.in, size.cx, size.cy, a.out, w, h);
}

struct SheetArgs {
    std::string out;
    std::vector<std::string> in;
    int columns = 4;
};

// Tiles as the thumbnail list lays them out: 100 x 135 cells on a 120 x 155
// pitch, the picture in the square (1, 1, 99, 99), two caption lines below.
void RunSheet(const SheetArgs& a) {
    constexpr int kTileW = 100, kTileH = 135, kPitchX = 120, kPitchY = 155, kMargin = 25, kTitle = 30;
    const int n = static_cast<int>(a.in.size());
    const int cols = std::clamp(a.columns, 1, 32);
    const int rows = (n + cols - 1) / cols;
    const int width = kMargin * 2 + kPitchX * cols - (kPitchX - kTileW);
    const int height = kTitle + kMargin * 2 + kPitchY * std::max(rows, 1) - (kPitchY - kTileH);
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap sheet;
    if (!sheet.CreateCompatibleBitmap(&dc, width, height)) {
        SetExitCode(1);
        return;
    }
    CBitmap* old = dc.SelectObject(&sheet);
    dc.FillSolidRect(0, 0, width, height, RGB(236, 238, 244));
    CFont titleFont, captionFont;
    titleFont.CreatePointFont(120, "굴림", &dc);
    captionFont.CreateFont(12, 0, 0, 0, 300, 0, 0, 0, 0, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           0x10, "굴림");
    CFont* oldFont = dc.SelectObject(&titleFont);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(0x43, 0x74, 0xBA));
    CString title;
    title.Format("사진 모음 (contact sheet): %d", n);
    CRect titleRect(kMargin, 10, width - kMargin, 10 + kTitle);
    dc.DrawText(title, &titleRect, DT_LEFT | DT_SINGLELINE);
    dc.SelectObject(&captionFont);
    dc.SetBkMode(OPAQUE);
    dc.SetTextColor(RGB(0, 0, 0));
    int failures = 0;
    for (int i = 0; i < n; ++i) {
        const int x = kMargin + (i % cols) * kPitchX, y = kTitle + kMargin + (i / cols) * kPitchY;
        dc.FillSolidRect(x, y, kTileW, kTileH, RGB(255, 255, 255));
        CPicture picture;
        int bytes = picture.SetPicture(a.in[static_cast<std::size_t>(i)].c_str());
        if (!bytes) ++failures;
        dc.SetWindowOrg(-x, -y);  // tile coordinates, as the list's items draw
        picture.Draw(&dc, CRect(1, 1, 99, 99));
        std::string path = a.in[static_cast<std::size_t>(i)];
        CString name(path.substr(path.find_last_of("/\\") + 1));
        CSize size = picture.GetImageSize();
        CString info;
        if (bytes) info.Format("%d×%d(%d KB)", static_cast<int>(size.cx), static_cast<int>(size.cy), (bytes + 1023) / 1024);
        else info = "읽을 수 없음";  // unreadable
        dc.SetBkColor(RGB(255, 255, 255));
        CRect line1(0, 105, 100, 135), line2(0, 120, 100, 135);
        dc.DrawText(name, &line1, DT_CENTER | DT_END_ELLIPSIS);
        dc.DrawText(info, &line2, DT_CENTER | DT_END_ELLIPSIS);
        dc.SetWindowOrg(0, 0);
    }
    dc.SelectObject(oldFont);
    dc.SelectObject(old);
    if (!SaveBitmap(sheet, a.out)) {
        SetExitCode(1);
        return;
    }
    fmt::print("{}: {} pictures ({} unreadable), {}x{}\n", a.out, n, failures, width, height);
    if (failures) SetExitCode(1);
}

void Register(CLI::App& app) {
    auto draw = std::make_shared<DrawArgs>();
    CLI::App* d = app.add_subcommand("draw", "draw a picture fitted into a rectangle, as the thumbnail tiles do");
    d->add_option("in", draw->in, "picture file (JPEG, BMP, GIF)")->required();
    d->add_option("out", draw->out, "PNG file to write")->required();
    d->add_option("--size", draw->size, "rectangle, WIDTHxHEIGHT")->required();
    d->add_flag("--icon", draw->icon, "draw over the motion-picture icon background");
    d->callback([draw] { RunDraw(*draw); });

    auto sheet = std::make_shared<SheetArgs>();
    CLI::App* s = app.add_subcommand("sheet", "draw pictures as captioned tiles on one contact sheet");
    s->add_option("out", sheet->out, "PNG file to write")->required();
    s->add_option("in", sheet->in, "picture files")->required();
    s->add_option("--columns", sheet->columns, "tiles per row (default 4)");
    s->callback([sheet] { RunSheet(*sheet); });
}

const VerbRegistrar registrar(Register);
}  // namespace
}  // namespace handpix::tool
