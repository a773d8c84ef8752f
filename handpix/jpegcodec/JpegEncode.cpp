// The encoding half of CJpeg: fixed tables, 1x1 sampling, no APP0.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/jpegcodec/JpegKernels.h"
#include "handpix/jpegcodec/JpegTables.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Zigzag.h"

using handpix::Status;
namespace jpeg = handpix::jpeg;

namespace {

// Worst case of one data unit: a 16-bit DC code with 11 extra bits, 63 AC
// codes of 16 + 10 bits, every byte stuffed. Checked once per data unit.
constexpr std::size_t kMaxUnitBytes = 2 * (27 + 63 * 26) / 8 + 16;

std::int16_t* NewPlane(std::size_t n) { return new (std::nothrow) std::int16_t[n ? n : 1]; }

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
    m_pYPlane = m_pRGB ? NewPlane(n) : nullptr;
    m_pCbPlane = m_pYPlane ? NewPlane(n) : nullptr;
    m_pCrPlane = m_pCbPlane ? NewPlane(n) : nullptr;
    if (!m_pCrPlane) Fail(Status::internal);
    if (!Failed()) {
        jpeg::AdviseLargePages(m_pRGB, m_nRGBSize);
        for (std::int16_t* plane : {m_pYPlane, m_pCbPlane, m_pCrPlane}) jpeg::AdviseLargePages(plane, n * sizeof *plane);
    }

