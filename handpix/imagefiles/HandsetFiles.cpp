// CGraphicFileLoad's IMG and PHT members.
#include <cstring>
#include <new>
#include <vector>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/HandsetColour.h"
#include "handpix/imagefiles/ImgFormat.h"
#include "handpix/imagefiles/ImgWriter.h"
#include "handpix/platform/core/File.h"

using namespace handpix;

int CGraphicFileLoad::SaveIMG(const char* path) {
    if (!m_pDib || m_nWidth <= 0 || m_nHeight <= 0 || !path) return 0;
    const std::size_t w = static_cast<std::size_t>(m_nWidth), h = static_cast<std::size_t>(m_nHeight);
    std::vector<std::uint32_t> pixels;
    pixels.reserve(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        const unsigned char* row = m_pDib + static_cast<std::size_t>(m_nStride) * (h - 1 - y);
        for (std::size_t x = 0; x < w; ++x) pixels.push_back(PackRgb565(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    }
    const Bytes file = WriteImg(m_nWidth, m_nHeight, 16, PackHandsetPixels(pixels, 16));
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
