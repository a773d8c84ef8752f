// The encoding half of CJpeg: fixed tables, 1x1 sampling, no APP0.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/jpegcodec/JpegKernels.h"
#include "handpix/jpegcodec/JpegTables.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Zigzag.h"

using handpix::Status;
namespace jpeg = handpix::jpeg;

namespace {

// Worst case of one data unit: 64 codes of 16 bits with 16 extra bits and
// three 16-bit ZRLs before each, every byte stuffed, and the four bytes a
// word store may reach beyond. Checked once per data unit.
constexpr std::size_t kMaxUnitBytes = 2 * (64 * (32 + 48)) / 8 + 16;

}  // namespace

void CJpeg::WriteOut(int hFile, const void* data, std::size_t size) {
    if (Failed()) return;
    if (hFile == HFILE_ERROR || _lwrite(hFile, data, static_cast<UINT>(size)) != size) Fail(Status::truncated);
}

int CJpeg::SaveJPG(char* path, int width, int height, unsigned char* pixels) {
    // The frame header holds 16-bit sizes.
    if (!pixels || width <= 0 || height <= 0 || width > 65535 || height > 65535) return 0;
    m_nWidth = width;
    m_nHeight = height;
    const std::size_t W = (static_cast<std::size_t>(width) + 7) / 8 * 8;
    const std::size_t H = (static_cast<std::size_t>(height) + 7) / 8 * 8;
    for (int i = 0; i < 20; ++i) FreeHuffSlot(i);
    m_eStatus = Status::ok;

    // Written beside the target and renamed over it at the end: a failed
    // save leaves the old file as it was. The Put steps take a handle, so
    // they write to the temporary file's descriptor.
    handpix::AtomicFile file;
    std::FILE* stream = file.Open(path) ? file.Stream() : nullptr;
    if (!stream) return 0;
    const HFILE f = ::fileno(stream);
    PutSOI(f);
    PutDQT(f);
    PutDHT(f);
    PutSOF(f, width, height);
    PutSOS(f);

    // The working copy: converted samples on the padded grid.
    delete[] m_pRGB;
    m_nRGBSize = W * H * 3;
    m_pRGB = Failed() ? nullptr : new (std::nothrow) std::uint8_t[m_nRGBSize];
    const std::size_t n = W * H;
    if (!m_pRGB) Fail(Status::internal);
    if (!Failed()) jpeg::AdviseLargePages(m_pRGB, m_nRGBSize);

    if (!Failed() && BuildValueIndex()) {
        delete[] m_pBuf;
        m_nBufSize = n * 3;
        m_pBuf = new (std::nothrow) std::uint8_t[m_nBufSize];
        if (!m_pBuf) m_nBufSize = 0;
        jpeg::AdviseLargePages(m_pBuf, m_nBufSize);
        m_nPos = 0;
        m_nBitCount = 0;
        m_qwBits = 0;
        EncodeStripes(width, height, pixels);
        // The last byte is completed with 0 bits.
        while (!Failed() && m_nBitCount != 0) ShotBit(0);
        WriteOut(f, m_pBuf, m_nPos);
    }
    delete[] m_pBuf;
    m_pBuf = nullptr;
    m_nBufSize = 0;
    PutEOI(f);
    for (int slot : {16, 17}) {
        delete[] m_HT[slot].pValueIndex;
        m_HT[slot].pValueIndex = nullptr;
    }
    delete[] m_pYPlane;
    delete[] m_pCbPlane;
    delete[] m_pCrPlane;
    m_pYPlane = m_pCbPlane = m_pCrPlane = nullptr;
    if (!Failed() && !file.Commit()) Fail(Status::truncated);
    return Failed() ? 0 : 1;
}

void CJpeg::PutSOI(int hFile) {
    const std::uint8_t m[2] = {0xFF, 0xD8};
    WriteOut(hFile, m, 2);
}

void CJpeg::PutEOI(int hFile) {
    const std::uint8_t m[2] = {0xFF, 0xD9};
    WriteOut(hFile, m, 2);
}