    if (!Failed()) {
        // Each buffer is written once: the real area from the input, the
        // padding (columns past the width, rows past the height) with zeros.
        const std::size_t inStride = 4 * ((3 * static_cast<std::size_t>(width) + 3) / 4);
        const std::size_t w = static_cast<std::size_t>(width);
        for (std::size_t y = 0; y < H; ++y) {
            std::uint8_t* row = m_pRGB + y * 3 * W;
            std::int16_t* py = m_pYPlane + y * W;
            std::int16_t* pb = m_pCbPlane + y * W;
            std::int16_t* pr = m_pCrPlane + y * W;
            std::size_t x = 0;
            if (y < static_cast<std::size_t>(height)) {
                const std::uint8_t* in = pixels + y * inStride;
                jpeg::BgrToYccPlanes(in, row, py, pb, pr, width);
                std::memcpy(row + 3 * w, in + 3 * w, inStride - 3 * w);
                std::memset(row + inStride, 0, 3 * W - inStride);
                x = w;
            } else {
                std::memset(row, 0, 3 * W);
            }
            std::fill(py + x, py + W, 0);
            std::fill(pb + x, pb + W, 0);
            std::fill(pr + x, pr + W, 0);
        }
        for (std::size_t by = 0; by < H; by += 8)
            for (std::size_t bx = 0; bx < W; bx += 8) {
                const std::size_t at = by * W + bx;
                DCT(m_pYPlane + at, static_cast<int>(W), 0);
                DCT(m_pCbPlane + at, static_cast<int>(W), 1);
                DCT(m_pCrPlane + at, static_cast<int>(W), 1);
            }
        // DC differences, one predictor chain per plane in raster order.
        for (std::int16_t* plane : {m_pYPlane, m_pCbPlane, m_pCrPlane}) {
            std::int16_t prev = 0;
            for (std::size_t by = 0; by < H; by += 8)
                for (std::size_t bx = 0; bx < W; bx += 8) {
                    std::int16_t& dc = plane[by * W + bx];
                    const std::int16_t v = dc;
                    dc = static_cast<std::int16_t>(v - prev);
                    prev = v;
                }
        }
        for (int slot : {16, 17}) {
            HuffTable& t = m_HT[slot];
            t.pValueIndex = new (std::nothrow) std::int32_t[251];
            if (!t.pValueIndex) {
                Fail(Status::internal);
                break;
            }
            std::fill_n(t.pValueIndex, 251, -9999);
            for (std::uint32_t i = 0; i < t.nCount; ++i)
                if (t.pValue[i] <= 250) t.pValueIndex[t.pValue[i]] = static_cast<std::int32_t>(i);
        }
    }
    if (!Failed()) {
        delete[] m_pBuf;
        m_nBufSize = n * 3;
        m_pBuf = new (std::nothrow) std::uint8_t[m_nBufSize];
        if (!m_pBuf) m_nBufSize = 0;
        jpeg::AdviseLargePages(m_pBuf, m_nBufSize);
        m_nPos = 0;
        m_nBitCount = 0;
        m_qwBits = 0;
        hEncode(static_cast<int>(W), static_cast<int>(H));
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

unsigned char CJpeg::GetCategory(short v) {
    return static_cast<unsigned char>(std::bit_width(static_cast<unsigned>(std::abs(static_cast<int>(v)))));
}

void CJpeg::hEncode(int width, int height) {
    for (int slot : {0, 1, 16, 17})
        if (!m_HT[slot].bUsed || (slot >= 16 && !m_HT[slot].pValueIndex)) return Fail(Status::internal);
    if (!m_pYPlane || !m_pCbPlane || !m_pCrPlane) return Fail(Status::internal);
    const int bw = (width + 7) / 8, bh = (height + 7) / 8;
    for (int by = 0; by < bh && !Failed(); ++by)
        for (int bx = 0; bx < bw; ++bx) {
            const std::size_t at = static_cast<std::size_t>(by) * 8 * width + static_cast<std::size_t>(bx) * 8;
            EncodeDU(m_pYPlane + at, 0, width);
            EncodeDU(m_pCbPlane + at, 1, width);
            EncodeDU(m_pCrPlane + at, 1, width);
        }
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

void CJpeg::EncodeDU(short* block, int chroma, int stride) {
    if (Failed() || !GrowOutput(kMaxUnitBytes)) return;
    std::int16_t c[64];
    for (int row = 0; row < 8; ++row) std::memcpy(c + 8 * row, block + row * stride, 8 * sizeof(short));
    const HuffTable& dc = m_HT[chroma ? 1 : 0];
    const HuffTable& ac = m_HT[chroma ? 17 : 16];
    const int diff = c[0];
    const unsigned s0 = GetCategory(static_cast<short>(diff));
    if (s0 >= dc.nCount) return Fail(Status::internal);
    PutBits(dc.pCode[s0], dc.pSize[s0]);
    PutBits(static_cast<std::uint32_t>(diff < 0 ? diff - 1 : diff), static_cast<int>(s0));
    auto putSymbol = [&](int symbol) {
        const std::int32_t i = symbol <= 250 ? ac.pValueIndex[symbol] : -9999;
        if (i < 0) return Fail(Status::internal);
        PutBits(ac.pCode[i], ac.pSize[i]);
    };
    // Walk the nonzero coefficients through a bit mask; the zeros between
    // them are the run.
    std::uint64_t nonzero = 0;
    for (int k = 1; k < 64; ++k) nonzero |= static_cast<std::uint64_t>(c[k] != 0) << k;
    int last = 0;
    while (nonzero) {
        const int k = std::countr_zero(nonzero);
        nonzero &= nonzero - 1;
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16) putSymbol(0xF0);
        const int a = c[k];
        const unsigned s = GetCategory(static_cast<short>(a));
        putSymbol(run * 16 + static_cast<int>(s));
        PutBits(static_cast<std::uint32_t>(a < 0 ? a - 1 : a), static_cast<int>(s));
    }
    if (last != 63) putSymbol(0x00);
}

void CJpeg::ChargeCode(unsigned short code, int length) {
    if (length <= 0 || length > 16 || Failed() || !GrowOutput(8)) return;
    PutBits(code, length);
}

void CJpeg::ShotBit(unsigned char bit) { ChargeCode(bit & 1, 1); }
