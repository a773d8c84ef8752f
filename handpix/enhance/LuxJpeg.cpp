#include "handpix/enhance/LuxJpeg.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Resample.h"
#include "handpix/platform/ijl/JpegGuard.h"

namespace {
// Images above this many bytes of pixels are refused before allocation.
constexpr unsigned long long kMaxImageBytes = 1ULL << 30;

std::size_t RowBytes(const LUX_Image* im) { return static_cast<std::size_t>(im->ulWidth) * im->ulChannels; }

// ---- load ----

struct Load {
    jpeg_decompress_struct cinfo;
    std::FILE* file;
    LUX_Image* image;
    bool created;
};

// What follows the headers just read: the rest of the file plus what the
// stdio source holds in its buffer.
std::uint64_t BytesLeft(const Load& l) {
    const std::uint64_t buffered = l.cinfo.src->bytes_in_buffer;
    const long at = std::ftell(l.file);
    struct stat st;
    if (at < 0 || ::fstat(::fileno(l.file), &st) != 0 || st.st_size < at) return buffered;
    return buffered + static_cast<std::uint64_t>(st.st_size - at);
}

void LoadStep(void* context) {
    Load& l = *static_cast<Load*>(context);
    jpeg_decompress_struct& c = l.cinfo;
    jpeg_CreateDecompress(&c, JPEG_LIB_VERSION, sizeof(c));
    l.created = true;
    jpeg_stdio_src(&c, l.file);
    jpeg_read_header(&c, TRUE);
    if (!handpix::JpegHeaderFits(c, BytesLeft(l))) return;
    l.image = CLuxJpeg::LUX_AllocImage(c.image_width, c.image_height, static_cast<unsigned long>(c.num_components));
    if (!l.image) return;
    jpeg_start_decompress(&c);
    if (c.output_components != 3 || c.output_width != c.image_width || c.output_height != c.image_height) {
        // Grey-scale and four-channel files are not ours; the scanlines stay unread.
        CLuxJpeg::LUX_FreeImage(l.image);
        l.image = nullptr;
        return;
    }
    while (c.output_scanline < c.output_height) {
        JDIMENSION want = std::min<JDIMENSION>(static_cast<JDIMENSION>(c.rec_outbuf_height),
                                               c.output_height - c.output_scanline);
        jpeg_read_scanlines(&c, l.image->ppRows + c.output_scanline, want);
    }
    CLuxJpeg::LUX_SwapRGBOrder(l.image);
    jpeg_finish_decompress(&c);
}

// ---- save ----

struct Save {
    jpeg_compress_struct cinfo;
    std::FILE* file;
    LUX_Image* image;
    bool created;
    bool swapped;  // the rows are R, G, B now and must be turned back
};

void SaveStep(void* context) {
    Save& s = *static_cast<Save*>(context);
    jpeg_compress_struct& c = s.cinfo;
    LUX_Image* im = s.image;
    jpeg_CreateCompress(&c, JPEG_LIB_VERSION, sizeof(c));
    s.created = true;
    jpeg_stdio_dest(&c, s.file);
    c.image_width = im->ulWidth;
    c.image_height = im->ulHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 80, TRUE);
    jpeg_start_compress(&c, TRUE);
    CLuxJpeg::LUX_SwapRGBOrder(im);
    s.swapped = true;
    while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, im->ppRows + c.next_scanline, 1);
    CLuxJpeg::LUX_SwapRGBOrder(im);
    s.swapped = false;
    jpeg_finish_compress(&c);
}

// ---- masks ----

// Rows of an allocated image lie back to back, so the resampler sees one block.
handpix::ConstPixels ConstView(const LUX_Image* im) {
    return {im->ppRows[0], static_cast<int>(im->ulWidth), static_cast<int>(im->ulHeight),
            static_cast<std::ptrdiff_t>(RowBytes(im))};
}