void CJpeg::PutDQT(int hFile) {
    std::uint8_t seg[2 * 69];
    for (int t = 0; t < 2; ++t) {
        std::uint8_t* s = seg + 69 * t;
        s[0] = 0xFF;
        s[1] = 0xDB;
        s[2] = 0;
        s[3] = 67;
        s[4] = static_cast<std::uint8_t>(t);
        std::memcpy(s + 5, t ? jpeg::kChromaQuant : jpeg::kLumaQuant, 64);
    }
    WriteOut(hFile, seg, sizeof seg);
}

void CJpeg::PutDHT(int hFile) {
    // The segment is parsed back by the decoder's own DHT reader, so encoder
    // and decoder share one table builder; the FF after it ends the parse.
    constexpr std::size_t kSegment = 4 + sizeof jpeg::kStandardHuffman;
    delete[] m_pBuf;
    m_pBuf = new (std::nothrow) std::uint8_t[kSegment + 1];
    if (!m_pBuf) {
        m_nBufSize = 0;
        return Fail(Status::internal);
    }
    m_nBufSize = kSegment + 1;
    m_pBuf[0] = 0xFF;
    m_pBuf[1] = 0xC4;
    m_pBuf[2] = static_cast<std::uint8_t>((kSegment - 2) >> 8);
    m_pBuf[3] = static_cast<std::uint8_t>(kSegment - 2);
    std::memcpy(m_pBuf + 4, jpeg::kStandardHuffman, sizeof jpeg::kStandardHuffman);
    m_pBuf[kSegment] = 0xFF;
    m_nPos = 0;
    FindDHT();
    WriteOut(hFile, m_pBuf, kSegment);
    delete[] m_pBuf;
    m_pBuf = nullptr;
    m_nBufSize = 0;
}

void CJpeg::PutSOF(int hFile, int width, int height) {
    const std::uint8_t seg[19] = {0xFF, 0xC0, 0, 17, 8,
                                  static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                                  static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width),
                                  3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    WriteOut(hFile, seg, sizeof seg);
}

void CJpeg::PutSOS(int hFile) {
    const std::uint8_t seg[14] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    WriteOut(hFile, seg, sizeof seg);
}

void CJpeg::DCT(short* block, int stride, int chroma) {
    jpeg::ForwardDctQuantize(block, stride, chroma ? jpeg::ChromaPlan() : jpeg::LumaPlan(), m_Block);
    for (int row = 0; row < 8; ++row) std::memcpy(block + row * stride, m_Block + 8 * row, 8 * sizeof(short));
}

void CJpeg::Zigzag2(void) {
    std::int16_t nat[64];
    std::copy_n(m_Block, 64, nat);
    for (int k = 0; k < 64; ++k) m_Block[k] = nat[handpix::kZigzag[k]];
}


// pValueIndex of the two AC slots, for the symbol lookups of the entropy coder.
bool CJpeg::BuildValueIndex() {
    for (int slot : {16, 17}) {
        HuffTable& t = m_HT[slot];
        delete[] t.pValueIndex;
        t.pValueIndex = new (std::nothrow) std::int32_t[251];
        if (!t.pValueIndex) {
            Fail(Status::internal);
            return false;
        }
        std::fill_n(t.pValueIndex, 251, -9999);
        for (std::uint32_t i = 0; i < t.nCount; ++i)
            if (t.pValue[i] <= 250) t.pValueIndex[t.pValue[i]] = static_cast<std::int32_t>(i);
    }
    return true;
}

// The code and length of every symbol of the four encoder slots, looked up
// once per encode instead of through pValueIndex per symbol: (length << 16)
// | code, or 0 for a symbol the table lacks.
struct CJpeg::SymbolCodes {
    std::uint32_t dc[2][16];
    std::uint32_t ac[2][256];
};

