// The decoding half of CJpeg: the marker walk, Huffman tables, the entropy
// decoder and the conversion to a bottom-up B-G-R picture.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/jpegcodec/JpegKernels.h"
#include "handpix/platform/core/BitReader.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Limits.h"
#include "handpix/platform/core/Zigzag.h"

using handpix::Status;

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t(1) << 30;
constexpr int kPassLimit = 51;
// Entropy data past the end of the file reads as zero bits, so that a scan
// cut a few bytes short still ends; beyond this many bytes the load fails.
constexpr std::size_t kZeroFillBytes = 64;
// Pictures of this size and more are written with stores that bypass the
// cache.
constexpr std::size_t kStreamBytes = std::size_t(16) << 20;

enum : int { kUnresolved = -2, kBadCode = -1 };

// Makes present, in one call, the pages of a fresh buffer that lie outside
// its whole 2 MB extents (those take large pages when first written, see
// AdviseLargePages): one fault per 4 KB page costs far more under a
// virtual machine, and a picture's first and last extents are rarely whole.
void PopulateSmallPages(void* p, std::size_t n) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t kPage = 4096, kLarge = std::uintptr_t(1) << 21;
    const auto begin = reinterpret_cast<std::uintptr_t>(p), end = begin + n;
    const std::uintptr_t head = begin & ~(kPage - 1), largeBegin = (begin + kLarge - 1) & ~(kLarge - 1),
                         largeEnd = end & ~(kLarge - 1);
    // Smaller buffers come from the heap, mostly present already.
    if (!p || n < (std::size_t(1) << 18)) return;
    if (largeBegin >= largeEnd) {
        madvise(reinterpret_cast<void*>(head), end - head, MADV_POPULATE_WRITE);
        return;
    }
    if (largeBegin > head) madvise(reinterpret_cast<void*>(head), largeBegin - head, MADV_POPULATE_WRITE);
    if (end > largeEnd) madvise(reinterpret_cast<void*>(largeEnd), end - largeEnd, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)n;
#endif
}

// T.81 Figure F.16 on a code of `nbits` bits (first bit most significant):
// the length at which it ends and its symbol as (length << 8) | symbol.
int ResolveCode(const HuffTable& t, unsigned bits, int nbits) {
    for (int L = 1; L <= nbits; ++L) {
        const unsigned code = bits >> (nbits - L);
        if (t.wMaxCode[L] == 0xFFFF || code > t.wMaxCode[L]) continue;
        const long index = static_cast<long>(t.nValPtr[L]) + static_cast<long>(code) - t.wMinCode[L];
        if (index < 0 || index >= static_cast<long>(t.nCount)) return kBadCode;
        return (L << 8) | t.pValue[index];
    }
    return kUnresolved;
}

inline int ExtendValue(unsigned v, unsigned t) {
    if (t == 0) return 0;
    return v < (1u << (t - 1)) ? static_cast<int>(v) - (1 << t) + 1 : static_cast<int>(v);
}

}  // namespace

void CJpeg::Fail(Status s) {
    if (m_eStatus == Status::ok) m_eStatus = s;
}

int CJpeg::LoadJPG(char* path) {
    // Read-only: a picture the user may not write is still a picture to show.
    const HFILE f = _lopen(path, OF_READ);
    if (f == HFILE_ERROR) return 0;
    DWORD high = 0;
    const DWORD size = GetFileSize(f, &high);
    std::uint8_t* data = nullptr;
    bool ok = size != 0xFFFFFFFFu && high == 0 && size <= kMaxFileBytes;
    if (ok) data = new (std::nothrow) std::uint8_t[size ? size : 1];
    if (data) {
        handpix::jpeg::AdviseLargePages(data, size);
        PopulateSmallPages(data, size);
    }
    ok = ok && data && _lread(f, data, size) == size;
    _lclose(f);
    if (!ok) {
        delete[] data;
        return 0;
    }
    delete[] m_pBuf;
    m_pBuf = data;
    m_nBufSize = size;
    return WalkMarkers(true);
}

int CJpeg::LoadJPGFromMemory(const unsigned char* data, std::size_t size) {
    if ((!data && size) || size > kMaxFileBytes) return 0;
    // The walk only reads the file and lets go of it before returning, so
    // the caller's bytes serve without a copy.
    static const std::uint8_t kNoBytes = 0;
    delete[] m_pBuf;
    m_pBuf = const_cast<std::uint8_t*>(size ? data : &kNoBytes);
    m_nBufSize = size;
    return WalkMarkers(false);
}

// ownsFile: m_pBuf was allocated by the caller with new[] and is freed here;
// otherwise it is only borrowed for the walk.
int CJpeg::WalkMarkers(bool ownsFile) {
    // A failed load keeps the previous picture, so keep its size with it.
    const std::int32_t oldW = m_nWidth, oldH = m_nHeight;
    const std::uint16_t oldFW = m_wFrameWidth, oldFH = m_wFrameHeight;
    m_eStatus = Status::ok;
    m_bScanDone = false;
    m_nPos = 0;
    FindSOI();
    for (int pass = 0; pass < kPassLimit && !Failed() && !m_bScanDone; ++pass) {
        FindETC();
        FindDHT();
        FindDQT();
        FindSOF();
        FindSOS();
    }
    if (ownsFile) delete[] m_pBuf;
    m_pBuf = nullptr;
    m_pScan = nullptr;
    m_nBufSize = 0;
    FreeSamples();
    if (!Failed() && m_bScanDone) return 1;
    m_nWidth = oldW;
    m_nHeight = oldH;
    m_wFrameWidth = oldFW;
    m_wFrameHeight = oldFH;
    return 0;
}

