// Thumbnail resizing: load a BMP or JPEG file (or take the caller's pixels),
// shrink it with area averaging and save it as a hidden JPEG file. A JPEG
// file whose EXIF orientation says it is stored turned gets an upright
// thumbnail unless the process switch is off.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "handpix/enhance/ImageEdit.h"
#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/Orientation.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/FileFind.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/ipl/Ipl.h"

namespace {
constexpr int kThumbSide = 100;
constexpr int kFixedWidth = 100;
constexpr int kFixedHeight = 75;

// Every header of this file: 3 interleaved channels blue-green-red, rows
// padded to 4 bytes, top row first, over pixels the caller owns.
IplImage* Header(long width, long height, void* pixels) {
    IplImage* im = iplCreateImageHeader(3, 0, IPL_DEPTH_8U, "RGB", "BGR", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_TL,
                                        IPL_ALIGN_DWORD, static_cast<int>(width), static_cast<int>(height), nullptr,
                                        nullptr, nullptr, nullptr);
    if (im) im->imageData = im->imageDataOrigin = static_cast<char*>(pixels);
    return im;
}


// The aspect-keeping thumbnail size of a width x height picture.
void ThumbSize(int width, int height, int* size) {
    if (width < height) {
        size[0] = height <= kThumbSide ? width : std::max(1, width * kThumbSide / height);
        size[1] = height <= kThumbSide ? height : kThumbSide;
    } else {
        size[0] = width <= kThumbSide ? width : kThumbSide;
        size[1] = width <= kThumbSide ? height : std::max(1, height * kThumbSide / width);
    }
}

// The largest DCT reduction whose result still covers twice the thumbnail both ways.
int ThumbScale(unsigned width, unsigned height, void*) {
    int thumb[2];
    ThumbSize(static_cast<int>(width), static_cast<int>(height), thumb);
    for (int d : {8, 4, 2})
        if (ijlScaledSize(width, d) >= 2u * thumb[0] && ijlScaledSize(height, d) >= 2u * thumb[1]) return d;
    return 1;
}

// The wrapper's 4-byte pixels (a BMP load, a four-channel JPEG) as 3-byte rows
// padded to 4 bytes, which the headers, the row reversal and the save expect.
bool ToDibRows(CImageEdit& image) {
    const int w = image.GetWidth(), h = image.GetHeight() < 0 ? -image.GetHeight() : image.GetHeight();
    const std::size_t stride = handpix::DibStride(static_cast<unsigned>(w));
    if (image.m_pBmih->biBitCount != 32) return image.GetDibBytes() >= stride * static_cast<std::size_t>(h);
    if (image.GetDibBytes() < 4u * w * static_cast<std::size_t>(h)) return false;
    BYTE* rows = new (std::nothrow) BYTE[stride * static_cast<std::size_t>(h)]();
    if (!rows) return false;
    CGraphicFileLoad().BGRA2BGR(rows, w, h, image.m_pbDibData, 1);
    image.SetDibData(rows, stride * static_cast<std::size_t>(h));
    image.m_pBmih->biBitCount = 24;
    return true;
}

// orientation: how a JPEG file asks to be turned (1 when it does not, or when
// thumbnails are not to be turned).
bool OpenFile(CPicture& p, CString& path, CImageEdit::ScaleChooser scale, int& orientation) {
    orientation = 1;
    handpix::ReleaseResizeState(p);
    p.m_pImageFile = new (std::nothrow) CImageEdit;
    if (!p.m_pImageFile) return false;
    CImageEdit& image = *p.m_pImageFile;
    CString lower = path.Left(1023);
    lower.MakeLower();
    if (lower.Find(".bmp") >= 0) {
        if (!image.LoadBMP(path) || !ToDibRows(image)) return false;
        // A top-down file (negative height) already has its top row first.
        image.FlipVertical();
        if (image.m_pBmih->biHeight < 0) image.m_pBmih->biHeight = -image.m_pBmih->biHeight;
    } else if (handpix::IsJpegName(lower.str())) {
        if (!image.LoadJPG(path, scale, nullptr) || !ToDibRows(image)) return false;
        if (handpix::GetAutoOrient()) orientation = handpix::JpegFileOrientation(path);
    } else {
        return false;
    }
    p.m_pSrcImage = Header(image.GetWidth(), image.GetHeight(), image.m_pbDibData);
    return p.m_pSrcImage != nullptr;
}

// Turns the shrunk picture in the wrapper upright. Done on the thumbnail, not
// the source: a 100-pixel picture costs nothing to turn. True when turned.
bool TurnUpright(CPicture& p, int orientation) {
    CImageEdit* image = p.m_pImageFile;
    if (orientation <= 1 || !image || !image->m_pbDibData) return false;
    const int w = image->GetWidth(), h = image->GetHeight();
    BYTE* upright = handpix::OrientDibRows(image->m_pbDibData, w, h, orientation);
    if (!upright) return false;
    const bool swap = handpix::OrientationSwapsSides(orientation);
    const int uw = swap ? h : w, uh = swap ? w : h;
    image->SetDibData(upright, static_cast<std::size_t>(handpix::DibStride(static_cast<unsigned>(uw))) * uh);
    image->SetImageSize(uw, uh);
    return true;
}

void Shrink(CPicture& p) {
    IplImage* s = p.m_pSrcImage;
    IplImage* d = p.m_pDstImage;
    if (s && d) iplResize(s, d, d->width, s->width, d->height, s->height, IPL_INTER_SUPER);
}
}  // namespace

