#include "tools/Png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include "handpix/platform/core/File.h"

namespace handpix::tool {
namespace {

bool HasAlpha(PixelOrder o) { return o == PixelOrder::RGBA; }
int SourceBytes(PixelOrder o) { return (o == PixelOrder::BGR || o == PixelOrder::RGB) ? 3 : 4; }

// One output row in PNG order (RGB or RGBA).
void ConvertRow(const PngImage& im, int y, std::uint8_t* out) {
    const std::uint8_t* src = im.data + im.stride * y;
    const int n = SourceBytes(im.order);
    for (int x = 0; x < im.width; ++x, src += n) {
        switch (im.order) {
            case PixelOrder::BGRX:
            case PixelOrder::BGR:
                *out++ = src[2];
                *out++ = src[1];
                *out++ = src[0];
                break;
            case PixelOrder::RGB:
                *out++ = src[0];
                *out++ = src[1];
                *out++ = src[2];
                break;
            case PixelOrder::RGBA:
                *out++ = src[0];
                *out++ = src[1];
                *out++ = src[2];
                *out++ = src[3];
                break;
        }
    }
}

struct WriteContext {
    std::vector<std::uint8_t>* sink;
};

void WriteToVector(png_structp png, png_bytep data, png_size_t n) {
    auto* ctx = static_cast<WriteContext*>(png_get_io_ptr(png));
    ctx->sink->insert(ctx->sink->end(), data, data + n);
}
void FlushNothing(png_structp) {}

// Encodes a whole PNG file into `out`. libpng reports errors by longjmp: kept inside this function.
bool Encode(const PngImage& im, std::vector<std::uint8_t>& out, std::string* error) {
    if (!im.data || im.width <= 0 || im.height <= 0) {
        if (error) *error = "empty picture";
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        if (error) *error = "out of memory";
        return false;
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(im.width) * 4);
    WriteContext ctx{&out};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        if (error) *error = "PNG encoding failed";
        return false;
    }
    png_set_write_fn(png, &ctx, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(im.width), static_cast<png_uint_32>(im.height), 8,
                 HasAlpha(im.order) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (int y = 0; y < im.height; ++y) {
        ConvertRow(im, y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const std::string& path, const PngImage& image, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!Encode(image, bytes, error)) return false;
    if (WriteFileAtomically(path.c_str(), bytes.data(), bytes.size())) return true;
    if (error) *error = "cannot write " + path;
    return false;
}

bool CompressPngRows(const PngImage& image, std::vector<std::uint8_t>& idat, std::string* error) {
    std::vector<std::uint8_t> file;
    if (!Encode(image, file, error)) return false;
    // Gather the payloads of the IDAT chunks of the file libpng wrote.
    idat.clear();
    std::size_t pos = 8;
    while (pos + 12 <= file.size()) {
        std::size_t len = (static_cast<std::size_t>(file[pos]) << 24) | (file[pos + 1] << 16) |
                          (file[pos + 2] << 8) | file[pos + 3];
        if (pos + 12 + len > file.size()) break;
        if (std::equal(file.begin() + pos + 4, file.begin() + pos + 8, "IDAT"))
            idat.insert(idat.end(), file.begin() + pos + 8, file.begin() + pos + 8 + len);
        pos += 12 + len;
    }
    return !idat.empty();
}

}  // namespace handpix::tool