bool CJpeg::MakeSymbolCodes(SymbolCodes& codes) {
    for (int slot : {0, 1, 16, 17})
        if (!m_HT[slot].bUsed || (slot >= 16 && !m_HT[slot].pValueIndex)) {
            Fail(Status::internal);
            return false;
        }
    for (int t = 0; t < 2; ++t) {
        const HuffTable& dc = m_HT[t];
        const HuffTable& ac = m_HT[16 + t];
        // In the standard DC tables the symbol equals its index.
        for (std::uint32_t s = 0; s < 16; ++s)
            codes.dc[t][s] = s < dc.nCount ? static_cast<std::uint32_t>(dc.pSize[s]) << 16 | dc.pCode[s] : 0;
        for (int sym = 0; sym < 256; ++sym) {
            const std::int32_t i = sym <= 250 ? ac.pValueIndex[sym] : -9999;
            codes.ac[t][sym] = i >= 0 ? static_cast<std::uint32_t>(ac.pSize[i]) << 16 | ac.pCode[i] : 0;
        }
    }
    return true;
}

// The entropy writer's state in locals for the length of a run of data
// units. Up to 31 bits wait in `bits`; 32 go out at once, as four bytes in
// one store when none of them is FF, else byte by byte with stuffing.
struct CJpeg::BitSink {
    std::uint64_t bits;
    unsigned n;
    std::uint8_t* out;
    std::size_t pos;

    explicit BitSink(const CJpeg& j) : bits(j.m_qwBits), n(j.m_nBitCount), out(j.m_pBuf), pos(j.m_nPos) {}
    // Whole bytes go out; fewer than 8 bits stay behind, as ChargeCode keeps them.
    void StoreTo(CJpeg& j) {
        while (n >= 8) Byte(static_cast<std::uint8_t>(bits >> (n -= 8)));
        j.m_qwBits = bits;
        j.m_nBitCount = n;
        j.m_nPos = static_cast<std::uint32_t>(pos);
    }
    void Byte(std::uint8_t b) {
        out[pos++] = b;
        if (b == 0xFF) out[pos++] = 0;
    }
    // The low `length` (at most 32) bits of v, first bit most significant.
    void Put(std::uint32_t v, unsigned length) {
        bits = bits << length | v;
        n += length;
        if (n < 32) return;
        n -= 32;
        const auto w = static_cast<std::uint32_t>(bits >> n);
        if (((~w - 0x01010101u) & w & 0x80808080u) == 0) {
            const std::uint32_t be = __builtin_bswap32(w);
            std::memcpy(out + pos, &be, 4);
            pos += 4;
        } else {
            for (int sh = 24; sh >= 0; sh -= 8) Byte(static_cast<std::uint8_t>(w >> sh));
        }
    }
    // A symbol's code followed by `s` extra bits of v (two's complement
    // minus one for negative values, as T.81 F.1.2.1 has it).
    void PutCoded(std::uint32_t code, unsigned s, int v) {
        const std::uint32_t extra = static_cast<std::uint32_t>(v < 0 ? v - 1 : v) & ((1u << s) - 1);
        const unsigned length = code >> 16;
        if (length + s <= 32) return Put((code & 0xFFFF) << s | extra, length + s);
        Put(code & 0xFFFF, length);
        Put(extra, s);
    }
};

namespace {

// Bit k set when coefficient k of the block (k >= 1) is nonzero.
std::uint64_t NonzeroAc(const std::int16_t* c) {
#if defined(__SSE2__)
    std::uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= static_cast<std::uint64_t>(~_mm_movemask_epi8(zeros) & 0xFFFF) << (16 * i);
    }
    return mask & ~std::uint64_t{1};
#else
    std::uint64_t mask = 0;
    for (int k = 1; k < 64; ++k) mask |= static_cast<std::uint64_t>(c[k] != 0) << k;
    return mask;
#endif
}

unsigned Category(int v) { return static_cast<unsigned>(std::bit_width(static_cast<unsigned>(v < 0 ? -v : v))); }

}  // namespace

unsigned char CJpeg::GetCategory(short v) { return static_cast<unsigned char>(Category(v)); }

