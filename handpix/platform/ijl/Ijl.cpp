#include "handpix/platform/ijl/Ijl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "handpix/platform/ijl/JpegGuard.h"
#include "handpix/platform/ijl/RestartBands.h"
// after jpeglib.h, which JpegGuard.h brings
#include <jerror.h>
#include "handpix/platform/core/File.h"
#include "handpix/platform/ijl/ProgressiveEighth.h"
#include "handpix/platform/ijl/YccFixed.h"

// The file opened by the parameter read stays open for the image read that
// follows, so both see the same file; ijlFree closes it.
struct IjlState {
    int fd = -1;
    ~IjlState() {
        if (fd >= 0) ::close(fd);
    }
};

namespace {
// Files above this are refused before they are read.
constexpr std::uint64_t kMaxFileBytes = 256u << 20;
// Files are streamed through a buffer of this size rather than read whole:
// a thumbnail of a large photograph then touches little memory besides its pixels.
constexpr std::size_t kReadChunk = 64u << 10;
// libjpeg's own working memory (progressive coefficients and the like) is capped too.
constexpr long kMaxLibraryMemory = 512L << 20;

IjlState* State(JPEG_CORE_PROPERTIES* p) {
    if (!p->jprops.state) p->jprops.state = new (std::nothrow) IjlState;
    return p->jprops.state;
}

// ---- reading ----

// A libjpeg source over an open file, read from its start. Past the end (or
// on a read error) it supplies an end-of-image marker, as libjpeg's own
// memory source does, so a truncated file decodes as far as it goes.
struct FileSource {
    jpeg_source_mgr pub;
    int fd;
    JOCTET* buffer;
    std::size_t reads, lastRead;  // after one read, the buffer holds the file's first lastRead bytes
};

void SourceInit(j_decompress_ptr) {}
void SourceTerm(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr c) {
    FileSource& s = *reinterpret_cast<FileSource*>(c->src);
    ssize_t n;
    do n = ::read(s.fd, s.buffer, kReadChunk);
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
        handpix::FeedEndOfImage(c);
        return TRUE;
    }
    s.pub.next_input_byte = s.buffer;
    s.pub.bytes_in_buffer = static_cast<std::size_t>(n);
    ++s.reads;
    s.lastRead = static_cast<std::size_t>(n);
    return TRUE;
}

// Installs the file source; its buffer lives in libjpeg's image pool, freed with the decoder.
void UseFileSource(jpeg_decompress_struct& c, int fd) {
    auto* s = static_cast<FileSource*>(
        (*c.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&c), JPOOL_PERMANENT, sizeof(FileSource)));
    s->fd = fd;
    s->buffer = static_cast<JOCTET*>(
        (*c.mem->alloc_large)(reinterpret_cast<j_common_ptr>(&c), JPOOL_PERMANENT, kReadChunk));
    s->reads = s->lastRead = 0;
    s->pub.init_source = SourceInit;
    s->pub.fill_input_buffer = SourceFill;
    s->pub.skip_input_data = handpix::SkipThroughFill;
    s->pub.resync_to_restart = jpeg_resync_to_restart;
    s->pub.term_source = SourceTerm;
    s->pub.bytes_in_buffer = 0;
    s->pub.next_input_byte = nullptr;
    c.src = &s->pub;
}

// The bands of a file need its headers in memory: those the header read
// brought, when it took one read from the file's start, are not read again.
bool DecodeFileBands(const jpeg_decompress_struct& c, int fd, const handpix::BandOutput& out) {
    const auto& s = *reinterpret_cast<const FileSource*>(c.src);
    const bool head = s.reads == 1;
    return handpix::DecodeRestartBands(c, fd, out, 0, head ? s.buffer : nullptr, head ? s.lastRead : 0);
}

struct Decode {
    jpeg_decompress_struct cinfo;
    JPEG_CORE_PROPERTIES* props;
    const std::uint8_t* data;  // the caller's buffer, or null to read fd
    std::size_t size;
    int fd;
    bool paramsOnly;
    IJLERR result;
    bool created;
};

IJL_COLOR FileColour(const jpeg_decompress_struct& c) {
    switch (c.num_components) {
    case 1: return IJL_G;
    case 3: return IJL_YCBCR;
    case 4: return IJL_YCBCRA_FPX;
    default: return IJL_OTHER;
    }
}

