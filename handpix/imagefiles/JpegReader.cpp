#include "handpix/imagefiles/JpegReader.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/ImageReader.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/String.h"

namespace handpix {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool showMessages;
};

void ErrorExit(j_common_ptr cinfo) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (err->showMessages) AfxMessageBox("JPEG 파일을 읽어들일 때 에러가 발생하였습니다.", MB_OK);
    std::longjmp(err->jump, 1);
}

// Warnings keep libjpeg's default (silent unless tracing); nothing is printed.
void SilentMessage(j_common_ptr) {}

// Where decoded rows go: packed top-down RGB (the readers' common result), or
// straight into a bottom-up BGR DIB, which spares the swap-pad-flip passes.
struct Target {
    bool dib = false;
    unsigned char* pixels = nullptr;
    std::size_t stride = 0;
};

void StoreRow(const Target& t, const JSAMPLE* src, int comps, bool adobe, unsigned width, unsigned y,
              unsigned height) {
    unsigned char* dst = t.pixels + t.stride * (t.dib ? height - 1 - y : y);
    const int r = t.dib ? 2 : 0, b = t.dib ? 0 : 2;
    for (unsigned x = 0; x < width; ++x, dst += 3) {
        if (comps == 3) {
            dst[r] = src[3 * x];
            dst[1] = src[3 * x + 1];
            dst[b] = src[3 * x + 2];
        } else if (comps == 1) {
            dst[0] = dst[1] = dst[2] = src[x];
        } else {
            // CMYK: Adobe files store the inks inverted.
            unsigned c = src[4 * x], m = src[4 * x + 1], yl = src[4 * x + 2], k = src[4 * x + 3];
            if (!adobe) { c = 255 - c; m = 255 - m; yl = 255 - yl; k = 255 - k; }
            dst[r] = static_cast<unsigned char>(c * k / 255);
            dst[1] = static_cast<unsigned char>(m * k / 255);
            dst[b] = static_cast<unsigned char>(yl * k / 255);
        }
    }
}

// Every block of every component costs at least one bit of Huffman-coded
// data (a DC code is never shorter), progressive files included, so a header
// claiming more blocks than 8 x the bytes left after it cannot be real and
// would only cost memory and time. Arithmetic coding can spend less than a bit
// on a flat block: only the picture limit bounds it.
bool DataCanFill(const jpeg_decompress_struct& cinfo, std::FILE* file) {
    if (cinfo.arith_code) return true;
    const long long unread = file ? StreamBytesLeft(file) : 0;
    if (unread < 0) return true;
    const unsigned long long bytes = static_cast<unsigned long long>(unread) + cinfo.src->bytes_in_buffer;
    unsigned long long blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i)
        blocks += static_cast<unsigned long long>(cinfo.comp_info[i].width_in_blocks) *
                  cinfo.comp_info[i].height_in_blocks;
    return blocks <= 8 * bytes;
}

// The one decode routine behind every JPEG entry. The caller has attached the
// source (`file` when it is a stdio stream, for the bytes it still holds).
// Returns the pixel buffer (new[]) or null; *stride receives its row size.
unsigned char* Decode(jpeg_decompress_struct& cinfo, ErrorManager& err, std::FILE* file, bool dib, int* width,
                      int* height, int* stride) {
    // Volatile: these change between setjmp and a possible longjmp.
    unsigned char* volatile pixels = nullptr;
    if (setjmp(err.jump)) {
        delete[] pixels;
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    jpeg_read_header(&cinfo, TRUE);
    // Checked before jpeg_start_decompress, which allocates a progressive
    // file's whole coefficient buffer.
    if (!ReaderSizeAllowed(cinfo.image_width, cinfo.image_height)) {
        if (err.showMessages) AfxMessageBox(OverLimitText(cinfo.image_width, cinfo.image_height), MB_OK);
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    if (!DataCanFill(cinfo, file)) ERREXIT(&cinfo, JERR_INPUT_EOF);
    // Colour rows for a DIB: libjpeg-turbo writes blue-green-red itself, so
    // they are decoded straight into place. Chosen before decompression
    // starts, when libjpeg picks its colour converter.
    const bool direct = cinfo.out_color_space == JCS_RGB;
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)
        cinfo.out_color_space = JCS_CMYK;
    else if (direct && dib)
        cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const unsigned w = cinfo.output_width, h = cinfo.output_height;
    const int comps = cinfo.output_components;
    Target t;
    t.dib = dib;
    t.stride = dib ? DibStride(w) : static_cast<std::size_t>(w) * 3;
    pixels = new (std::nothrow) unsigned char[t.stride * h + 1];
    if (!pixels) {
        if (err.showMessages) AfxMessageBox("메모리가 부족하여 작업을 수행할 수 없습니다.", MB_ICONERROR);
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    t.pixels = pixels;
    if (dib && t.stride > w * 3u)
        for (unsigned y = 0; y < h; ++y) std::memset(pixels + t.stride * y + w * 3u, 0, t.stride - w * 3u);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    if (stride) *stride = static_cast<int>(t.stride);
    JSAMPARRAY line = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                 w * static_cast<unsigned>(comps), 1);
    while (cinfo.output_scanline < h) {
        unsigned y = cinfo.output_scanline;
        if (direct) {
            JSAMPROW row = pixels + t.stride * (dib ? h - 1 - y : y);
            jpeg_read_scanlines(&cinfo, &row, 1);
        } else {
            jpeg_read_scanlines(&cinfo, line, 1);
            StoreRow(t, line[0], comps, cinfo.saw_Adobe_marker, w, y, h);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

unsigned char* DecodeFile(const char* path, bool dib, int* width, int* height, int* stride) {
    *width = 0;
    *height = 0;
    FILE* f = OpenRegularFileStream(path);
    if (!f) {
        CString msg;
        msg.Format("%s 파일을 열 수 없습니다.\n", path);
        AfxMessageBox(msg, MB_OK);
        return nullptr;
    }
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.showMessages = true;
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    unsigned char* out = Decode(cinfo, err, f, dib, width, height, stride);
    std::fclose(f);
    return out;
}

}  // namespace

unsigned char* ReadJpegFile(const char* path, int* width, int* height) {
    return DecodeFile(path, false, width, height, nullptr);
}

unsigned char* ReadJpegFileAsDib(const char* path, int* width, int* height, int* stride) {
    return DecodeFile(path, true, width, height, stride);
}

unsigned char* ReadJpegMemory(const unsigned char* data, std::size_t size, int* width, int* height) {
    *width = 0;
    *height = 0;
    if (!data || size == 0) return nullptr;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = SilentMessage;
    err.showMessages = false;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    return Decode(cinfo, err, nullptr, false, width, height, nullptr);
}

}  // namespace handpix