// One data unit, its 64 coefficients in zig-zag order with the DC
// difference first, and bit k of `nonzero` set where c[k] is nonzero (bit 0
// is ignored); t selects the luminance (0) or chrominance (1) codes.
bool CJpeg::EncodeBlock(const std::int16_t* c, std::uint64_t nonzero, const SymbolCodes& codes, int t,
                        BitSink& sink) {
    const unsigned s0 = Category(c[0]);
    if (s0 >= 16 || !codes.dc[t][s0]) return false;
    sink.PutCoded(codes.dc[t][s0], s0, c[0]);
    const std::uint32_t* ac = codes.ac[t];
    // Walk the nonzero coefficients through a bit mask; the zeros between
    // them are the run.
    int last = 0;
    for (nonzero &= ~std::uint64_t{1}; nonzero; nonzero &= nonzero - 1) {
        const int k = std::countr_zero(nonzero);
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16) {
            if (!ac[0xF0]) return false;
            sink.Put(ac[0xF0] & 0xFFFF, ac[0xF0] >> 16);
        }
        const unsigned s = Category(c[k]);
        const std::uint32_t code = s < 16 ? ac[run * 16 + static_cast<int>(s)] : 0;
        if (!code) return false;
        sink.PutCoded(code, s, c[k]);
    }
    if (last != 63) {
        if (!ac[0x00]) return false;
        sink.Put(ac[0x00] & 0xFFFF, ac[0x00] >> 16);
    }
    return true;
}

// Makes room for one more data unit, moving the sink to a grown buffer.
bool CJpeg::SinkRoom(BitSink& sink) {
    if (m_nBufSize - sink.pos >= kMaxUnitBytes) return true;
    m_nPos = static_cast<std::uint32_t>(sink.pos);
    if (!GrowOutput(kMaxUnitBytes)) return false;
    sink.out = m_pBuf;
    return true;
}

// Conversion, transform, DC differences and entropy coding of the whole
// picture, one stripe of 8 rows at a time: each stripe is converted,
// transformed and coded while it is in cache, and the picture-sized planes
// the plain steps would fill never exist. The stripe's planes hold samples
// as bytes (the transform takes 128 off). Each buffer is written once: the
// real area from the input, the padding (columns past the width, rows past
// the height) with zeros in m_pRGB and mid-grey samples in the planes.
void CJpeg::EncodeStripes(int width, int height, const std::uint8_t* pixels) {
    SymbolCodes codes;
    if (!MakeSymbolCodes(codes)) return;
    const std::size_t W = (static_cast<std::size_t>(width) + 7) / 8 * 8;
    const std::size_t H = (static_cast<std::size_t>(height) + 7) / 8 * 8;
    const std::size_t inStride = 4 * ((3 * static_cast<std::size_t>(width) + 3) / 4);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::unique_ptr<std::uint8_t[]> stripe(new (std::nothrow) std::uint8_t[3 * 8 * W]);
    if (!stripe) return Fail(Status::internal);
    std::uint8_t* planes[3] = {stripe.get(), stripe.get() + 8 * W, stripe.get() + 16 * W};
    const jpeg::QuantPlan* plans[3] = {&jpeg::LumaPlan(), &jpeg::ChromaPlan(), &jpeg::ChromaPlan()};
    std::int16_t prev[3] = {0, 0, 0};
    BitSink sink(*this);
    for (std::size_t y0 = 0; y0 < H; y0 += 8) {
        for (std::size_t y = y0; y < y0 + 8; ++y) {
            std::uint8_t* row = m_pRGB + y * 3 * W;
            std::uint8_t* p[3] = {planes[0] + (y - y0) * W, planes[1] + (y - y0) * W,
                                  planes[2] + (y - y0) * W};
            std::size_t x = 0;
            if (y < static_cast<std::size_t>(height)) {
                const std::uint8_t* in = pixels + y * inStride;
                jpeg::BgrToYccPlanes(in, row, p[0], p[1], p[2], width);
                std::memcpy(row + 3 * w, in + 3 * w, inStride - 3 * w);
                std::memset(row + inStride, 0, 3 * W - inStride);
                x = w;
            } else {
                std::memset(row, 0, 3 * W);
            }
            for (std::uint8_t* plane : p) std::memset(plane + x, 128, W - x);
        }
        for (std::size_t bx = 0; bx < W; bx += 8) {
            for (int k = 0; k < 3; ++k) {
                if (!SinkRoom(sink)) return;
                alignas(16) std::int16_t c[64];
                const std::uint64_t nonzero = jpeg::ForwardDctQuantizeSamples(
                    planes[k] + bx, static_cast<std::ptrdiff_t>(W), *plans[k], c);
                const std::int16_t dc = c[0];
                c[0] = static_cast<std::int16_t>(dc - prev[k]);
                prev[k] = dc;
                if (!EncodeBlock(c, nonzero, codes, k ? 1 : 0, sink)) {
                    sink.StoreTo(*this);
                    return Fail(Status::internal);
                }
            }
        }
    }
    sink.StoreTo(*this);
}

