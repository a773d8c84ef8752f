// Any bytes handed to CPicture's stream load give 0 or a picture; a picture
// then measures and draws into a thumbnail square without trouble.
// fuzz-link: handpix_picture
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "handpix/picture/Picture.h"

namespace {
// Pictures may legitimately declare a size far beyond their bytes (a tiny GIF
// with a huge screen decodes to a huge blank picture). That is correct but
// slow under sanitizers, so inputs declaring more than this are skipped.
constexpr long long kMaxDeclaredPixels = 1 << 18;

unsigned U16LE(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
unsigned U16BE(const std::uint8_t* p) { return (p[0] << 8) | p[1]; }
long long S32LE(const std::uint8_t* p) {
    return static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned>(p[3]) << 24));
}

bool DeclaresTooMuch(const std::uint8_t* d, std::size_t n) {
    if (n >= 10 && d[0] == 'G') {
        if (static_cast<long long>(U16LE(d + 6)) * U16LE(d + 8) > kMaxDeclaredPixels) return true;
        for (std::size_t i = 10; i + 9 < n; ++i)  // image descriptors, wherever they may be
            if (d[i] == 0x2C && static_cast<long long>(U16LE(d + i + 5)) * U16LE(d + i + 7) > kMaxDeclaredPixels)
                return true;
    }
    if (n >= 26 && d[0] == 'B') {
        long long w = S32LE(d + 18), h = S32LE(d + 22);
        if (std::llabs(w) * std::llabs(h) > kMaxDeclaredPixels) return true;
    }
    if (n >= 4 && d[0] == 0xFF) {
        for (std::size_t i = 2; i + 8 < n; ++i)
            if (d[i] == 0xFF && d[i + 1] >= 0xC0 && d[i + 1] <= 0xCF && d[i + 1] != 0xC4 && d[i + 1] != 0xC8 &&
                d[i + 1] != 0xCC && static_cast<long long>(U16BE(d + i + 5)) * U16BE(d + i + 7) > kMaxDeclaredPixels)
                return true;
    }
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (DeclaresTooMuch(data, size)) return 0;
    static CPicture* picture = new CPicture();  // one object, as a list's working picture is reused
    IStream* stream = SHCreateMemStream(data, static_cast<UINT>(size));
    if (!stream) return 0;
    int loaded = picture->Load(stream);
    stream->Release();
    if (!loaded) {
        if (static_cast<IPicture*>(*picture)) __builtin_trap();  // a failed load must hold no picture
        return 0;
    }
    picture->CalcPictureSize();
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap bmp;
    bmp.CreateCompatibleBitmap(&dc, 100, 135);
    CBitmap* old = dc.SelectObject(&bmp);
    picture->Draw(&dc, CRect(1, 1, 99, 99));
    picture->DrawIcon(&dc, CRect(0, 0, 120, 40));
    picture->Render(&dc, CRect(3, 5, 60, 90), nullptr);
    dc.SelectObject(old);
    picture->Free();
    return 0;
}
