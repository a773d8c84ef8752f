// Stand-in for the image-processing library that resizing relies on: image
// headers over caller-owned pixels, the shrinking resampler and header release.
// Resampling is the library's one resampler (handpix::Resample).
#pragma once

constexpr int IPL_DEPTH_8U = 8;
constexpr int IPL_DATA_ORDER_PIXEL = 0;
constexpr int IPL_ORIGIN_TL = 0;
constexpr int IPL_ORIGIN_BL = 1;
constexpr int IPL_ALIGN_4BYTES = 4;
constexpr int IPL_ALIGN_DWORD = IPL_ALIGN_4BYTES;
constexpr int IPL_INTER_NN = 0;
constexpr int IPL_INTER_LINEAR = 1;
constexpr int IPL_INTER_CUBIC = 2;
constexpr int IPL_INTER_SUPER = 3;
constexpr int IPL_IMAGE_HEADER = 1;
constexpr int IPL_IMAGE_DATA = 2;
constexpr int IPL_IMAGE_ROI = 4;
constexpr int IPL_IMAGE_ALL = IPL_IMAGE_HEADER | IPL_IMAGE_DATA | IPL_IMAGE_ROI;

struct IplROI;
struct IplTileInfo;

struct _IplImage {
    int nSize;             // size of this record
    int ID;
    int nChannels;         // 1 to 4
    int alphaChannel;
    int depth;             // IPL_DEPTH_8U only
    char colorModel[4];    // "RGB"
    char channelSeq[4];    // "BGR": the byte order of a pixel
    int dataOrder;         // IPL_DATA_ORDER_PIXEL: channels interleaved
    int origin;            // IPL_ORIGIN_TL: first row in memory is the top row
    int align;             // row alignment in bytes
    int width;
    int height;
    IplROI* roi;
    _IplImage* maskROI;
    void* imageId;
    IplTileInfo* tileInfo;
    int imageSize;         // widthStep * height
    char* imageData;       // the caller's pixels
    int widthStep;         // bytes per row, a multiple of align
    int BorderMode[4];
    int BorderConst[4];
    char* imageDataOrigin;
};
typedef struct _IplImage IplImage;

// A header over no pixels yet (the caller points imageData and imageDataOrigin at
// its buffer), or null for arguments it cannot describe.
IplImage* iplCreateImageHeader(int nChannels, int alphaChannel, int depth, const char* colorModel,
                               const char* channelSeq, int dataOrder, int origin, int align, int width, int height,
                               IplROI* roi, IplImage* maskROI, void* imageId, IplTileInfo* tileInfo);

// Scales src by xDst/xSrc and yDst/ySrc into dst. Only shrinking is accepted
// (area averaging; other interpolation codes are served the same way): an
// enlargement is reported through the message-box handler and nothing is written.
void iplResize(IplImage* src, IplImage* dst, int xDst, int xSrc, int yDst, int ySrc, int interpolate);

// Releases the header (IPL_IMAGE_HEADER) and, with IPL_IMAGE_DATA, the pixels as
// allocated with new[]. Null is ignored.
void iplDeallocate(IplImage* image, int flag);