bool CJpeg::MarkerIs(std::uint8_t marker) const {
    return !Failed() && m_pBuf && m_nPos + 1 < m_nBufSize && m_pBuf[m_nPos] == 0xFF && m_pBuf[m_nPos + 1] == marker;
}

// The length field of the segment whose marker is at m_nPos; the whole
// segment must lie inside the file.
bool CJpeg::SegmentLength(std::uint32_t& length) {
    if (m_nPos + 4 > m_nBufSize) {
        Fail(Status::truncated);
        return false;
    }
    length = static_cast<std::uint32_t>(m_pBuf[m_nPos + 2] << 8 | m_pBuf[m_nPos + 3]);
    if (length < 2) {
        Fail(Status::invalid);
        return false;
    }
    if (m_nPos + 2 + length > m_nBufSize) {
        Fail(Status::truncated);
        return false;
    }
    return true;
}

void CJpeg::FindSOI(void) {
    for (; m_pBuf && m_nPos + 1 < m_nBufSize; ++m_nPos) {
        if (m_pBuf[m_nPos] == 0xFF && m_pBuf[m_nPos + 1] == 0xD8) {
            m_nPos += 2;
            m_pScan = m_pBuf + m_nPos;
            return;
        }
    }
    Fail(Status::invalid);
}

void CJpeg::FindETC(void) {
    if (Failed() || !m_pBuf) return;
    if (m_nPos + 1 < m_nBufSize && m_pBuf[m_nPos] == 0xFF && (m_pBuf[m_nPos + 1] >> 4) >= 0xE) {
        std::uint32_t length;
        if (!SegmentLength(length)) return;
        m_nPos += length + 2;
    }
    if (MarkerIs(0xDD)) {
        if (m_nPos + 6 > m_nBufSize) return Fail(Status::truncated);
        m_wRestartInterval = static_cast<std::uint16_t>(m_pBuf[m_nPos + 4] << 8 | m_pBuf[m_nPos + 5]);
        m_nPos += 6;
    }
}

void CJpeg::FindDQT(void) {
    std::uint32_t length;
    if (!MarkerIs(0xDB) || !SegmentLength(length)) return;
    const std::size_t end = m_nPos + 2 + length;
    // Several tables may share the segment; Pq is not read (8-bit entries).
    for (std::size_t p = m_nPos + 4; p < end && m_pBuf[p] != 0xFF; p += 65) {
        if (p + 65 > end) return Fail(Status::invalid);
        std::memcpy(m_QT[m_pBuf[p] & 0x0F], m_pBuf + p + 1, 64);
    }
    m_nPos = static_cast<std::uint32_t>(end);
}

void CJpeg::FindDHT(void) {
    std::uint32_t length;
    if (!MarkerIs(0xC4) || !SegmentLength(length)) return;
    const std::size_t end = m_nPos + 2 + length;
    std::size_t p = m_nPos + 4;
    while (p < end && m_pBuf[p] != 0xFF) {
        if (p + 17 > end) return Fail(Status::invalid);
        const int slot = m_pBuf[p];
        if (!(slot <= 3 || (slot >= 16 && slot <= 19))) return Fail(Status::invalid);
        int count = 0;
        for (int i = 1; i <= 16; ++i) count += m_pBuf[p + i];
        if (count > 256 || p + 17 + count > end) return Fail(Status::invalid);
        BuildHuffTable(slot, m_pBuf + p + 1, m_pBuf + p + 17, count);
        if (Failed()) return;
        p += 17 + static_cast<std::size_t>(count);
    }
    m_nPos = static_cast<std::uint32_t>(end);
}

void CJpeg::BuildHuffTable(int slot, const std::uint8_t* bits, const std::uint8_t* values, int count) {
    FreeHuffSlot(slot);
    HuffTable& t = m_HT[slot];
    const std::size_t n = static_cast<std::size_t>(count);
    t.pCode = new (std::nothrow) std::uint16_t[n ? n : 1];
    t.pSize = new (std::nothrow) std::uint8_t[n + 1];
    t.pValue = new (std::nothrow) std::uint8_t[n ? n : 1];
    if (!t.pCode || !t.pSize || !t.pValue) {
        FreeHuffSlot(slot);
        return Fail(Status::internal);
    }
    t.bUsed = 1;
    t.nCount = static_cast<std::uint32_t>(n);
    std::memcpy(t.pValue, values, n);
    // HUFFSIZE and HUFFCODE (T.81 Figures C.1 and C.2).
    std::size_t k = 0;
    for (int L = 1; L <= 16; ++L)
        for (int i = 0; i < bits[L - 1]; ++i) t.pSize[k++] = static_cast<std::uint8_t>(L);
    t.pSize[n] = 0;
    std::uint32_t code = 0;
    unsigned si = t.pSize[0];
    for (k = 0; k < n;) {
        t.pCode[k++] = static_cast<std::uint16_t>(code++);
        if (t.pSize[k] == si) continue;
        if (t.pSize[k] == 0) break;
        while (si != t.pSize[k]) {
            code <<= 1;
            ++si;
        }
    }
    // Decoder limits (T.81 Figure F.15).
    std::size_t j = 0;
    for (int L = 1; L <= 16; ++L) {
        t.nValPtr[L] = 0;
        t.wMinCode[L] = 0;
        if (bits[L - 1] == 0) {
            t.wMaxCode[L] = 0xFFFF;
            continue;
        }
        t.nValPtr[L] = static_cast<std::int32_t>(j);
        t.wMinCode[L] = t.pCode[j];
        j += bits[L - 1] - 1u;
        t.wMaxCode[L] = t.pCode[j];
        ++j;
    }
    constexpr int kFast = HuffTable::kFastBits;
    for (unsigned p = 0; p < (1u << kFast); ++p) {
        const int r = ResolveCode(t, p, kFast);
        t.wLookup[p] = r == kBadCode ? 0xFFFF : r == kUnresolved ? 0 : static_cast<std::uint16_t>(r);
        t.sFastAc[p] = 0;
        if (slot < 16 || r < 0) continue;
        const int L = r >> 8, run = (r >> 4) & 0x0F, s = r & 0x0F;
        if (s == 0 || s > 7 || L + s > kFast) continue;
        const int v = ExtendValue((p >> (kFast - L - s)) & ((1u << s) - 1), static_cast<unsigned>(s));
        t.sFastAc[p] = static_cast<std::int16_t>(v * 256 + run * 16 + L + s);
    }
}