// The mask read at the picture's size and channel count, or null. The same
// channel count (up to 4) is resampled channel for channel; any other count
// weighs every channel of a pixel by the mean of the mask pixel's channels.
LUX_Image* FitMask(const LUX_Image* mask, std::uint32_t width, std::uint32_t height, std::uint32_t channels) {
    LUX_Image* fitted = CLuxJpeg::LUX_AllocImage(width, height, channels);
    if (!fitted) return nullptr;
    const std::uint32_t mc = mask->ulChannels;
    if (mc == channels && channels <= 4) {
        handpix::Pixels to{fitted->ppRows[0], static_cast<int>(width), static_cast<int>(height),
                           static_cast<std::ptrdiff_t>(RowBytes(fitted))};
        if (handpix::Resample(ConstView(mask), to, static_cast<int>(channels))) return fitted;
        CLuxJpeg::LUX_FreeImage(fitted);
        return nullptr;
    }
    const std::size_t from = static_cast<std::size_t>(mask->ulWidth) * mask->ulHeight;
    const std::size_t to = static_cast<std::size_t>(width) * height;
    std::unique_ptr<std::uint8_t[]> grey(new (std::nothrow) std::uint8_t[from + to]);
    bool done = grey != nullptr;
    if (done) {
        std::uint8_t* g = grey.get();
        for (std::uint32_t y = 0; y < mask->ulHeight; ++y) {
            const unsigned char* p = mask->ppRows[y];
            for (std::uint32_t x = 0; x < mask->ulWidth; ++x, p += mc) {
                unsigned sum = 0;
                for (std::uint32_t c = 0; c < mc; ++c) sum += p[c];
                *g++ = static_cast<std::uint8_t>((sum + mc / 2) / mc);
            }
        }
        done = handpix::Resample({grey.get(), static_cast<int>(mask->ulWidth), static_cast<int>(mask->ulHeight),
                                  static_cast<std::ptrdiff_t>(mask->ulWidth)},
                                 {grey.get() + from, static_cast<int>(width), static_cast<int>(height),
                                  static_cast<std::ptrdiff_t>(width)},
                                 1);
    }
    if (!done) {
        CLuxJpeg::LUX_FreeImage(fitted);
        return nullptr;
    }
    const std::uint8_t* g = grey.get() + from;
    for (std::uint32_t y = 0; y < height; ++y) {
        unsigned char* d = fitted->ppRows[y];
        for (std::uint32_t x = 0; x < width; ++x, ++g)
            for (std::uint32_t c = 0; c < channels; ++c) *d++ = *g;
    }
    return fitted;
}

// 256 entries of floor(255 * (i/255)^gamma), in double precision.
void GammaTable(unsigned char (&t)[256], float gamma) {
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(static_cast<int>(255.0 * std::pow(i * 0.00392156862745098, static_cast<double>(gamma))));
}
}  // namespace

LUX_Image* CLuxJpeg::LUX_AllocImage(unsigned long width, unsigned long height, unsigned long channels) {
    const unsigned long long pixels = static_cast<unsigned long long>(width) * height;
    if (width > 0xFFFFFFFFul || height > 0xFFFFFFFFul || channels > 0xFFFFFFFFul) return nullptr;
    if (channels > 16 || pixels * channels > kMaxImageBytes) return nullptr;
    LUX_Image* im = new (std::nothrow) LUX_Image{};
    if (!im) return nullptr;
    im->ulWidth = static_cast<std::uint32_t>(width);
    im->ulHeight = static_cast<std::uint32_t>(height);
    im->ulChannels = static_cast<std::uint32_t>(channels);
    const std::size_t table = static_cast<std::size_t>(height) * sizeof(unsigned char*);
    const std::size_t row = RowBytes(im);
    // One block: the row table, the rows back to back, 32 spare bytes.
    unsigned char* block = new (std::nothrow) unsigned char[table + row * height + 32];
    if (!block) {
        delete im;
        return nullptr;
    }
    im->ppRows = reinterpret_cast<unsigned char**>(block);
    for (std::size_t y = 0; y < height; ++y) im->ppRows[y] = block + table + y * row;
    return im;
}