void CJpeg::hEncode(int width, int height) {
    if (!m_pYPlane || !m_pCbPlane || !m_pCrPlane) return Fail(Status::internal);
    SymbolCodes codes;
    if (!MakeSymbolCodes(codes)) return;
    const int bw = (width + 7) / 8, bh = (height + 7) / 8;
    BitSink sink(*this);
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            const std::size_t at = static_cast<std::size_t>(by) * 8 * width + static_cast<std::size_t>(bx) * 8;
            const std::int16_t* planes[3] = {m_pYPlane + at, m_pCbPlane + at, m_pCrPlane + at};
            for (int k = 0; k < 3; ++k) {
                if (!SinkRoom(sink)) return;
                alignas(16) std::int16_t c[64];
                for (int row = 0; row < 8; ++row) std::memcpy(c + 8 * row, planes[k] + row * width, 8 * sizeof(short));
                if (!EncodeBlock(c, NonzeroAc(c), codes, k ? 1 : 0, sink)) {
                    sink.StoreTo(*this);
                    return Fail(Status::internal);
                }
            }
        }
    sink.StoreTo(*this);
}

void CJpeg::EncodeDU(short* block, int chroma, int stride) {
    if (Failed() || !GrowOutput(kMaxUnitBytes)) return;
    SymbolCodes codes;
    if (!MakeSymbolCodes(codes)) return;
    alignas(16) std::int16_t c[64];
    for (int row = 0; row < 8; ++row) std::memcpy(c + 8 * row, block + row * stride, 8 * sizeof(short));
    BitSink sink(*this);
    const bool ok = EncodeBlock(c, NonzeroAc(c), codes, chroma ? 1 : 0, sink);
    sink.StoreTo(*this);
    if (!ok) Fail(Status::internal);
}

bool CJpeg::GrowOutput(std::size_t extra) {
    if (m_pBuf && m_nBufSize - m_nPos >= extra) return true;
    const std::size_t size = std::max<std::size_t>(m_nBufSize * 2, m_nPos + extra + 4096);
    auto* p = new (std::nothrow) std::uint8_t[size];
    if (!p) {
        Fail(Status::internal);
        return false;
    }
    if (m_pBuf) std::memcpy(p, m_pBuf, m_nPos);
    delete[] m_pBuf;
    m_pBuf = p;
    m_nBufSize = size;
    return true;
}

// Appends the low `length` bits of code, first bit most significant; every
// whole byte goes out at once, a data FF followed by a stuffed 00.
void CJpeg::PutBits(std::uint32_t code, int length) {
    m_qwBits = m_qwBits << length | (code & ((1u << length) - 1));
    m_nBitCount += static_cast<std::uint32_t>(length);
    while (m_nBitCount >= 8) {
        m_nBitCount -= 8;
        const auto b = static_cast<std::uint8_t>(m_qwBits >> m_nBitCount);
        m_pBuf[m_nPos++] = b;
        if (b == 0xFF) m_pBuf[m_nPos++] = 0;
    }
}

void CJpeg::ChargeCode(unsigned short code, int length) {
    if (length <= 0 || length > 16 || Failed() || !GrowOutput(8)) return;
    PutBits(code, length);
}

void CJpeg::ShotBit(unsigned char bit) { ChargeCode(bit & 1, 1); }
