// Makes the handset samples: an SNI animation of each stream kind (SIS kind 1,
// SIS kind 2, SAF with its own palette), an EBA animation and an IMG picture,
// all built by our own writers. Usage: handpix_samples_handset OUTDIR
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "handpix/imagefiles/ImgWriter.h"
#include "handpix/handset/SafWriter.h"
#include "handpix/handset/SisKind1Writer.h"
#include "handpix/handset/SisKind2Writer.h"
#include "handpix/platform/core/File.h"
#include "handpix/picture/HandsetWriter.h"

using namespace handpix;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint16_t Rgb565(int r, int g, int b) {
    return static_cast<std::uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | ((b & 0xFF) >> 3));
}

// A ball bouncing across a 64 x 48 screen, 1 bit per pixel.
Bytes BallKind1() {
    SisKind1Stream s;
    s.widthUnits = 8;
    s.heightUnits = 6;
    s.delay = 2;
    s.flags = 0x8;  // loop
    SisKind1Block ball;
    ball.across = 2;
    ball.down = 2;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const double d = std::hypot(x - 7.5, y - 7.5);
            ball.pixels.push_back(d < 7.5 && !(d < 4.5 && d > 3.0) ? 1 : 0);
        }
    s.blocks.push_back(ball);
    constexpr int kFrames = 12;
    for (int f = 0; f < kFrames; ++f) {
        SisKind1Placement p;
        p.x = 4 * f;
        p.y = static_cast<int>(32 - 32 * std::fabs(std::sin(f * kPi / 6)));
        s.frames.push_back({false, {p}});
    }
    AnimHeader h;
    h.width = 64;
    h.height = 48;
    h.bits = 1;
    h.frameCount = kFrames;
    return WriteSni(h, WriteSisKind1(s));
}

// A grey ringed disc drifting over a striped background, 2 bits per pixel,
// with a delay per frame.
Bytes DiscKind2() {
    SisKind2Stream s;
    s.widthByte = 64;
    s.heightByte = 64;
    s.flags = 0x80;
    SisKind2Block back;
    back.across = 8;
    back.down = 8;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) back.pixels.push_back(static_cast<std::uint8_t>(((x + y) / 8) % 2));
    SisKind2Block disc;
    disc.across = 3;
    disc.down = 3;
    disc.keyMode = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const double d = std::hypot(x - 11.5, y - 11.5);
            disc.pixels.push_back(static_cast<std::uint8_t>(d > 11.5 ? 0 : 3 - static_cast<int>(d / 4)));
        }
    s.blocks = {back, disc};
    constexpr int kFrames = 8;
    for (int f = 0; f < kFrames; ++f) {
        SisKind2Placement b;
        b.block = 1;
        SisKind2Placement d;
        d.block = 2;
        d.x = 20 + static_cast<int>(18 * std::cos(f * 2 * kPi / kFrames));
        d.y = 20 + static_cast<int>(18 * std::sin(f * 2 * kPi / kFrames));
        s.frames.push_back({false, -1, {b, d}});
        s.frameDelays.push_back(static_cast<std::uint8_t>(1 + f % 3));
    }
    AnimHeader h;
    h.width = 64;
    h.height = 64;
    h.bits = 2;
    h.frameCount = kFrames;
    return WriteSni(h, WriteSisKind2(s));
}

// A rainbow sweep with a star, 8 bits per pixel through the file's own palette.
Bytes RainbowSaf() {
    constexpr int kW = 96, kH = 80, kFrames = 10;
    std::vector<std::uint16_t> palette(256);
    for (int i = 0; i < 256; ++i) {
        const double a = i * 2 * kPi / 256;
        palette[i] = Rgb565(static_cast<int>(127 + 127 * std::cos(a)), static_cast<int>(127 + 127 * std::cos(a - 2.1)),
                            static_cast<int>(127 + 127 * std::cos(a + 2.1)));
    }
    palette[0] = Rgb565(255, 255, 255);
    SafWriter w;
    w.Header({SafImageHeader(kW, kH, 8, 1), SafAnimation(kFrames), SafDelay(150)});
    std::vector<int> sweep(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) sweep[y * kW + x] = 1 + (x * 2 + y) % 255;
    w.Object(0, kW, kH, 8, sweep);
    std::vector<int> star(24 * 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const double a = std::atan2(y - 11.5, x - 11.5), r = std::hypot(x - 11.5, y - 11.5);
            star[y * 24 + x] = r < 6 + 5 * std::cos(5 * a) ? 200 : 1;  // 1: the key colour
        }
    w.Object(1, 24, 24, 8, star, 1);
    for (int f = 0; f < kFrames; ++f) {
        SafPlace back;
        back.object = 0;
        back.x = -(f * 8) % kW;
        SafPlace wrap = back;
        wrap.x = back.x + kW;
        SafPlace s;
        s.object = 1;
        s.x = 8 + 6 * f;
        s.y = 28;
        w.Frame(0, {SafPlaceItem(back), SafPlaceItem(wrap), SafPlaceItem(s)});
    }
    AnimHeader h;
    h.width = kW;
    h.height = kH;
    h.bits = 8;
    h.palette = 1;
    h.frameCount = kFrames;
    return WriteSni(h, w.End().Build(), palette);
}

// A colour wave at 16 bits with a transparent band (shown as a checkerboard).
Bytes WaveEba() {
    constexpr int kW = 128, kH = 96, kFrames = 6;
    const std::uint16_t key = Rgb565(255, 0, 255);
    std::vector<Bytes> frames;
    for (int f = 0; f < kFrames; ++f) {
        std::vector<std::uint32_t> px;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const double v = std::sin((x + 12 * f) * 2 * kPi / 64) * 20;
                if (std::abs(y - 48 - v) < 6) {
                    px.push_back(key);
                    continue;
                }
                px.push_back(Rgb565(x * 2, y * 255 / kH, 255 - 40 * f));
            }
        frames.push_back(PackHandsetPixels(px, 16));
    }
    AnimHeader h;
    h.width = kW;
    h.height = kH;
    h.bits = 16;
    h.transColor = key;
    h.transparent = 1;
    h.frameCount = kFrames;
    return WriteEba(h, frames);
}

Bytes RampImg() {
    constexpr int kW = 120, kH = 90;
    std::vector<std::uint32_t> px;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) px.push_back(Rgb565(x * 255 / kW, 255 - y * 255 / kH, (x + y) % 256));
    return WriteImg(kW, kH, 16, PackHandsetPixels(px, 16));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const struct {
        const char* name;
        Bytes bytes;
    } files[] = {
        {"ball_sis1.sni", BallKind1()}, {"disc_sis2.sni", DiscKind2()}, {"rainbow_saf.sni", RainbowSaf()},
        {"wave.eba", WaveEba()},        {"ramp.img", RampImg()},
    };
    bool ok = true;
    for (const auto& f : files) {
        const std::string path = dir + "/" + f.name;
        if (!handpix::WriteFileAtomically(path.c_str(), f.bytes.data(), f.bytes.size())) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), f.name);
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