void CJpeg::FindSOF(void) {
    std::uint32_t length;
    if (!MarkerIs(0xC0) || !SegmentLength(length)) return;
    const std::uint8_t* s = m_pBuf + m_nPos + 4;
    if (length < 8) return Fail(Status::invalid);
    m_wFrameHeight = static_cast<std::uint16_t>(s[1] << 8 | s[2]);
    m_wFrameWidth = static_cast<std::uint16_t>(s[3] << 8 | s[4]);
    m_byFrameComps = s[5];
    if (m_byFrameComps > 3) return Fail(Status::unsupported);
    if (length < 8u + 3u * m_byFrameComps) return Fail(Status::invalid);
    for (int i = 0; i < m_byFrameComps; ++i) {
        m_byCompID[i] = s[6 + 3 * i];
        m_byH[i] = s[7 + 3 * i] >> 4;
        m_byV[i] = s[7 + 3 * i] & 0x0F;
        m_byTq[i] = s[8 + 3 * i];
    }
    m_nPos += length + 2;
}

void CJpeg::FindSOS(void) {
    std::uint32_t length;
    if (!MarkerIs(0xDA) || !SegmentLength(length)) return;
    const std::uint8_t* s = m_pBuf + m_nPos + 4;
    if (length < 3) return Fail(Status::invalid);
    m_byScanComps = s[0];
    if (m_byScanComps > 3) return Fail(Status::unsupported);
    if (length < 6u + 2u * m_byScanComps) return Fail(Status::invalid);
    for (int i = 0; i < m_byScanComps; ++i) {
        m_byScanID[i] = s[1 + 2 * i];
        m_byTd[i] = s[2 + 2 * i] >> 4;
        m_byTa[i] = s[2 + 2 * i] & 0x0F;
    }
    const std::uint8_t* tail = s + 1 + 2 * m_byScanComps;
    m_bySs = tail[0];
    m_bySe = tail[1];
    m_byAh = tail[2] >> 4;
    m_byAl = tail[2] & 0x0F;
    m_nPos += length + 2;
    if (!CheckScan()) return;
    Decode();
}

// Everything the scan needs, checked before anything is allocated.
bool CJpeg::CheckScan() {
    const int ns = m_byScanComps, nf = m_byFrameComps;
    // One scan must carry every component: a first scan of a multi-scan
    // colour file alone would pass for a grey picture.
    if ((ns != 1 && ns != 3) || ns != nf) {
        Fail(Status::unsupported);
        return false;
    }
    m_byMaxH = m_byMaxV = 1;
    for (int c = 0; c < nf; ++c) {
        if (m_byH[c] < 1 || m_byH[c] > 4 || m_byV[c] < 1 || m_byV[c] > 4) {
            Fail(Status::unsupported);
            return false;
        }
        m_byMaxH = std::max(m_byMaxH, m_byH[c]);
        m_byMaxV = std::max(m_byMaxV, m_byV[c]);
    }
    std::size_t blocksPerMcu = 0;
    for (int c = 0; c < nf; ++c) {
        if (m_byMaxH % m_byH[c] || m_byMaxV % m_byV[c]) {
            Fail(Status::unsupported);
            return false;
        }
        if (c < ns) {
            blocksPerMcu += static_cast<std::size_t>(m_byH[c]) * m_byV[c];
            if (m_byTd[c] > 3 || m_byTa[c] > 3 || m_byTq[c] >= 20 || !m_HT[m_byTd[c]].bUsed ||
                !m_HT[m_byTa[c] + 16].bUsed) {
                Fail(Status::invalid);
                return false;
            }
        }
    }
    m_nWidth = m_wFrameWidth;
    m_nHeight = m_wFrameHeight;
    // The picture-size limit, before anything of the picture's size exists.
    if (!handpix::PictureSizeAllowed(m_nWidth, m_nHeight)) {
        Fail(Status::unsupported);
        return false;
    }
    const int mw = 8 * m_byMaxH, mh = 8 * m_byMaxV;
    m_nPadWidth = (m_nWidth + mw - 1) / mw * mw;
    m_nPadHeight = (m_nHeight + mh - 1) / mh * mh;
    m_wFrameWidth = static_cast<std::uint16_t>(m_nPadWidth);
    m_wFrameHeight = static_cast<std::uint16_t>(m_nPadHeight);
    // A frame larger than its data could describe is refused before allocation.
    const std::size_t mcus = static_cast<std::size_t>(m_nPadWidth / mw) * static_cast<std::size_t>(m_nPadHeight / mh);
    if (!handpix::JpegDataCanFill(mcus * blocksPerMcu, m_nBufSize - m_nPos)) {
        Fail(Status::truncated);
        return false;
    }
    return true;
}

void CJpeg::FreeSamples() {
    delete[] m_pSamples;
    delete[] m_pPending;
    m_pSamples = nullptr;
    m_pPending = nullptr;
    m_nSamplesSize = 0;
}

