#include "tests/support/JpegPeer.h"
#include "tests/support/PhotoLike.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cmath>
#include <cstdio>

#include <jpeglib.h>

namespace jpegtest {
namespace {

struct ErrorTrap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    int warnings = 0;
};

void OnError(j_common_ptr c) { std::longjmp(reinterpret_cast<ErrorTrap*>(c->err)->jump, 1); }
void OnMessage(j_common_ptr c, int level) {
    if (level < 0) ++reinterpret_cast<ErrorTrap*>(c->err)->warnings;
}

ErrorTrap* Trap(ErrorTrap& t) {
    jpeg_std_error(&t.mgr);
    t.mgr.error_exit = OnError;
    t.mgr.emit_message = OnMessage;
    return &t;
}

}  // namespace

namespace {

std::vector<std::uint8_t> EncodeWith(const Picture& p, const EncodeOptions& o, std::vector<jpeg_scan_info>& script,
                                     bool arithmetic) {
    jpeg_compress_struct c;
    ErrorTrap trap;
    c.err = &Trap(trap)->mgr;
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> cmykRow;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&c);
        std::free(mem);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = static_cast<JDIMENSION>(p.width);
    c.image_height = static_cast<JDIMENSION>(p.height);
    c.input_components = o.cmyk ? 4 : p.comps;
    c.in_color_space = o.cmyk ? JCS_CMYK : p.comps == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, o.quality, TRUE);
    c.comp_info[0].h_samp_factor = o.h0;
    c.comp_info[0].v_samp_factor = o.v0;
    for (int i = 1; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    c.restart_interval = static_cast<unsigned>(o.restartInterval);
    if (o.progressive) jpeg_simple_progression(&c);
    if (!script.empty()) {
        c.scan_info = script.data();
        c.num_scans = static_cast<int>(script.size());
    }
    c.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        auto* row = const_cast<JSAMPLE*>(p.px.data() + c.next_scanline * p.width * p.comps);
        if (o.cmyk) {
            cmykRow.assign(static_cast<std::size_t>(p.width) * 4, 0);
            for (int x = 0; x < p.width; ++x)
                for (int k = 0; k < 3; ++k) cmykRow[4 * x + k] = row[3 * x + k];
            row = cmykRow.data();
        }
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> out(mem, mem + size);
    std::free(mem);
    return out;
}

}  // namespace

std::vector<std::uint8_t> PeerEncode(const Picture& p, const EncodeOptions& o) { return PeerEncodeScans(p, o, {}); }

std::vector<std::uint8_t> PeerEncodeScans(const Picture& p, const EncodeOptions& o, const std::vector<ScanSpec>& scans,
                                          bool arithmetic) {
    std::vector<jpeg_scan_info> script(scans.size());
    for (std::size_t i = 0; i < scans.size(); ++i) {
        jpeg_scan_info& s = script[i];
        s.comps_in_scan = static_cast<int>(scans[i].comps.size());
        for (int k = 0; k < s.comps_in_scan; ++k) s.component_index[k] = scans[i].comps[k];
        s.Ss = scans[i].ss;
        s.Se = scans[i].se;
        s.Ah = scans[i].ah;
        s.Al = scans[i].al;
    }
    return EncodeWith(p, o, script, arithmetic);
}