void CLuxJpeg::LUX_FreeImage(LUX_Image* image) {
    if (!image) return;
    delete[] reinterpret_cast<unsigned char*>(image->ppRows);
    delete image;
}

LUX_Image* CLuxJpeg::LUX_CopyImage(const LUX_Image* image) {
    if (!image) return nullptr;
    LUX_Image* copy = LUX_AllocImage(image->ulWidth, image->ulHeight, image->ulChannels);
    if (!copy) return nullptr;
    const std::size_t row = RowBytes(image);
    for (std::uint32_t y = 0; y < image->ulHeight; ++y) std::memcpy(copy->ppRows[y], image->ppRows[y], row);
    return copy;
}

LUX_Image* CLuxJpeg::LUX_LoadJPEG(char* path) {
    if (!path) return nullptr;
    std::FILE* f = handpix::OpenRegularFileStream(path);
    if (!f) return nullptr;
    handpix::JpegErrorManager err;
    Load l{};
    l.cinfo.err = handpix::InitJpegErrors(err, false);
    l.file = f;
    if (!handpix::JpegGuarded(err, LoadStep, &l)) {
        LUX_FreeImage(l.image);
        l.image = nullptr;
    }
    if (l.created) jpeg_destroy_decompress(&l.cinfo);
    std::fclose(f);
    return l.image;
}

unsigned long CLuxJpeg::LUX_SaveJPEG(LUX_Image* image, char* path) {
    // Rows are read as 3 bytes per pixel: fewer channels would run past them.
    if (!image || !path || image->ulChannels < 3 || image->ulWidth == 0 || image->ulHeight == 0) return 0;
    // Beside the target first, renamed over it once complete: a failure
    // leaves the old file as it was.
    handpix::AtomicFile file;
    std::FILE* f = file.Open(path) ? file.Stream() : nullptr;
    if (!f) return 0;
    handpix::JpegErrorManager err;
    Save s{};
    s.cinfo.err = handpix::InitJpegErrors(err, false);
    s.file = f;
    s.image = image;
    const bool done = handpix::JpegGuarded(err, SaveStep, &s);
    if (s.swapped) LUX_SwapRGBOrder(image);
    if (s.created) jpeg_destroy_compress(&s.cinfo);
    return done && file.Commit() ? 1 : 0;
}

unsigned long CLuxJpeg::LUX_SaveFile(LUX_Image* image, char* path) { return path ? LUX_SaveJPEG(image, path) : 0; }

void CLuxJpeg::LUX_SwapRGBOrder(LUX_Image* image) {
    if (!image || image->ulChannels < 3) return;
    for (std::uint32_t y = 0; y < image->ulHeight; ++y) {
        unsigned char* p = image->ppRows[y];
        // Pixels 3 bytes apart, as the files' rows are laid out.
        for (std::uint32_t x = 0; x < image->ulWidth; ++x, p += 3) std::swap(p[0], p[2]);
    }
}

void CLuxJpeg::LUX_InvertImage(LUX_Image* image) {
    if (!image) return;
    const std::size_t row = RowBytes(image);
    for (std::uint32_t y = 0; y < image->ulHeight; ++y)
        for (std::size_t k = 0; k < row; ++k) image->ppRows[y][k] = static_cast<unsigned char>(~image->ppRows[y][k]);
}

