// IMG handset pictures in CPicture: read into m_ImgRGB through the shared IMG
// reader, drawn unscaled at a rectangle's top-left corner.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "handpix/imagefiles/ImgFormat.h"
#include "handpix/picture/Picture.h"
#include "handpix/picture/PictureHandset.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/MessageBox.h"

bool CPicture::GetIMG(CString path) {
    using namespace handpix;
    std::FILE* f = OpenRegularFileStream(path);
    if (!f) return false;
    ImgFile img;
    const Status status = ReadImg(f, img);
    std::fclose(f);
    // A header that arrived whole has been read, even when its picture fails.
    const bool headerRead = status != Status::truncated || img.width >= 1;
    if (headerRead) std::memcpy(m_ImgHeader, img.header, sizeof m_ImgHeader);
    if (status == Status::truncated && headerRead) {
        AfxMessageBox(handset_picture::kNotAnimation, MB_OK);
        return false;
    }
    // Pictures beyond the handset screen are refused rather than cut.
    if (!Ok(status)) return false;
    std::vector<Rgb> rgb(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height));
    DecodeImgPixels(img, GreyLadder::Picture, kImgDepthsAll, rgb.data());
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        m_ImgRGB[i][0] = rgb[i].r;
        m_ImgRGB[i][1] = rgb[i].g;
        m_ImgRGB[i][2] = rgb[i].b;
    }
    return true;
}

int CPicture::DisplayIMG(const CString& path, CDC* pDC, CRect rc) {
    if (!pDC || !GetIMG(path)) return 0;
    const int w = static_cast<std::int16_t>(m_ImgHeader[4] | (m_ImgHeader[5] << 8));
    const int h = static_cast<std::int16_t>(m_ImgHeader[6] | (m_ImgHeader[7] << 8));
    CDC mem;
    mem.CreateCompatibleDC(pDC);
    CBitmap* old = mem.SelectObject(&m_bmpCanvas);
    // IMG pixels are never transparent.
    const CSize drawn = handpix::handset_picture::PlotIntoCanvas(mem, m_ImgRGB, w, h, false, m_ColorKey);
    if (drawn.cx > 0 && drawn.cy > 0) pDC->BitBlt(rc.left, rc.top, drawn.cx, drawn.cy, &mem, 0, 0, SRCCOPY);
    mem.SelectObject(old);
    mem.DeleteDC();
    return 1;
}