namespace {
// Fancy upsampling off; at 1/denom, and as B, G, R when asked.
bool DecodeWith(const std::vector<std::uint8_t>& file, Picture& out, int* warnings, unsigned denom, bool bgr) {
    jpeg_decompress_struct d;
    ErrorTrap trap;
    d.err = &Trap(trap)->mgr;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = denom;
    d.do_fancy_upsampling = FALSE;
    if (bgr) d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    out.width = static_cast<int>(d.output_width);
    out.height = static_cast<int>(d.output_height);
    out.comps = d.output_components;
    out.px.assign(static_cast<std::size_t>(out.width) * out.height * out.comps, 0);
    while (d.output_scanline < d.output_height) {
        JSAMPLE* row = out.px.data() + static_cast<std::size_t>(d.output_scanline) * out.width * out.comps;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    if (warnings) *warnings = trap.warnings;
    return true;
}
}  // namespace

bool PeerDecode(const std::vector<std::uint8_t>& file, Picture& out, int* warnings) {
    return DecodeWith(file, out, warnings, 1, false);
}

bool PeerDecodeEighth(const std::vector<std::uint8_t>& file, Picture& out) {
    return DecodeWith(file, out, nullptr, 8, true);
}

bool PeerCoefficients(const std::vector<std::uint8_t>& file, Coefficients& out) {
    jpeg_decompress_struct d;
    ErrorTrap trap;
    d.err = &Trap(trap)->mgr;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d);
    out.width = static_cast<int>(d.image_width);
    out.height = static_cast<int>(d.image_height);
    out.maxH = d.max_h_samp_factor;
    out.maxV = d.max_v_samp_factor;
    out.comps.assign(static_cast<std::size_t>(d.num_components), {});
    for (int c = 0; c < d.num_components; ++c) {
        const jpeg_component_info& ci = d.comp_info[c];
        Coefficients::Component& oc = out.comps[c];
        oc.h = ci.h_samp_factor;
        oc.v = ci.v_samp_factor;
        // Whole MCUs, as an interleaved scan codes them.
        oc.blocksWide = static_cast<int>((d.image_width + 8 * out.maxH - 1) / (8 * out.maxH)) * oc.h;
        oc.blocksHigh = static_cast<int>((d.image_height + 8 * out.maxV - 1) / (8 * out.maxV)) * oc.v;
        for (int i = 0; i < 64; ++i) oc.quant[i] = ci.quant_table->quantval[i];
        oc.coef.assign(static_cast<std::size_t>(oc.blocksWide) * oc.blocksHigh * 64, 0);
        // The peer keeps whole sampling groups of blocks; anything beyond stays 0.
        const auto roundUp = [](JDIMENSION n, int m) { return static_cast<int>((n + m - 1) / m * m); };
        const int high = std::min(oc.blocksHigh, roundUp(ci.height_in_blocks, oc.v));
        const int wide = std::min(oc.blocksWide, roundUp(ci.width_in_blocks, oc.h));
        for (int by = 0; by < high; ++by) {
            JBLOCKARRAY row = d.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&d), arrays[c],
                                                        static_cast<JDIMENSION>(by), 1, FALSE);
            for (int bx = 0; bx < wide; ++bx)
                for (int i = 0; i < 64; ++i)
                    oc.coef[(static_cast<std::size_t>(by) * oc.blocksWide + bx) * 64 + i] = row[0][bx][i];
        }
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

struct StandInDecode::State {
    jpeg_decompress_struct c;
    ErrorTrap trap;
    bool created = false;
};

StandInDecode::StandInDecode() : m_s(new State{}) {}
StandInDecode::~StandInDecode() {
    if (m_s->created) jpeg_destroy_decompress(&m_s->c);
}
const jpeg_decompress_struct& StandInDecode::Info() const { return m_s->c; }
std::size_t StandInDecode::RowBytes() const {
    return (static_cast<std::size_t>(m_s->c.output_width) * 3 + 3) & ~std::size_t{3};
}

bool StandInDecode::Open(const std::uint8_t* file, std::size_t size, unsigned denom) {
    jpeg_decompress_struct& c = m_s->c;
    c.err = &Trap(m_s->trap)->mgr;
    if (setjmp(m_s->trap.jump)) return false;
    jpeg_create_decompress(&c);
    m_s->created = true;
    jpeg_mem_src(&c, file, static_cast<unsigned long>(size));
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGR;
    if (denom > 1) {
        c.scale_num = 1;
        c.scale_denom = denom;
        c.do_fancy_upsampling = FALSE;
    }
    jpeg_calc_output_dimensions(&c);
    return true;
}

bool StandInDecode::Decode(std::vector<std::uint8_t>& dib) {
    jpeg_decompress_struct& c = m_s->c;
    dib.assign(RowBytes() * c.output_height, 0);
    if (setjmp(m_s->trap.jump)) return false;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = dib.data() + c.output_scanline * RowBytes();
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    return true;
}

Picture PhotoLike(int width, int height, unsigned seed) {
    return Picture{width, height, 3, handpix::test::PhotoLike(width, height, seed)};
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0.0;
    double se = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) se += (a[i] - b[i]) * (a[i] - b[i]);
    if (se == 0.0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / se);
}

}  // namespace jpegtest