void CLuxJpeg::LUX_DevignetteImage(unsigned char** dst, unsigned char** src, unsigned char** mask, unsigned long width,
                                   unsigned long height, unsigned long channels, float gammaA, float gammaB) {
    if (!dst || !src) return;
    unsigned char a[256], b[256];
    GammaTable(a, gammaA);
    GammaTable(b, gammaB);
    const std::size_t n = static_cast<std::size_t>(width) * channels;
    for (unsigned long y = 0; y < height; ++y) {
        const unsigned char* s = src[y];
        const unsigned char* m = mask ? mask[y] : nullptr;
        unsigned char* d = dst[y];
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint32_t v = s[k];
            const std::uint32_t w = m ? m[k] : 0;
            // Unsigned 32-bit on purpose: a gamma above 1 would make the step negative and wrap.
            const std::uint32_t t = (v + (((a[v] - v) * w * 257u + 257u) >> 16)) & 0xFF;
            d[k] = b[t];
        }
    }
}

void CLuxJpeg::LUX_EqualiseImage(unsigned char** dst, unsigned char** src, unsigned char** mask, unsigned long width,
                                 unsigned long height, unsigned long channels) {
    if (!dst || !src || channels < 3) return;
    std::uint32_t histogram[256] = {};
    for (unsigned long y = 0; y < height; ++y) {
        const unsigned char* p = src[y];
        for (unsigned long x = 0; x < width; ++x, p += 3) ++histogram[(p[0] + p[1] + p[2]) / 3];
    }
    const std::int32_t threshold = static_cast<std::int32_t>(width * height * 5 / 1000);
    int lo = 255;
    std::int64_t sum = 0;
    for (int v = 0; v < 255; ++v) {
        sum += histogram[v];
        if (sum >= threshold) {
            lo = v;
            break;
        }
    }
    int hi = 0;
    sum = 0;
    for (int v = 255; v >= 0; --v) {
        sum += histogram[v];
        if (sum >= threshold) {
            hi = v;
            break;
        }
    }
    int range = hi - lo;
    if (range < 2) range = 1;
    unsigned char stretch[256];
    for (int v = 0; v < 256; ++v) {
        int l = (255 * v - 255 * lo) / range;
        stretch[v] = static_cast<unsigned char>(l >= 255 ? 255 : l < 1 ? 0 : l);
    }
    const std::size_t n = static_cast<std::size_t>(width) * channels;
    for (unsigned long y = 0; y < height; ++y) {
        const unsigned char* s = src[y];
        unsigned char* d = dst[y];
        if (!mask) {
            for (std::size_t k = 0; k < n; ++k) d[k] = stretch[s[k]];
            continue;
        }
        const unsigned char* m = mask[y];
        for (std::size_t k = 0; k < n; ++k) {
            const std::int32_t v = s[k];
            // Signed, and the shift rounds toward minus infinity.
            d[k] = static_cast<unsigned char>(v + (((stretch[v] - v) * m[k] * 257 + 257) >> 16));
        }
    }
}

CLuxJpeg::CLuxJpeg() : m_pMaskImage(nullptr), m_pWorkImage(nullptr), m_pOutImage(nullptr) {
    const CString folder = handpix::GetModuleDirectory();
    // Beside the executable first; then where an installed <prefix>/bin program
    // finds its data, <prefix>/share/handpix.
    if (!LUX_LoadMask(folder + "Mask.jpg")) LUX_LoadMask(folder + "../share/handpix/Mask.jpg");
}

bool CLuxJpeg::LUX_LoadMask(const char* path) {
    LUX_Image* mask = nullptr;
    if (path) {
        mask = LUX_LoadJPEG(const_cast<char*>(path));
        if (!mask) return false;
        LUX_InvertImage(mask);
    }
    LUX_FreeImage(m_pMaskImage);
    m_pMaskImage = mask;
    m_strMaskPath = path ? path : "";
    return true;
}

