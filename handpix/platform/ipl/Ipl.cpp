#include "handpix/platform/ipl/Ipl.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/Resample.h"

namespace {
void CopyTag(char (&out)[4], const char* in) {
    std::memset(out, 0, sizeof out);
    for (size_t i = 0; in && i < sizeof out && in[i]; ++i) out[i] = in[i];
}

// Rows of an image as the resampler sees them: top row first, whatever the origin.
template <typename P, typename Byte>
bool View(const IplImage* im, P& out, Byte* data) {
    if (!im || !data || im->depth != IPL_DEPTH_8U || im->nChannels < 1 || im->nChannels > 4) return false;
    if (im->width < 1 || im->height < 1 || im->widthStep < im->width * im->nChannels) return false;
    std::ptrdiff_t stride = im->widthStep;
    if (im->origin == IPL_ORIGIN_BL) {
        data += stride * (im->height - 1);
        stride = -stride;
    }
    out = P{data, im->width, im->height, stride};
    return true;
}
}  // namespace

IplImage* iplCreateImageHeader(int nChannels, int alphaChannel, int depth, const char* colorModel,
                               const char* channelSeq, int dataOrder, int origin, int align, int width, int height,
                               IplROI* roi, IplImage* maskROI, void* imageId, IplTileInfo* tileInfo) {
    if (nChannels < 1 || nChannels > 4 || depth != IPL_DEPTH_8U || width < 1 || height < 1) return nullptr;
    if (align != 4 && align != 8) return nullptr;
    long long step = (static_cast<long long>(width) * nChannels + align - 1) / align * align;
    if (step * height > 0x7FFFFFFFLL) return nullptr;
    IplImage* im = new (std::nothrow) IplImage{};
    if (!im) return nullptr;
    im->nSize = sizeof(IplImage);
    im->nChannels = nChannels;
    im->alphaChannel = alphaChannel;
    im->depth = depth;
    CopyTag(im->colorModel, colorModel);
    CopyTag(im->channelSeq, channelSeq);
    im->dataOrder = dataOrder;
    im->origin = origin;
    im->align = align;
    im->width = width;
    im->height = height;
    im->roi = roi;
    im->maskROI = maskROI;
    im->imageId = imageId;
    im->tileInfo = tileInfo;
    im->widthStep = static_cast<int>(step);
    im->imageSize = static_cast<int>(step * height);
    return im;
}

void iplResize(IplImage* src, IplImage* dst, int xDst, int xSrc, int yDst, int ySrc, int interpolate) {
    if (xDst < 1 || xSrc < 1 || yDst < 1 || ySrc < 1) return;
    if (xDst > xSrc || yDst > ySrc) {
        AfxMessageBox("(xDst > xSrc || yDst > ySrc)", MB_OK | MB_ICONERROR);
        return;
    }
    handpix::ConstPixels in;
    handpix::Pixels out;
    if (!View(src, in, static_cast<const std::uint8_t*>(static_cast<const void*>(src ? src->imageData : nullptr))) ||
        !View(dst, out, static_cast<std::uint8_t*>(static_cast<void*>(dst ? dst->imageData : nullptr))))
        return;
    if (src->nChannels != dst->nChannels) return;
    // The scaled source covers at most the destination; what lies beyond the
    // scaled source keeps its contents.
    long long w = static_cast<long long>(in.width) * xDst / xSrc;
    long long h = static_cast<long long>(in.height) * yDst / ySrc;
    out.width = static_cast<int>(std::min<long long>(out.width, w));
    out.height = static_cast<int>(std::min<long long>(out.height, h));
    if (out.width < 1 || out.height < 1) return;
    (void)interpolate;
    handpix::Resample(in, out, src->nChannels);
}

void iplDeallocate(IplImage* image, int flag) {
    if (!image) return;
    if (flag & IPL_IMAGE_DATA) {
        delete[] image->imageDataOrigin;
        image->imageData = image->imageDataOrigin = nullptr;
    }
    if (flag & IPL_IMAGE_HEADER) delete image;
}