namespace {

// The rows and columns of a block that hold a written coefficient, as the
// inverse transform's masks. Bit n of `written` is coefficient n in natural
// order, so row r is byte r: a row is used when its byte is nonzero, a
// column when its bit is set in any byte.
struct UsedLines {
    unsigned rows, cols;
};
inline UsedLines LinesOf(std::uint64_t written) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kHigh = 0x8080808080808080ull;
    const std::uint64_t rowHigh = (written | ((written & kLow7) + kLow7)) & kHigh;
    std::uint64_t c = written | written >> 32;
    c |= c >> 16;
    c |= c >> 8;
    return {static_cast<unsigned>(((rowHigh >> 7) * 0x0102040810204080ull) >> 56), static_cast<unsigned>(c & 0xFF)};
}

// The scan decoder that Decode runs. Its reader keeps the unread bits at the
// top of a 64-bit word, so that the next code is one shift away; it fetches
// bytes exactly when and as many as BitCursor does, so the position checks
// between MCUs, restart markers and end-of-data fail as they always did.
constexpr int kLookBits = 10;

// Per Huffman table: for each value of the next kLookBits bits, the whole
// step when the code and its extra bits fit: bits used (bits 0-7), zig-zag
// advance run + 1 (bits 8-15; 0 ends the block), coefficient value (bits
// 16-31, signed). 0 sends the decoder to the general path.
struct LookTable {
    std::int32_t e[1 << kLookBits];
};

void BuildLookTable(const HuffTable& t, bool ac, LookTable& out) {
    for (unsigned p = 0; p < (1u << kLookBits); ++p) {
        out.e[p] = 0;
        const int r = ResolveCode(t, p, kLookBits);
        if (r < 0) continue;
        const int L = static_cast<int>(r >> 8), sym = static_cast<int>(r & 0xFF);
        const int run = ac ? sym >> 4 : 0, s = ac ? sym & 0x0F : sym;
        if (ac && s == 0) {
            // Any run but 15 with no bits ends the block; ZRL takes the general path.
            if (run != 15) out.e[p] = L;
            continue;
        }
        if (s > 16 || L + s > kLookBits) continue;
        const unsigned extra = (p >> (kLookBits - L - s)) & ((1u << s) - 1);
        const int v = ExtendValue(extra, static_cast<unsigned>(s));
        out.e[p] = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 16) | (ac ? (run + 1) << 8 : 0) | (L + s);
    }
}

struct TopBitReader {
    std::uint64_t bits;  // unread bits from the top, zeros below them
    unsigned n;
    std::size_t pos;
    const std::uint8_t* buf;
    std::size_t size;

    // BitCursor::Fill on this layout: (64 - n) / 8 bytes, FF drops its follower.
    [[gnu::always_inline]] void Fill() {
        if (pos + 8 <= size) {
            std::uint64_t w;
            if (handpix::LoadEightWithoutFF(buf + pos, w)) {
                const unsigned k = (64 - n) / 8;
                bits = k == 8 ? w : bits | (w & ~(~0ull >> (8 * k))) >> n;
                n += 8 * k;
                pos += k;
                return;
            }
        }
        *this = FillBytes(*this);
    }
    // Out of line and by value, so that the reader's fields stay in registers
    // in the decoding loop.
    [[gnu::noinline]] static TopBitReader FillBytes(TopBitReader r) {
        while (r.n <= 56) {
            std::uint8_t b = 0;
            if (r.pos < r.size) {
                b = r.buf[r.pos];
                if (b == 0xFF) ++r.pos;
            }
            ++r.pos;
            r.bits |= static_cast<std::uint64_t>(b) << (56 - r.n);
            r.n += 8;
        }
        return r;
    }
    void Skip(unsigned k) {
        bits <<= k;
        n -= k;
    }
    unsigned Take(unsigned k) {  // k <= 16 <= n
        if (k == 0) return 0;
        const auto v = static_cast<unsigned>(bits >> (64 - k));
        Skip(k);
        return v;
    }
    // A symbol by the general path (n >= 16), or -1 as Symbol gives it.
    int Symbol(const HuffTable& t) {
        const int r = CodeAt(t, static_cast<unsigned>(bits >> 48));
        if (r < 0) return -1;
        Skip(static_cast<unsigned>(r) >> 8);
        return r & 0xFF;
    }
    // (length << 8) | symbol of the code that starts the 16 bits, or -1.
    [[gnu::noinline]] static int CodeAt(const HuffTable& t, unsigned peek) {
        int r = t.wLookup[peek >> (16 - HuffTable::kFastBits)];
        if (r == 0) r = ResolveCode(t, peek, 16);
        return r < 0 || r == 0xFFFF ? -1 : r;
    }
    // The file position of the first byte not yet consumed: whole buffered
    // bytes are given back, a data FF counting two.
    std::size_t ConsumedPos() const {
        std::size_t p = pos;
        for (unsigned i = 0; i < n / 8; ++i) p -= ((bits >> (64 - n + 8 * i)) & 0xFF) == 0xFF ? 2 : 1;
        return p;
    }
};

struct ScanComponent {
    const LookTable* dc;
    const LookTable* ac;
    const HuffTable* dcTable;
    const HuffTable* acTable;
    const std::uint8_t* q;  // zig-zag order
    std::uint8_t* plane;
    std::ptrdiff_t stride;
    int H, V;
    handpix::jpeg::IdctToBytesFn idct;
};