IJL_JPGSUBSAMPLING FileSampling(const jpeg_decompress_struct& c) {
    if (c.num_components < 3) return IJL_NONE;
    int h = c.comp_info[0].h_samp_factor, v = c.comp_info[0].v_samp_factor;
    if (h == 2 && v == 2) return IJL_411;
    if (h == 2 && v == 1) return IJL_422;
    return IJL_NONE;
}

// The libjpeg output colour space that gives the DIB layout asked for, or
// JCS_UNKNOWN when the pair is not served.
J_COLOR_SPACE OutputSpace(const JPEG_CORE_PROPERTIES& p, int components) {
    if (components == 4) return p.DIBChannels == 4 ? JCS_CMYK : JCS_UNKNOWN;  // raw samples, converted by us
    switch (p.DIBColor) {
    case IJL_BGR: return p.DIBChannels == 3 ? JCS_EXT_BGR : p.DIBChannels == 4 ? JCS_EXT_BGRX : JCS_UNKNOWN;
    case IJL_RGB: return p.DIBChannels == 3 ? JCS_RGB : p.DIBChannels == 4 ? JCS_EXT_RGBX : JCS_UNKNOWN;
    case IJL_G: return p.DIBChannels == 1 ? JCS_GRAYSCALE : JCS_UNKNOWN;
    default: return JCS_UNKNOWN;
    }
}

// Y, Cb, Cr, A to R, G, B, A in place.
void YccaToRgba(std::uint8_t* p, unsigned width) {
    for (unsigned x = 0; x < width; ++x, p += 4) handpix::YccToRgbFixed(p[0], p[1], p[2], p);
}

// What the source has not yet handed to libjpeg: the rest of the caller's
// buffer, or the rest of the file plus what sits in the read buffer.
std::uint64_t BytesLeft(const Decode& d) {
    const std::uint64_t buffered = d.cinfo.src->bytes_in_buffer;
    if (d.data) return buffered;
    struct stat st;
    const off_t at = ::lseek(d.fd, 0, SEEK_CUR);
    if (at < 0 || ::fstat(d.fd, &st) != 0 || st.st_size < at) return buffered;
    return buffered + static_cast<std::uint64_t>(st.st_size - at);
}