LUX_Image* CLuxJpeg::LUX_MakeVignetteMask(unsigned long width, unsigned long height) {
    LUX_Image* mask = LUX_AllocImage(width, height, 3);
    if (!mask) return nullptr;
    // A lens lets through cos^4 of the light at field angle theta. With the
    // corners at 45 degrees, tan(theta) = r, the distance from the centre over
    // the half diagonal, and the falloff is f(r) = 1 / (1 + r^2)^2: a quarter
    // in the corners. The compensation strength (1 - f(r)) / (1 - f(1)) runs
    // from 0 in the centre to 1 in the corners; the file holds 255 times
    // (1 - strength), white in the centre, as the object inverts its mask.
    const double cx = width / 2.0, cy = height / 2.0;
    const double halfDiagonal2 = cx * cx + cy * cy;
    const double fullFalloff = 1.0 - 1.0 / 4.0;
    for (unsigned long y = 0; y < height; ++y) {
        unsigned char* p = mask->ppRows[y];
        const double dy = y + 0.5 - cy;
        for (unsigned long x = 0; x < width; ++x, p += 3) {
            const double dx = x + 0.5 - cx;
            const double r2 = (dx * dx + dy * dy) / halfDiagonal2;
            const double strength = (1.0 - 1.0 / ((1.0 + r2) * (1.0 + r2))) / fullFalloff;
            p[0] = p[1] = p[2] = static_cast<unsigned char>(std::lround(255.0 * (1.0 - std::min(strength, 1.0))));
        }
    }
    return mask;
}

CLuxJpeg::~CLuxJpeg() { Release(); }

void CLuxJpeg::Release() {
    LUX_FreeImage(m_pMaskImage);
    LUX_FreeImage(m_pWorkImage);
    LUX_FreeImage(m_pOutImage);
    m_pMaskImage = m_pWorkImage = m_pOutImage = nullptr;
    m_strMaskPath = "";
}

CLuxJpeg::CLuxJpeg(const CLuxJpeg& other)
    : m_pMaskImage(LUX_CopyImage(other.m_pMaskImage)),
      m_pWorkImage(LUX_CopyImage(other.m_pWorkImage)),
      m_pOutImage(LUX_CopyImage(other.m_pOutImage)),
      m_strMaskPath(other.m_strMaskPath) {}

CLuxJpeg& CLuxJpeg::operator=(const CLuxJpeg& other) {
    if (this == &other) return *this;
    Release();
    m_pMaskImage = LUX_CopyImage(other.m_pMaskImage);
    m_pWorkImage = LUX_CopyImage(other.m_pWorkImage);
    m_pOutImage = LUX_CopyImage(other.m_pOutImage);
    m_strMaskPath = other.m_strMaskPath;
    return *this;
}

LUX_Image* CLuxJpeg::LUX_LoadFile(char* path) {
    if (!path) return nullptr;
    LUX_Image* loaded = LUX_LoadJPEG(path);
    if (!loaded) return nullptr;
    LUX_FreeImage(m_pOutImage);
    m_pOutImage = LUX_AllocImage(loaded->ulWidth, loaded->ulHeight, loaded->ulChannels);
    if (!m_pOutImage) return loaded;
    const LUX_Image* mask = m_pMaskImage;
    LUX_Image* fitted = nullptr;
    // An empty mask has nothing to fit: it counts as none.
    if (mask && (mask->ulWidth == 0 || mask->ulHeight == 0 || mask->ulChannels == 0)) mask = nullptr;
    if (mask && (mask->ulWidth != loaded->ulWidth || mask->ulHeight != loaded->ulHeight ||
                 mask->ulChannels != loaded->ulChannels)) {
        mask = fitted = FitMask(mask, loaded->ulWidth, loaded->ulHeight, loaded->ulChannels);
        if (!fitted) {
            LUX_FreeImage(m_pOutImage);
            m_pOutImage = nullptr;
            return loaded;
        }
    }
    LUX_DevignetteImage(m_pOutImage->ppRows, loaded->ppRows, mask ? mask->ppRows : nullptr, loaded->ulWidth,
                        loaded->ulHeight, loaded->ulChannels, 0.25f, 1.5151515f);
    LUX_FreeImage(fitted);
    return loaded;
}