// One data unit into coef (all zeros on entry and on return) and, when it
// decodes, its samples into dst. Returns false for a code that selects no
// symbol or a run past the end of the block.
[[gnu::always_inline]] inline bool DecodeUnit(TopBitReader& br, const ScanComponent& c, std::int16_t& pred,
                                              std::int16_t* coef, std::uint8_t* dst) {
    if (br.n <= 56) br.Fill();
    int diff;
    if (const std::int32_t e = c.dc->e[br.bits >> (64 - kLookBits)]) {
        br.Skip(static_cast<unsigned>(e) & 0xFF);
        diff = e >> 16;
    } else {
        const int t = br.Symbol(*c.dcTable);
        if (t < 0 || t > 16) return false;
        diff = ExtendValue(br.Take(static_cast<unsigned>(t)), static_cast<unsigned>(t));
    }
    pred = static_cast<std::int16_t>(diff + pred);
    coef[0] = static_cast<std::int16_t>(pred * c.q[0]);
    // Bit n set for each coefficient written (natural order).
    std::uint64_t written = 1;
    auto put = [&](int k, int v) {
        const int z = handpix::kZigzag[k];
        coef[z] = static_cast<std::int16_t>(v * c.q[k]);
        written |= std::uint64_t{1} << z;
    };
    // k is the next zig-zag index; a run may not pass 63, a ZRL may reach
    // 64 only if an end of block follows.
    for (int k = 1;;) {
        if (br.n < 32) br.Fill();
        if (const std::int32_t e = c.ac->e[br.bits >> (64 - kLookBits)]) {
            const int advance = (e >> 8) & 0xFF;
            k += advance;
            if (k > 64) return false;  // before the skip: a failed load leaves the code unread
            br.Skip(static_cast<unsigned>(e) & 0xFF);
            if (advance == 0) break;
            put(k - 1, e >> 16);
            if (k == 64) break;
            continue;
        }
        const int rs = br.Symbol(*c.acTable);
        if (rs < 0) return false;
        const int r = rs >> 4, s = rs & 0x0F;
        if (s) {
            k += r + 1;
            if (k > 64) return false;
            put(k - 1, ExtendValue(br.Take(static_cast<unsigned>(s)), static_cast<unsigned>(s)));
            if (k == 64) break;
        } else if (r == 15) {
            k += 16;
            if (k > 64) return false;
        } else {
            break;
        }
    }
    const auto [rows, cols] = LinesOf(written);
    c.idct(coef, rows, cols, dst, c.stride);
    for (unsigned m = rows; m; m &= m - 1) std::fill_n(coef + 8 * std::countr_zero(m), 8, std::int16_t{0});
    return true;
}

}  // namespace

// The scan's MCUs, converted one MCU row at a time.
void CJpeg::DecodeScan() {
    const int ns = m_byScanComps;
    const int mcusX = m_nPadWidth / 8 / m_byMaxH, mcusY = m_nPadHeight / 8 / m_byMaxV;
    // Slots 0-3 for DC tables, 4-7 for AC; 32 KB, too much for some stacks.
    const std::unique_ptr<LookTable[]> looks(new (std::nothrow) LookTable[8]);
    if (!looks) return Fail(Status::internal);
    bool built[8] = {};
    ScanComponent comps[3];
    for (int c = 0; c < ns; ++c) {
        const int dcSlot = m_byTd[c], acSlot = m_byTa[c] + 4;
        for (const int slot : {dcSlot, acSlot}) {
            if (!built[slot]) BuildLookTable(m_HT[slot < 4 ? slot : slot - 4 + 16], slot >= 4, looks[slot]);
            built[slot] = true;
        }
        comps[c] = {&looks[dcSlot], &looks[acSlot], &m_HT[dcSlot], &m_HT[acSlot - 4 + 16], m_QT[m_byTq[c]],
                    m_pSamples + m_nPlaneOffset[c], m_nPlaneStride[c], m_byH[c], m_byV[c],
                    handpix::jpeg::IdctToBytesKernel()};
    }
    TopBitReader br{0, 0, m_nPos, m_pBuf, m_nBufSize};
    std::int16_t pred[3] = {0, 0, 0};
    alignas(32) std::int16_t coef[64] = {};
    // The reader's state goes back to the members that the single-step
    // operations use, the unread bits at the bottom of m_qwBits. It goes in
    // by value: were its address taken, it would live in memory in the loop.
    auto store = [this, &pred, ns](TopBitReader r) {
        m_qwBits = r.n ? r.bits >> (64 - r.n) : 0;
        m_nBits = r.n;
        m_nScanPos = r.pos;
        for (int c = 0; c < ns; ++c) m_sDCPred[c] = pred[c];
    };
    unsigned count = 0;
    for (int my = 0; my < mcusY; ++my) {
        m_nMcuRow = my;
        for (int mx = 0; mx < mcusX; ++mx) {
            for (int c = 0; c < ns; ++c) {
                const ScanComponent& sc = comps[c];
                for (int by = 0; by < sc.V; ++by)
                    for (int bx = 0; bx < sc.H; ++bx)
                        if (!DecodeUnit(br, sc, pred[c], coef, sc.plane + by * 8 * sc.stride + (mx * sc.H + bx) * 8))
                            return Fail(Status::invalid), store(br);
            }
            if (br.pos > m_nBufSize + kZeroFillBytes) return Fail(Status::truncated), store(br);
            if (m_wRestartInterval && ++count == m_wRestartInterval) {
                count = 0;
                // A restart marker counts only where the bit-at-a-time reader
                // would stand: after the byte holding the last bit consumed.
                const std::size_t at = br.ConsumedPos();
                if (at + 1 < m_nBufSize && m_pBuf[at] == 0xFF && (m_pBuf[at + 1] >> 4) == 0xD) {
                    br.pos = at + 2;
                    br.bits = 0;
                    br.n = 0;
                    pred[0] = pred[1] = pred[2] = 0;
                }
            }
        }
        ConvertYUV2RGB();
    }
    store(br);
}

