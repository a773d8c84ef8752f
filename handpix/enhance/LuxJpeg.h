// CLuxJpeg: JPEG files through libjpeg into a row-pointer image record, and
// the tone operations of photo enhancement (devignetting against a mask,
// contrast stretching, inversion).
#pragma once
#include <cstdint>

#include "handpix/platform/core/String.h"

// One image: the record, and one block holding the row table followed by the
// rows, each exactly ulWidth * ulChannels bytes, back to back.
struct LUX_Image {
    std::uint32_t ulWidth;
    std::uint32_t ulHeight;
    std::uint32_t ulChannels;  // bytes per pixel; 3 for every loaded image
    unsigned char** ppRows;    // top row first
};

class CLuxJpeg {
public:
    // Loads "Mask.jpg" beside the executable and inverts it. Addition: when that
    // does not load, the executable folder's ../share/handpix/Mask.jpg, where an
    // installed program's mask lies.
    CLuxJpeg();
    // Releases the mask, the work image and the result image.
    virtual ~CLuxJpeg();
    // Copies own copies of the images: each image is released exactly once.
    CLuxJpeg(const CLuxJpeg& other);
    CLuxJpeg& operator=(const CLuxJpeg& other);

    // Uninitialised pixels, or null.
    static LUX_Image* LUX_AllocImage(unsigned long width, unsigned long height, unsigned long channels);
    static void LUX_FreeImage(LUX_Image* image);
    // A colour JPEG file as B, G, R rows; null for any failure, grey and CMYK files included.
    // Additions: only regular files are read, and a frame above the picture-size
    // limit or larger than its file's data could describe is refused unread.
    static LUX_Image* LUX_LoadJPEG(char* path);
    // Quality 80, baseline, from 3-byte B, G, R rows. 1 or 0. The image's bytes
    // are the same afterwards, also when libjpeg fails half-way. Addition: the
    // file is replaced only once written whole; a failure leaves the old one.
    static unsigned long LUX_SaveJPEG(LUX_Image* image, char* path);
    unsigned long LUX_SaveFile(LUX_Image* image, char* path);
    // Exchanges bytes 0 and 2 of every pixel (images of at least 3 channels).
    static void LUX_SwapRGBOrder(LUX_Image* image);
    static void LUX_InvertImage(LUX_Image* image);

    // Loads path and keeps its devignetted copy in m_pOutImage; returns the
    // image as loaded (the caller's), or null. Fix: a mask of another size or
    // channel count is fitted to the picture (area averaging when shrinking,
    // bilinear when enlarging) instead of being skipped, so any mask works at
    // any size; a mask of the picture's own size and channel count is used as
    // it is. Without a mask the copy is devignetted with a null mask (gamma
    // only). When memory runs out m_pOutImage is null.
    LUX_Image* LUX_LoadFile(char* path);
    // Brightens where the mask says (gammaA), then applies gammaB everywhere.
    // A mask sample of 0 leaves the brightening out, 255 applies all of it.
    // A null mask counts as all zero.
    static void LUX_DevignetteImage(unsigned char** dst, unsigned char** src, unsigned char** mask, unsigned long width,
                                    unsigned long height, unsigned long channels, float gammaA, float gammaB);
    // Stretches the levels between the darkest and brightest 0.5 % of the mean
    // brightness; the mask, when given, weighs the change. Needs 3 or more channels.
    static void LUX_EqualiseImage(unsigned char** dst, unsigned char** src, unsigned char** mask, unsigned long width,
                                  unsigned long height, unsigned long channels);

    // Addition: a deep copy, or null.
    static LUX_Image* LUX_CopyImage(const LUX_Image* image);
    // Addition: replaces the mask with the picture at path, inverted as the
    // constructor inverts its own; null path: no mask. False, keeping the old
    // mask, when the picture does not load.
    bool LUX_LoadMask(const char* path);
    // Addition: the default vignetting mask as its picture file holds it (3
    // channels, white where no brightening is added, darker towards the corners);
    // the build writes it beside the tool as "Mask.jpg". Null for no memory.
    static LUX_Image* LUX_MakeVignetteMask(unsigned long width, unsigned long height);

    LUX_Image* m_pMaskImage;
    LUX_Image* m_pWorkImage;
    LUX_Image* m_pOutImage;
    // Addition: the file the mask came from; empty without a mask.
    CString m_strMaskPath;

private:
    void Release();
};