void DecodeStep(void* context) {
    Decode& d = *static_cast<Decode*>(context);
    jpeg_decompress_struct& c = d.cinfo;
    JPEG_CORE_PROPERTIES& p = *d.props;
    jpeg_create_decompress(&c);
    d.created = true;
    c.mem->max_memory_to_use = kMaxLibraryMemory;
    if (d.data)
        jpeg_mem_src(&c, d.data, static_cast<unsigned long>(d.size));
    else
        UseFileSource(c, d.fd);
    jpeg_read_header(&c, TRUE);
    if (!handpix::JpegHeaderFits(c, BytesLeft(d))) {
        d.result = IJL_MEMORY_ERROR;
        return;
    }
    if (d.paramsOnly) {
        p.JPGWidth = c.image_width;
        p.JPGHeight = c.image_height;
        p.JPGChannels = static_cast<DWORD>(c.num_components);
        p.JPGColor = FileColour(c);
        p.JPGSubsampling = FileSampling(c);
        d.result = IJL_OK;
        return;
    }
    if (c.num_components == 4) c.jpeg_color_space = JCS_CMYK;  // no conversion by libjpeg
    c.out_color_space = OutputSpace(p, c.num_components);
    if (c.out_color_space == JCS_UNKNOWN) {
        d.result = IJL_UNSUPPORTED_BYTES_PER_PIXEL;
        return;
    }
    const DWORD denom = p.DIBScaleDenom;
    if (denom == 2 || denom == 4 || denom == 8) {
        c.scale_num = 1;
        c.scale_denom = denom;
        // A reduced decode is for a thumbnail that is shrunk further: plain
        // chroma replication (merged with the colour conversion) is enough.
        c.do_fancy_upsampling = FALSE;
    }
    jpeg_calc_output_dimensions(&c);
    const DWORD rows = static_cast<DWORD>(p.DIBHeight < 0 ? -static_cast<long long>(p.DIBHeight) : p.DIBHeight);
    if (!p.DIBBytes || p.DIBWidth != c.output_width || rows != c.output_height ||
        static_cast<DWORD>(c.out_color_components) != p.DIBChannels) {
        d.result = IJL_INVALID_JPEG_PROPERTIES;
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(p.DIBWidth) * p.DIBChannels + p.DIBPadBytes;
    // Restart markers at MCU-row starts let every core decode a band of rows;
    // when they do not (or a band fails), the one decode below, as ever.
    const handpix::BandOutput bands{p.DIBBytes, rowBytes, p.DIBHeight < 0};
    if (d.data ? handpix::DecodeRestartBands(c, d.data, d.size, bands) : DecodeFileBands(c, d.fd, bands)) {
        d.result = IJL_OK;
        return;
    }
    jpeg_start_decompress(&c);
    const bool ycca = c.num_components == 4 && p.JPGColor == IJL_YCBCRA_FPX;
    while (c.output_scanline < c.output_height) {
        std::size_t y = c.output_scanline;
        if (p.DIBHeight < 0) y = rows - 1 - y;
        JSAMPROW row = p.DIBBytes + y * rowBytes;
        jpeg_read_scanlines(&c, &row, 1);
        if (ycca) YccaToRgba(row, p.DIBWidth);
    }
    jpeg_finish_decompress(&c);
    d.result = IJL_OK;
}

IJLERR RunDecode(JPEG_CORE_PROPERTIES* p, const std::uint8_t* data, std::size_t size, int fd, bool paramsOnly) {
    handpix::JpegErrorManager err;
    Decode d{};
    d.cinfo.err = handpix::InitJpegErrors(err, true);
    d.props = p;
    d.data = data;
    d.size = size;
    d.fd = fd;
    d.paramsOnly = paramsOnly;
    d.result = IJL_ERR_DATA;
    if (!handpix::JpegGuarded(err, DecodeStep, &d)) d.result = IJL_ERR_DATA;
    if (d.created) jpeg_destroy_decompress(&d.cinfo);
    return d.result;
}

// ---- writing ----

struct Encode {
    jpeg_compress_struct cinfo;
    const JPEG_CORE_PROPERTIES* props;
    unsigned char* out;
    unsigned long outSize;
    bool created;
};

void EncodeStep(void* context) {
    Encode& e = *static_cast<Encode*>(context);
    jpeg_compress_struct& c = e.cinfo;
    const JPEG_CORE_PROPERTIES& p = *e.props;
    jpeg_create_compress(&c);
    e.created = true;
    jpeg_mem_dest(&c, &e.out, &e.outSize);
    c.image_width = p.DIBWidth;
    c.image_height = static_cast<JDIMENSION>(p.DIBHeight < 0 ? -static_cast<long long>(p.DIBHeight) : p.DIBHeight);
    c.input_components = static_cast<int>(p.DIBChannels);
    c.in_color_space = p.DIBChannels == 1 ? JCS_GRAYSCALE
                       : p.DIBColor == IJL_RGB ? (p.DIBChannels == 3 ? JCS_RGB : JCS_EXT_RGBX)
                                               : (p.DIBChannels == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX);
    jpeg_set_defaults(&c);
    if (p.JPGChannels == 1) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    if (c.num_components >= 3) {
        int h = p.JPGSubsampling == IJL_NONE ? 1 : 2;
        int v = p.JPGSubsampling == IJL_411 ? 2 : 1;
        c.comp_info[0].h_samp_factor = h;
        c.comp_info[0].v_samp_factor = v;
    }
    int quality = static_cast<int>(p.jquality < 1 ? 1 : p.jquality > 100 ? 100 : p.jquality);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(p.DIBWidth) * p.DIBChannels + p.DIBPadBytes;
    while (c.next_scanline < c.image_height) {
        std::size_t y = c.next_scanline;
        if (p.DIBHeight < 0) y = c.image_height - 1 - y;
        JSAMPROW row = p.DIBBytes + y * rowBytes;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
}

bool WritableLayout(const JPEG_CORE_PROPERTIES& p) {
    if (!p.DIBBytes || p.DIBWidth < 1 || p.DIBHeight == 0 || p.DIBWidth > 65500) return false;
    if (p.DIBHeight > 65500 || p.DIBHeight < -65500) return false;
    if (p.DIBChannels == 1) return p.JPGChannels == 1;
    return (p.DIBChannels == 3 || p.DIBChannels == 4) && (p.JPGChannels == 3 || p.JPGChannels == 1);
}

}  // namespace

IJLERR ijlInit(JPEG_CORE_PROPERTIES* p) {
    if (!p) return IJL_INVALID_ENCODER;
    *p = JPEG_CORE_PROPERTIES{};
    p->DIBChannels = 3;
    p->DIBColor = IJL_BGR;
    p->JPGChannels = 3;
    p->JPGColor = IJL_YCBCR;
    p->JPGSubsampling = IJL_411;
    p->jquality = 75;
    return IJL_OK;
}

IJLERR ijlFree(JPEG_CORE_PROPERTIES* p) {
    if (!p) return IJL_INVALID_ENCODER;
    delete p->jprops.state;
    p->jprops.state = nullptr;
    return IJL_OK;
}

IJLERR ijlRead(JPEG_CORE_PROPERTIES* p, IJLIOTYPE iotype) {
    if (!p) return IJL_INVALID_ENCODER;
    const bool params = iotype == IJL_JFILE_READPARAMS || iotype == IJL_JBUFF_READPARAMS;
    if (iotype == IJL_JBUFF_READPARAMS || iotype == IJL_JBUFF_READWHOLEIMAGE) {
        if (!p->JPGBytes) return IJL_INVALID_JPEG_PROPERTIES;
        if (p->JPGSizeBytes == 0) return IJL_ERR_DATA;
        if (!params && handpix::ReadProgressiveEighth(p->JPGBytes, p->JPGSizeBytes, *p)) return IJL_OK;
        return RunDecode(p, p->JPGBytes, p->JPGSizeBytes, -1, params);
    }
    if (iotype != IJL_JFILE_READPARAMS && iotype != IJL_JFILE_READWHOLEIMAGE) return IJL_INVALID_JPEG_PROPERTIES;
    if (!p->JPGFile) return IJL_INVALID_FILENAME;
    IjlState* s = State(p);
    if (!s) return IJL_MEMORY_ERROR;
    // The parameter read opens the file; the image read that follows reads the same file again from its start.
    if (params || s->fd < 0) {
        if (s->fd >= 0) ::close(s->fd);
        s->fd = handpix::OpenRegularFile(p->JPGFile);
        if (s->fd < 0) return IJL_FILE_ERROR;
        struct stat st;
        const bool readable = ::fstat(s->fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) <= kMaxFileBytes;
        if (!readable || st.st_size == 0) {
            ::close(s->fd);
            s->fd = -1;
            return readable ? IJL_ERR_DATA : IJL_FILE_ERROR;
        }
    } else if (::lseek(s->fd, 0, SEEK_SET) != 0) {
        return IJL_FILE_ERROR;
    }
    if (!params && handpix::ReadProgressiveEighth(s->fd, kMaxFileBytes, *p)) return IJL_OK;
    return RunDecode(p, nullptr, 0, s->fd, params);
}

IJLERR ijlWrite(JPEG_CORE_PROPERTIES* p, IJLIOTYPE iotype) {
    if (!p) return IJL_INVALID_ENCODER;
    if (iotype != IJL_JFILE_WRITEWHOLEIMAGE && iotype != IJL_JBUFF_WRITEWHOLEIMAGE) return IJL_INVALID_JPEG_PROPERTIES;
    if (!WritableLayout(*p)) return IJL_INVALID_JPEG_PROPERTIES;
    // The atomic write below refuses a read-only target, as opening it for writing would.
    if (iotype == IJL_JFILE_WRITEWHOLEIMAGE && !p->JPGFile) return IJL_INVALID_FILENAME;
    handpix::JpegErrorManager err;
    Encode e{};
    e.cinfo.err = handpix::InitJpegErrors(err, true);
    e.props = p;
    bool done = handpix::JpegGuarded(err, EncodeStep, &e);
    if (e.created) jpeg_destroy_compress(&e.cinfo);
    IJLERR result = IJL_OK;
    if (!done || !e.out) {
        result = IJL_ERR_DATA;
    } else if (iotype == IJL_JFILE_WRITEWHOLEIMAGE) {
        // Through a temporary name: a failed write leaves no half-written file.
        if (!handpix::WriteFileAtomically(p->JPGFile, e.out, e.outSize)) result = IJL_FILE_ERROR;
    } else if (!p->JPGBytes || p->JPGSizeBytes < e.outSize) {
        result = IJL_BUFFER_TOO_SMALL;
    } else {
        std::memcpy(p->JPGBytes, e.out, e.outSize);
        p->JPGSizeBytes = static_cast<DWORD>(e.outSize);
    }
    std::free(e.out);
    return result;
}
