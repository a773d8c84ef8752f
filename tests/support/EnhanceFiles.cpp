#include "tests/support/EnhanceFiles.h"

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

namespace enhance_test {
namespace {
void Put16(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
struct Jump {
    jpeg_error_mgr pub;
    std::jmp_buf buf;
};
[[noreturn]] void Fail(j_common_ptr c) { std::longjmp(reinterpret_cast<Jump*>(c->err)->buf, 1); }
void Quiet(j_common_ptr) {}
}  // namespace

TempDir::TempDir(const char* name) {
    path = (std::filesystem::temp_directory_path() / (std::string("handpix_") + name + "_" + std::to_string(getpid())))
               .string();
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}
TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::vector<std::uint8_t> BmpBytes(const Bmp& b) {
    std::vector<std::uint8_t> v;
    const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(b.palette.size());
    v.push_back('B');
    v.push_back('M');
    Put32(v, offset + static_cast<std::uint32_t>(b.rows.size()));
    Put32(v, 0);
    Put32(v, offset);
    Put32(v, 40);
    Put32(v, static_cast<std::uint32_t>(b.width));
    Put32(v, static_cast<std::uint32_t>(b.height));
    Put16(v, 1);
    Put16(v, static_cast<unsigned>(b.bits));
    Put32(v, b.compression);
    Put32(v, static_cast<std::uint32_t>(b.rows.size()));
    Put32(v, 2835);
    Put32(v, 2835);
    Put32(v, b.clrUsed);
    Put32(v, 0);
    v.insert(v.end(), b.palette.begin(), b.palette.end());
    v.insert(v.end(), b.rows.begin(), b.rows.end());
    return v;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::vector<std::uint8_t> JpegBytes(int width, int height, int components, const std::vector<std::uint8_t>& pixels,
                                    int quality, bool progressive) {
    jpeg_compress_struct c{};
    Jump err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = Fail;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(err.buf)) {
        jpeg_destroy_compress(&c);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    if (components == 4) c.write_Adobe_marker = FALSE;  // no transform flag: the samples are taken as they are
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + static_cast<size_t>(c.next_scanline) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> v(out, out + size);
    std::free(out);
    return v;
}

bool DecodeJpeg(const std::vector<std::uint8_t>& file, DecodedJpeg& out) {
    jpeg_decompress_struct c{};
    Jump err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = Fail;
    err.pub.output_message = Quiet;
    if (setjmp(err.buf)) {
        jpeg_destroy_decompress(&c);
        return false;
    }
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&c, TRUE);
    out.width = static_cast<int>(c.image_width);
    out.height = static_cast<int>(c.image_height);
    out.components = c.num_components;
    out.hSamp0 = c.comp_info[0].h_samp_factor;
    out.vSamp0 = c.comp_info[0].v_samp_factor;
    out.progressive = c.progressive_mode;
    out.quant0.clear();
    if (c.quant_tbl_ptrs[0])
        out.quant0.assign(c.quant_tbl_ptrs[0]->quantval, c.quant_tbl_ptrs[0]->quantval + DCTSIZE2);
    jpeg_start_decompress(&c);
    const size_t row = static_cast<size_t>(c.output_width) * c.output_components;
    out.pixels.assign(row * c.output_height, 0);
    while (c.output_scanline < c.output_height) {
        JSAMPROW r = out.pixels.data() + row * c.output_scanline;
        jpeg_read_scanlines(&c, &r, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return true;
}

std::vector<std::uint16_t> LuminanceTable(int quality) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    std::vector<std::uint16_t> t(c.quant_tbl_ptrs[0]->quantval, c.quant_tbl_ptrs[0]->quantval + DCTSIZE2);
    jpeg_destroy_compress(&c);
    return t;
}

}  // namespace enhance_test
