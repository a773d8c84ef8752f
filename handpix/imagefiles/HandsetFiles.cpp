// CGraphicFileLoad's IMG and PHT members.
#include <cstring>
#include <new>
#include <vector>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/HandsetColour.h"
#include "handpix/imagefiles/ImgFormat.h"
#include "handpix/platform/core/File.h"

using namespace handpix;

namespace {
void PutU16(std::uint8_t* p, unsigned v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
}  // namespace

int CGraphicFileLoad::SaveIMG(const char* path) {
    if (!m_pDib || m_nWidth <= 0 || m_nHeight <= 0 || !path) return 0;
    const std::size_t w = static_cast<std::size_t>(m_nWidth), h = static_cast<std::size_t>(m_nHeight);
    std::vector<std::uint8_t> file(kImgHeaderSize + w * h * 2, 0);
    std::uint8_t* hd = file.data();
    std::memcpy(hd, "IMG ", 4);
    PutU16(hd + 4, static_cast<unsigned>(m_nWidth));
    PutU16(hd + 6, static_cast<unsigned>(m_nHeight));
    PutU16(hd + 8, static_cast<unsigned>(m_nWidth));
    hd[10] = 16;
    hd[11] = 0;          // no palette of its own
    PutU16(hd + 12, 256);  // no transparent colour
    std::memcpy(hd + 17, "Reserved area", 14);
    std::uint8_t* px = hd + kImgHeaderSize;
    for (std::size_t y = 0; y < h; ++y) {
        const unsigned char* row = m_pDib + static_cast<std::size_t>(m_nStride) * (h - 1 - y);
        for (std::size_t x = 0; x < w; ++x, px += 2) {
            const unsigned char* p = row + 3 * x;
            PutU16(px, PackRgb565(p[2], p[1], p[0]));
        }
    }
    // Written whole through a temporary so a failure never leaves half a file.
    WriteFileAtomically(path, file.data(), file.size());
    return 0;
}

int CGraphicFileLoad::ReadHandsetFile(const char* path, bool pht) {
    FILE* f = OpenRegularFileStream(path);
    if (!f) return 0;
    ImgFile img;
    Status s = (pht && std::fseek(f, static_cast<long>(kPhtPrefixSize), SEEK_SET) != 0) ? Status::truncated
                                                                                         : ReadImg(f, img);
    std::fclose(f);
    if (!Ok(s)) return 0;
    std::vector<Rgb> rgb(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height));
    DecodeImgPixels(img, GreyLadder::FileLoader, pht ? kPhtDepths : kImgDepthsAll, rgb.data());
    int stride = 0;
    unsigned char* dib = new (std::nothrow) unsigned char[DibStride(static_cast<unsigned>(img.width)) *
                                                              static_cast<std::size_t>(img.height)];
    if (!dib) return 0;
    stride = static_cast<int>(DibStride(static_cast<unsigned>(img.width)));
    for (int y = 0; y < img.height; ++y) {
        unsigned char* row = dib + static_cast<std::size_t>(stride) * (img.height - 1 - y);
        const Rgb* src = rgb.data() + static_cast<std::size_t>(y) * img.width;
        for (int x = 0; x < img.width; ++x) {
            row[3 * x] = src[x].b;
            row[3 * x + 1] = src[x].g;
            row[3 * x + 2] = src[x].r;
        }
        std::memset(row + 3 * img.width, 0, static_cast<std::size_t>(stride - 3 * img.width));
    }
    Release();
    m_pDib = dib;
    m_nWidth = img.width;
    m_nHeight = img.height;
    m_nStride = stride;
    return 1;
}

int CGraphicFileLoad::LoadIMG(const char* path) { return ReadHandsetFile(path, false); }
int CGraphicFileLoad::LoadPHT(const char* path) { return ReadHandsetFile(path, true); }