void CJpeg::Decode(void) {
    m_nBitCount = 0;
    m_qwBits = 0;
    m_nBits = 0;
    const int ns = m_byScanComps;
    const int mcusX = m_nPadWidth / 8 / m_byMaxH;
    std::size_t total = 0;
    for (int c = 0; c < ns; ++c) {
        m_nPlaneOffset[c] = total;
        m_nPlaneStride[c] = mcusX * 8 * m_byH[c];
        total += static_cast<std::size_t>(m_nPlaneStride[c]) * 8 * m_byV[c];
    }
    total += 3 * static_cast<std::size_t>(m_nPadWidth);  // scratch rows for replication
    FreeSamples();
    const std::size_t S = 4 * ((3 * static_cast<std::size_t>(m_nWidth) + 3) / 4);
    m_pSamples = new (std::nothrow) std::uint8_t[total];
    m_pPending = new (std::nothrow) std::uint8_t[S * m_nHeight];
    if (!m_pSamples || !m_pPending) {
        FreeSamples();
        return Fail(Status::internal);
    }
    handpix::jpeg::AdviseLargePages(m_pPending, S * m_nHeight);
    PopulateSmallPages(m_pPending, S * m_nHeight);
    m_nSamplesSize = total;
    for (int c = 0; c < ns; ++c) m_sDCPred[c] = 0;
    m_nScanPos = m_nPos;
    m_pScan = m_pBuf + m_nPos;
    DecodeScan();
    if (Failed()) return FreeSamples();
    m_nBitCount = m_nBits & 7;
    m_pScan = m_pBuf + std::min(m_nScanPos, m_nBufSize);
    delete[] m_pRGB;
    m_pRGB = m_pPending;
    m_pPending = nullptr;
    m_nRGBSize = S * m_nHeight;
    m_wFrameWidth = static_cast<std::uint16_t>(m_nWidth);
    m_wFrameHeight = static_cast<std::uint16_t>(m_nHeight);
    FreeSamples();
    m_bScanDone = true;
}

// The entropy reader's state, copied into locals for the length of a data
// unit. Keeps at least 57 bits buffered; each FF is a data byte whose
// follower (the stuffed 00, or whatever stands there) is dropped.
struct BitCursor {
    std::uint64_t bits;
    unsigned n;
    std::size_t pos;
    const std::uint8_t* buf;
    std::size_t size;

    explicit BitCursor(const CJpeg& j) : bits(j.m_qwBits), n(j.m_nBits), pos(j.m_nScanPos), buf(j.m_pBuf), size(j.m_nBufSize) {}
    void StoreTo(CJpeg& j) const {
        j.m_qwBits = bits;
        j.m_nBits = n;
        j.m_nScanPos = pos;
    }
    void Fill() {
        // Whole bytes at once while the next eight hold no FF (the usual
        // case); a byte at a time otherwise and near the end.
        if (n <= 56 && pos + 8 <= size) {
            std::uint64_t w;
            if (handpix::LoadEightWithoutFF(buf + pos, w)) {
                const unsigned k = (64 - n) / 8;
                bits = k == 8 ? w : bits << (8 * k) | w >> (64 - 8 * k);
                n += 8 * k;
                pos += k;
                return;
            }
        }
        while (n <= 56) {
            std::uint8_t b = 0;
            if (pos < size) {
                b = buf[pos];
                if (b == 0xFF) ++pos;
            }
            ++pos;
            bits = bits << 8 | b;
            n += 8;
        }
    }
    unsigned Take(unsigned k) {
        if (k == 0) return 0;
        if (n < k) Fill();
        n -= k;
        return static_cast<unsigned>(bits >> n) & ((1u << k) - 1);
    }
    // A symbol, or -1 for a code that selects none or does not end in 16 bits.
    int Symbol(const HuffTable& t) {
        if (n < 16) Fill();
        const unsigned peek = static_cast<unsigned>(bits >> (n - 16)) & 0xFFFF;
        int r = t.wLookup[peek >> (16 - HuffTable::kFastBits)];
        if (r == 0) r = ResolveCode(t, peek, 16);
        if (r < 0 || r == 0xFFFF) return -1;
        n -= static_cast<unsigned>(r) >> 8;
        return r & 0xFF;
    }
};

void CJpeg::FillBits() {
    BitCursor c(*this);
    c.Fill();
    c.StoreTo(*this);
}

unsigned CJpeg::ReceiveBits(unsigned n) {
    BitCursor c(*this);
    const unsigned v = c.Take(n);
    c.StoreTo(*this);
    return v;
}

int CJpeg::DecodeSymbol(const HuffTable& t) {
    BitCursor c(*this);
    const int r = c.Symbol(t);
    c.StoreTo(*this);
    if (r < 0) Fail(Status::invalid);
    return r;
}

// The AC coefficients of one data unit: put(k, value) receives each nonzero
// one with its zig-zag index. A run may not pass index 63; a ZRL may reach
// 64 only if an EOB follows.
template <typename Cursor, typename Put>
bool CJpeg::DecodeAcInto(Cursor& bits, const HuffTable& ac, Put put) {
    for (int k = 1;;) {
        if (bits.n < 32) bits.Fill();
        constexpr int kFast = HuffTable::kFastBits;
        if (const int fast = ac.sFastAc[static_cast<unsigned>(bits.bits >> (bits.n - kFast)) & ((1u << kFast) - 1)]) {
            k += (fast >> 4) & 0x0F;
            if (k > 63) break;
            put(k, fast >> 8);
            bits.n -= static_cast<unsigned>(fast & 0x0F);
            if (k == 63) return true;
            ++k;
            continue;
        }
        const int rs = bits.Symbol(ac);
        if (rs < 0) break;
        const int r = rs >> 4, s = rs & 0x0F;
        if (s) {
            k += r;
            if (k > 63) break;
            put(k, ExtendValue(bits.Take(s), s));
            if (k == 63) return true;
            ++k;
        } else if (r == 15) {
            k += 16;
            if (k > 64) break;
        } else {
            return true;
        }
    }
    Fail(Status::invalid);
    return false;
}

