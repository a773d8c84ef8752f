// Stand-in for the JPEG library behind CImageEdit: one properties record and
// four calls (init, read, write, free) over libjpeg-turbo. Whole-file reads and
// writes, channel counts, colour orders and DIB row padding as the record says.
// Reads take regular files only and refuse (IJL_MEMORY_ERROR) a frame above
// the process-wide picture-size limit or larger than its data could describe;
// file writes replace the target only once the whole file is on disk.
#pragma once
#include "handpix/platform/core/Types.h"

enum IJLERR {
    IJL_OK = 0,
    IJL_EXCEPTION_DETECTED = -1,
    IJL_INVALID_ENCODER = -2,
    IJL_UNSUPPORTED_SUBSAMPLING = -3,
    IJL_UNSUPPORTED_BYTES_PER_PIXEL = -4,
    IJL_MEMORY_ERROR = -5,
    IJL_INVALID_JPEG_PROPERTIES = -8,
    IJL_INVALID_FILENAME = -10,
    IJL_ERR_DATA = -21,
    IJL_FILE_ERROR = -23,
    IJL_BUFFER_TOO_SMALL = -28,
};

enum IJLIOTYPE {
    IJL_JFILE_READPARAMS = 0,
    IJL_JBUFF_READPARAMS = 1,
    IJL_JFILE_READWHOLEIMAGE = 2,
    IJL_JBUFF_READWHOLEIMAGE = 3,
    IJL_JFILE_WRITEWHOLEIMAGE = 4,
    IJL_JBUFF_WRITEWHOLEIMAGE = 5,
};

enum IJL_COLOR {
    IJL_RGB = 1,
    IJL_BGR = 2,
    IJL_YCBCR = 3,
    IJL_G = 4,
    IJL_RGBA_FPX = 5,
    IJL_YCBCRA_FPX = 6,
    IJL_OTHER = 255,
};

enum IJL_JPGSUBSAMPLING {
    IJL_NONE = 0,
    IJL_411 = 1,  // luminance sampled 2 x 2 against chroma (4:2:0)
    IJL_422 = 2,  // 2 x 1
};

enum IJL_DIBSUBSAMPLING { IJL_DIB_NONE = 0 };

struct IjlState;  // decoder input kept between the parameter read and the image read

struct JPEG_PROPERTIES {
    IjlState* state;
};

struct JPEG_CORE_PROPERTIES {
    DWORD UseJPEGPROPERTIES;

    // The pixel side: rows of DIBWidth * DIBChannels bytes followed by
    // DIBPadBytes; a positive DIBHeight is top row first, a negative one bottom-up.
    BYTE* DIBBytes;
    DWORD DIBWidth;
    int DIBHeight;
    DWORD DIBPadBytes;
    DWORD DIBChannels;
    IJL_COLOR DIBColor;
    IJL_DIBSUBSAMPLING DIBSubsampling;

    // The file side.
    LPCSTR JPGFile;
    BYTE* JPGBytes;
    DWORD JPGSizeBytes;
    DWORD JPGWidth;
    DWORD JPGHeight;
    DWORD JPGChannels;
    IJL_COLOR JPGColor;
    IJL_JPGSUBSAMPLING JPGSubsampling;
    DWORD JPGThumbWidth;
    DWORD JPGThumbHeight;

    DWORD cconversion_reqd;
    DWORD upsampling_reqd;
    DWORD jquality;  // 1 to 100; ijlInit leaves 75

    // Addition: decode at 1/DIBScaleDenom of the size (1, 2, 4 or 8; 0 means 1),
    // the DCT doing the shrinking. DIBWidth and |DIBHeight| must then be
    // ijlScaledSize of JPGWidth and JPGHeight.
    DWORD DIBScaleDenom;

    JPEG_PROPERTIES jprops;
};

IJLERR ijlInit(JPEG_CORE_PROPERTIES* jcprops);
IJLERR ijlFree(JPEG_CORE_PROPERTIES* jcprops);
IJLERR ijlRead(JPEG_CORE_PROPERTIES* jcprops, IJLIOTYPE iotype);
IJLERR ijlWrite(JPEG_CORE_PROPERTIES* jcprops, IJLIOTYPE iotype);

// Addition: the size of one side when decoding at 1/denom.
constexpr DWORD ijlScaledSize(DWORD size, DWORD denom) { return denom > 1 ? (size + denom - 1) / denom : size; }