// What a failed earlier resize may have left behind; also run by the destructor.
void handpix::ReleaseResizeState(CPicture& p) {
    if (p.m_pSrcImage != p.m_pDstImage) iplDeallocate(p.m_pDstImage, IPL_IMAGE_HEADER);
    iplDeallocate(p.m_pSrcImage, IPL_IMAGE_HEADER);
    delete p.m_pImageFile;
    p.m_pImageFile = nullptr;
    p.m_pSrcImage = p.m_pDstImage = nullptr;
}

void CPicture::CalculateThumbSize(int* size) { ThumbSize(m_nWidth, m_nHeight, size); }

bool CPicture::OpenResizingFile(CString& path) {
    int orientation;
    return OpenFile(*this, path, nullptr, orientation);
}

void CPicture::BeginIP(long width, long height) {
    const std::size_t bytes = static_cast<std::size_t>(handpix::DibStride(static_cast<unsigned>(width))) * height;
    BYTE* white = new (std::nothrow) BYTE[bytes];
    if (white) std::memset(white, 0xFF, bytes);
    m_pDstImage = Header(width, height, white);
    if (!m_pDstImage) delete[] white;
}

void CPicture::EndIP() {
    if (m_pSrcImage != m_pDstImage) iplDeallocate(m_pSrcImage, IPL_IMAGE_HEADER);
    m_pSrcImage = nullptr;
    if (!m_pDstImage || !m_pImageFile) return;
    m_pImageFile->SetDibData(reinterpret_cast<BYTE*>(m_pDstImage->imageData),
                             static_cast<std::size_t>(m_pDstImage->imageSize));
    m_pImageFile->SetImageSize(m_pDstImage->width, m_pDstImage->height);
    m_pSrcImage = m_pDstImage;
}

bool CPicture::SaveResizingFile(CString& path) {
    if (!m_pImageFile) return false;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (path.Find(".bmp") >= 0) {
        CString old = path;
        path.Replace(".bmp", ".jpg");
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
        std::rename(old, path);
    }
    if (!m_pImageFile->SaveJPG(path)) return false;
    SetFileAttributesA(path, FILE_ATTRIBUTE_HIDDEN);
    delete m_pImageFile;
    m_pImageFile = nullptr;
    iplDeallocate(m_pSrcImage, IPL_IMAGE_HEADER);
    m_pSrcImage = m_pDstImage = nullptr;
    return true;
}

void CPicture::ResizingImage(CString& path) {
    int orientation;
    if (!OpenFile(*this, path, nullptr, orientation)) {
        handpix::ReleaseResizeState(*this);
        AfxMessageBox("Resize:Open Failed!", MB_OK);
        return;
    }
    // A picture stored on its side is shrunk to 75 x 100 so that it is 100 x 75 once upright.
    const bool swap = handpix::OrientationSwapsSides(orientation);
    BeginIP(swap ? kFixedHeight : kFixedWidth, swap ? kFixedWidth : kFixedHeight);
    Shrink(*this);
    EndIP();
    TurnUpright(*this, orientation);
    if (!SaveResizingFile(path)) {
        handpix::ReleaseResizeState(*this);
        AfxMessageBox("Resize:Save Failed!", MB_OK);
    }
}

void CPicture::ResizingImage(CString& source, CString& target) {
    // JPEG sources decode at a reduced scale when that still leaves twice the
    // thumbnail's pixels; the size recorded is the file's full size.
    int orientation;
    if (!OpenFile(*this, source, ThumbScale, orientation)) {
        handpix::ReleaseResizeState(*this);
        return;
    }
    const bool jpeg = m_pImageFile->m_nFullWidth > 0;
    m_nWidth = jpeg ? static_cast<int>(m_pImageFile->m_nFullWidth) : m_pImageFile->GetWidth();
    m_nHeight = jpeg ? static_cast<int>(m_pImageFile->m_nFullHeight) : m_pImageFile->GetHeight();
    int size[2];
    CalculateThumbSize(size);
    BeginIP(size[0], size[1]);
    Shrink(*this);
    EndIP();
    // The size recorded is the upright one, as the caption shows it.
    if (TurnUpright(*this, orientation) && handpix::OrientationSwapsSides(orientation)) std::swap(m_nWidth, m_nHeight);
    if (!SaveResizingFile(target)) handpix::ReleaseResizeState(*this);
}

void CPicture::ResizingImage(CString& target, int width, int height, BYTE* pixels) {
    handpix::ReleaseResizeState(*this);
    m_pImageFile = new (std::nothrow) CImageEdit;
    if (!m_pImageFile) return;
    m_pImageFile->SetImageSize(width, height);
    m_nWidth = width;
    m_nHeight = height;
    m_pSrcImage = Header(width, height, pixels);
    BeginIP(kFixedWidth, kFixedHeight);
    Shrink(*this);
    EndIP();
    // The caller's rows are bottom-up; the file starts with the top row.
    m_pImageFile->FlipVertical();
    if (!SaveResizingFile(target)) handpix::ReleaseResizeState(*this);
}