bool CJpeg::DecodeBlock(int comp, std::uint8_t* dst, std::ptrdiff_t stride) {
    // m_sCoef is all zeros between data units; only the rows this one
    // touches are cleared again (clearing all 128 bytes per block cost a
    // tenth of the decode).
    std::int16_t* coef = m_sCoef;
    const std::uint8_t* q = m_QT[m_byTq[comp]];
    // Bit n set for each coefficient written (natural order): one register
    // that the loop updates, the row and column masks follow from it.
    std::uint64_t written = 1;
    BitCursor bits(*this);
    bits.Fill();
    const int t = bits.Symbol(m_HT[m_byTd[comp]]);
    if (t < 0 || t > 16) {
        bits.StoreTo(*this);
        Fail(Status::invalid);
        return false;
    }
    const auto dc = static_cast<std::int16_t>(ExtendValue(bits.Take(static_cast<unsigned>(t)), static_cast<unsigned>(t)) + m_sDCPred[comp]);
    m_sDCPred[comp] = dc;
    coef[0] = static_cast<std::int16_t>(dc * q[0]);
    const bool ok = DecodeAcInto(bits, m_HT[m_byTa[comp] + 16], [&](int k, int v) {
        const int n = handpix::kZigzag[k];
        coef[n] = static_cast<std::int16_t>(v * q[k]);
        written |= std::uint64_t{1} << n;
    });
    bits.StoreTo(*this);
    const auto [rows, cols] = LinesOf(written);
    if (ok) handpix::jpeg::IdctToBytes(coef, rows, cols, dst, stride);
    for (unsigned r = rows; r; r &= r - 1) std::fill_n(coef + 8 * std::countr_zero(r), 8, std::int16_t{0});
    return ok;
}

void CJpeg::DecodeMCU(int mcuX, int mcuY) {
    if (!m_pSamples || Failed() || mcuY != m_nMcuRow) return Fail(Status::internal);
    for (int c = 0; c < m_byScanComps; ++c) {
        const int H = m_byH[c], V = m_byV[c];
        const std::ptrdiff_t stride = m_nPlaneStride[c];
        std::uint8_t* plane = m_pSamples + m_nPlaneOffset[c];
        for (int by = 0; by < V; ++by)
            for (int bx = 0; bx < H; ++bx)
                if (!DecodeBlock(c, plane + by * 8 * stride + (mcuX * H + bx) * 8, stride)) return;
    }
}

// Converts the samples of MCU row m_nMcuRow into the picture's rows: colour
// conversion, replication of subsampled planes, cropping, and the vertical
// flip (picture row y lands on buffer row height - 1 - y).
void CJpeg::ConvertYUV2RGB(void) {
    if (!m_pSamples || !m_pPending || Failed()) return Fail(Status::internal);
    const int ns = m_byScanComps, w = m_nWidth, h = m_nHeight;
    const std::size_t S = 4 * ((3 * static_cast<std::size_t>(w) + 3) / 4);
    // A row of S bytes may reach into the first padded pixel, so one pixel
    // more than the width is converted when it exists.
    const int n = std::min<int>(m_nPadWidth, static_cast<int>((S + 2) / 3));
    const int y0 = m_nMcuRow * 8 * m_byMaxV, y1 = std::min(h, y0 + 8 * m_byMaxV);
    // Replicated rows go to the scratch space after the planes.
    std::uint8_t* rowBuf = m_pSamples + m_nSamplesSize - 3 * static_cast<std::size_t>(m_nPadWidth);
    // Chroma at half the luma width (4:2:0, 4:2:2) is converted straight from
    // its rows, without replicating it first.
    const bool halfChroma = ns == 3 && m_byMaxH == m_byH[0] && m_byMaxH == 2 * m_byH[1] && m_byMaxH == 2 * m_byH[2];
    auto planeRow = [&](int c, int y) {
        const int vs = m_byMaxV / m_byV[c];
        return m_pSamples + m_nPlaneOffset[c] + static_cast<std::size_t>((y - y0) / vs) * m_nPlaneStride[c];
    };
    // The bytes of a row past the width, up to its stride.
    auto halfChromaTail = [&](std::uint8_t* d, const std::uint8_t* luma, const std::uint8_t* cb, const std::uint8_t* cr) {
        if (n <= w) return;
        std::uint8_t tail[3];
        handpix::jpeg::YccToBgr(luma + w, cb + w / 2, cr + w / 2, tail, 1);
        std::memcpy(d + 3 * static_cast<std::size_t>(w), tail, S - 3 * static_cast<std::size_t>(w));
    };
    // A picture far larger than the caches is written past them: none of it
    // would still be cached when the host reads it.
    const bool stream = S * static_cast<std::size_t>(h) >= kStreamBytes;
    const std::uint8_t* src[3];
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* d = m_pPending + (h - 1 - y) * S;
        if (halfChroma && y + 1 < y1 && planeRow(1, y) == planeRow(1, y + 1) && planeRow(2, y) == planeRow(2, y + 1)) {
            // Two rows on one chroma row (4:2:0): its terms serve both.
            const std::uint8_t *luma0 = planeRow(0, y), *luma1 = planeRow(0, y + 1), *cb = planeRow(1, y), *cr = planeRow(2, y);
            handpix::jpeg::YccToBgrHalfChromaTwoRows(luma0, luma1, cb, cr, d, d - S, w, stream);
            halfChromaTail(d, luma0, cb, cr);
            halfChromaTail(d - S, luma1, cb, cr);
            ++y;
            continue;
        }
        for (int c = 0; c < ns; ++c) {
            const int hs = m_byMaxH / m_byH[c];
            const std::uint8_t* row = planeRow(c, y);
            if (hs == 1 || halfChroma) {
                src[c] = row;
                continue;
            }
            std::uint8_t* r = rowBuf + c * m_nPadWidth;
            if (hs == 2) {
                for (int i = 0; i < (n + 1) / 2; ++i) r[2 * i] = r[2 * i + 1] = row[i];
            } else {
                for (int x = 0, i = 0; x < n; ++i)
                    for (int k = 0; k < hs; ++k) r[x++] = row[i];
            }
            src[c] = r;
        }
        std::uint8_t tail[3];
        if (halfChroma) {
            handpix::jpeg::YccToBgrHalfChroma(src[0], src[1], src[2], d, w, stream);
            halfChromaTail(d, src[0], src[1], src[2]);
            continue;
        }
        if (ns == 3) {
            handpix::jpeg::YccToBgr(src[0], src[1], src[2], d, w, stream);
            if (n > w) handpix::jpeg::YccToBgr(src[0] + w, src[1] + w, src[2] + w, tail, 1);
        } else {
            for (int x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = src[0][x];
            if (n > w) tail[0] = tail[1] = tail[2] = src[0][w];
        }
        if (n > w) std::memcpy(d + 3 * static_cast<std::size_t>(w), tail, S - 3 * static_cast<std::size_t>(w));
    }
}

// The single-step operations below serve hosts that drive the decoder by
// hand; LoadJPG uses the faster paths above, which compute the same values.

unsigned char CJpeg::NextByte(void) {
    std::uint8_t b = (m_pBuf && m_nScanPos < m_nBufSize) ? m_pBuf[m_nScanPos] : 0;
    ++m_nScanPos;
    if (m_pBuf) m_pScan = m_pBuf + std::min(m_nScanPos, m_nBufSize);
    return b;
}

unsigned short CJpeg::NextBit(void) {
    const unsigned b = ReceiveBits(1);
    m_nBitCount = m_nBits & 7;
    return static_cast<unsigned short>(b);
}

unsigned char CJpeg::hDecode(int slot) {
    if (slot < 0 || slot >= 20 || !m_HT[slot].bUsed) {
        Fail(Status::invalid);
        return 0;
    }
    const int r = DecodeSymbol(m_HT[slot]);
    m_nBitCount = m_nBits & 7;
    return r < 0 ? 0 : static_cast<unsigned char>(r);
}

unsigned short CJpeg::Receive(unsigned char n) {
    unsigned v = 0;
    for (; n > 16; --n) ReceiveBits(1);  // only the last 16 bits fit the result
    v = ReceiveBits(n);
    m_nBitCount = m_nBits & 7;
    return static_cast<unsigned short>(v);
}

short CJpeg::Extend(unsigned short v, unsigned char t) {
    return static_cast<short>(t > 16 ? v : ExtendValue(v, t));
}

void CJpeg::DecodeDC(int slot) {
    const unsigned char t = hDecode(slot);
    m_Block[0] = Extend(Receive(t), t);
}

void CJpeg::DecodeAC(int slot) {
    std::fill(m_Block + 1, m_Block + 64, 0);
    if (slot < 0 || slot >= 20 || !m_HT[slot].bUsed) return Fail(Status::invalid);
    BitCursor bits(*this);
    DecodeAcInto(bits, m_HT[slot], [&](int k, int v) { m_Block[k] = static_cast<std::int16_t>(v); });
    bits.StoreTo(*this);
    m_nBitCount = m_nBits & 7;
}

void CJpeg::DecodeDU(int comp) {
    if (comp < 0 || comp >= 3 || m_byTq[comp] >= 20 || m_byTd[comp] > 3 || m_byTa[comp] > 3 ||
        !m_HT[m_byTd[comp]].bUsed || !m_HT[m_byTa[comp] + 16].bUsed)
        return Fail(Status::invalid);
    std::uint8_t px[64];
    if (!DecodeBlock(comp, px, 8)) return;
    for (int i = 0; i < 64; ++i) m_Block[i] = px[i];
}

void CJpeg::Zigzag(void) {
    std::int16_t zz[64];
    std::copy_n(m_Block, 64, zz);
    for (int k = 0; k < 64; ++k) m_Block[handpix::kZigzag[k]] = zz[k];
}

void CJpeg::IDCT(void) { handpix::jpeg::IdctBlock(m_Block); }

int CJpeg::GetWidth(void) { return m_wFrameWidth; }
int CJpeg::GetHeight(void) { return m_wFrameHeight; }

EnumYUVType CJpeg::GetYUVType(void) {
    const int hv0 = m_byH[0] * 16 + m_byV[0], hv1 = m_byH[1] * 16 + m_byV[1], hv2 = m_byH[2] * 16 + m_byV[2];
    if (hv1 != 0x11 || hv2 != 0x11) return YUV_TYPE_NONE;
    if (hv0 == 0x11) return YUV_TYPE_444;
    if (hv0 == 0x21 || hv0 == 0x12) return YUV_TYPE_422;
    if (hv0 == 0x22 || hv0 == 0x41) return YUV_TYPE_420;
    return YUV_TYPE_NONE;
}
