#include "handpix/platform/ijl/ProgressiveEighth.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "handpix/platform/core/BitReader.h"
#include "handpix/platform/core/Limits.h"
#include "handpix/platform/core/Zigzag.h"
#include "handpix/platform/ijl/Ijl.h"
#include "handpix/platform/ijl/YccFixed.h"

// The rule throughout: whatever libjpeg would refuse, warn about, or treat in
// a way we do not reproduce, declines. Declining is always right (the caller
// decodes the file as before); producing pixels is right only when they are
// libjpeg's.

namespace handpix {
namespace {

constexpr std::size_t kNoMarker = static_cast<std::size_t>(-1);
constexpr int kMaxComps = 3;

inline unsigned Be16(const std::uint8_t* p) { return (static_cast<unsigned>(p[0]) << 8) | p[1]; }

// ---- Huffman codes (ITU-T T.81 Annex C, decoding as in Figure F.16) ----

struct HuffCodes {
    static constexpr int kFastBits = 9;
    // Codes of up to kFastBits bits, indexed by the next kFastBits bits:
    // (length << 8) | symbol; 0 where the code is longer.
    std::uint16_t fast[1 << kFastBits];
    std::int32_t maxCode[17];  // largest code of each length, -1 for none
    std::int32_t offset[17];   // a code of that length selects symbols[code + offset]
    std::uint8_t symbols[256];
};

// False for the tables libjpeg refuses: more than 256 codes, a length whose
// codes run to all ones or past it, DC symbols above 15.
bool BuildCodes(const std::uint8_t counts[16], const std::uint8_t* symbols, int n, bool dc, HuffCodes& t) {
    std::memcpy(t.symbols, symbols, static_cast<std::size_t>(n));
    std::memset(t.fast, 0, sizeof t.fast);
    if (dc)
        for (int i = 0; i < n; ++i)
            if (symbols[i] > 15) return false;
    std::int32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int c = counts[len - 1];
        t.offset[len] = k - code;
        t.maxCode[len] = c ? code + c - 1 : -1;
        for (int i = 0; i < c; ++i, ++code, ++k) {
            if (code >= (1 << len) - 1) return false;  // all ones, or past them
            if (len > HuffCodes::kFastBits) continue;
            const int spare = HuffCodes::kFastBits - len;
            for (int j = 0; j < (1 << spare); ++j)
                t.fast[(code << spare) | j] = static_cast<std::uint16_t>((len << 8) | symbols[k]);
        }
        code <<= 1;
    }
    return true;
}

// ---- entropy-coded data ----

// Most significant bit first. FF 00 is a data FF, FF FF ... runs are fill;
// any other FF xx is a marker, where the reader stops and supplies zero bits,
// counting them, so that a segment read past its end is noticed afterwards.
class EntropyBits {
public:
    EntropyBits(const std::uint8_t* data, std::size_t size, std::size_t pos) : m_data(data), m_size(size), m_pos(pos) {}

    unsigned Peek16() {
        if (m_n < 16) Fill();
        return static_cast<unsigned>(m_acc >> (m_n - 16)) & 0xFFFF;
    }
    void Drop(int k) { m_n -= k; }
    unsigned Get(int k) {
        if (k == 0) return 0;
        if (m_n < k) Fill();
        m_n -= k;
        return static_cast<unsigned>(m_acc >> m_n) & ((1u << k) - 1);
    }
    int Symbol(const HuffCodes& t) {
        const unsigned peek = Peek16();
        if (const unsigned f = t.fast[peek >> (16 - HuffCodes::kFastBits)]) {
            m_n -= static_cast<int>(f >> 8);
            return static_cast<int>(f & 0xFF);
        }
        for (int len = HuffCodes::kFastBits + 1; len <= 16; ++len) {
            const auto code = static_cast<std::int32_t>(peek >> (16 - len));
            if (code > t.maxCode[len]) continue;
            const std::int32_t at = code + t.offset[len];
            if (at < 0 || at > 255) return -1;
            m_n -= len;
            return t.symbols[at];
        }
        return -1;
    }

    // Where the segment just decoded ends: the position of the marker that
    // follows it, or kNoMarker when bits past that marker were used or whole
    // bytes are left over before it (libjpeg would warn about either).
    std::size_t SegmentEnd() {
        if (m_n < m_fake || m_n - m_fake >= 8) return kNoMarker;
        if (m_marker != kNoMarker) return m_marker;
        if (m_pos < m_size && m_data[m_pos] == 0xFF) {
            std::size_t j = m_pos + 1;
            while (j < m_size && m_data[j] == 0xFF) ++j;
            if (j < m_size && m_data[j] != 0) return m_pos;
        }
        return kNoMarker;
    }
    // Continues after a restart marker: the segment must end at RSTn.
    bool Restart(int n) {
        std::size_t at = SegmentEnd();
        if (at == kNoMarker) return false;
        while (at < m_size && m_data[at] == 0xFF) ++at;
        if (at >= m_size || m_data[at] != 0xD0 + n) return false;
        m_pos = at + 1;
        m_n = m_fake = 0;
        m_marker = kNoMarker;
        return true;
    }

private:
    void Fill() {
        // Eight bytes at once while they hold no FF, the usual case.
        if (m_marker == kNoMarker && m_pos + 8 <= m_size) {
            std::uint64_t w;
            if (LoadEightWithoutFF(m_data + m_pos, w)) {
                const int k = (64 - m_n) >> 3;
                m_acc = k == 8 ? w : (m_acc << (8 * k)) | (w >> (64 - 8 * k));
                m_n += 8 * k;
                m_pos += static_cast<std::size_t>(k);
                return;
            }
        }
        while (m_n <= 56) {
            std::uint8_t b = 0;
            if (m_marker != kNoMarker) {
                m_fake += 8;
            } else if (m_pos >= m_size) {
                m_marker = m_size;
                continue;
            } else if ((b = m_data[m_pos]) != 0xFF) {
                ++m_pos;
            } else {
                std::size_t j = m_pos + 1;
                while (j < m_size && m_data[j] == 0xFF) ++j;
                if (j >= m_size || m_data[j] != 0) {
                    m_marker = m_pos;
                    continue;
                }
                m_pos = j + 1;
            }
            m_acc = (m_acc << 8) | b;
            m_n += 8;
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos;
    std::uint64_t m_acc = 0;
    int m_n = 0;     // bits held in the low end of m_acc
    int m_fake = 0;  // of which supplied after the marker
    std::size_t m_marker = kNoMarker;
};

// The next marker at or after `pos` in entropy-coded data that is stepped
// over: data FF and restart markers belong to the segment.
std::size_t SkipEntropyData(const std::uint8_t* data, std::size_t size, std::size_t pos) {
    while (pos < size) {
        const void* ff = std::memchr(data + pos, 0xFF, size - pos);
        if (!ff) return kNoMarker;
        const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - data);
        std::size_t j = at + 1;
        while (j < size && data[j] == 0xFF) ++j;
        if (j >= size) return kNoMarker;
        if (data[j] != 0 && (data[j] < 0xD0 || data[j] > 0xD7)) return at;
        pos = j + 1;
    }
    return kNoMarker;
}

// ---- the reduced transforms ----

// libjpeg's output range limit after a transform: the value is taken modulo
// 1024 and then clamped as if it lay in -384..639 (so a wildly large value
// wraps instead of saturating).
inline std::uint8_t RangeLimit(std::int64_t v) {
    const int x = static_cast<int>(v & 1023);
    return static_cast<std::uint8_t>(x < 128 ? x + 128 : x < 512 ? 255 : x < 896 ? 0 : x - 896);
}

inline std::int64_t Descale(std::int64_t x, int n) { return (x + (std::int64_t{1} << (n - 1))) >> n; }

// 1 x 1: the DC value, dequantized and divided by 8 with rounding.
inline std::uint8_t Idct1x1(std::int16_t dc, int q) { return RangeLimit(Descale(std::int64_t{dc} * q, 3)); }

// A 2 x 2 transform reads only rows and columns 0, 1, 3, 5 and 7 of a block:
// 25 coefficients. A block of a 2 x 2 component keeps those (slot 0 the DC,
// then row by row), and from kMaskSlot on a 64-bit mask of which of all 64
// coefficients (zig-zag order) are nonzero, all a refinement scan needs to
// know of the others. Half the memory of whole blocks, the thumbnail's main cost.
constexpr int kKeptLine[5] = {0, 1, 3, 5, 7};
constexpr int kCompactBlock = 32, kMaskSlot = 28;
constexpr int KeptNatural(int slot) { return kKeptLine[slot / 5] * 8 + kKeptLine[slot % 5]; }
// The slot of the coefficient at each zig-zag index, -1 for those not kept.
constexpr auto kSlot = [] {
    std::array<std::int8_t, 64> slot{};
    for (int k = 0; k < 64; ++k) {
        slot[k] = -1;
        for (int s = 0; s < 25; ++s)
            if (KeptNatural(s) == kZigzag[k]) slot[k] = static_cast<std::int8_t>(s);
    }
    return slot;
}();

inline std::uint64_t NonzeroMask(const std::int16_t* block) {
    std::uint64_t m;
    std::memcpy(&m, block + kMaskSlot, sizeof m);
    return m;
}
inline void SetNonzeroMask(std::int16_t* block, std::uint64_t m) { std::memcpy(block + kMaskSlot, &m, sizeof m); }

// libjpeg's reduced 2 x 2 transform, 13-bit constants and two guard bits,
// over a compact block whose 25 kept values `q` already dequantizes.
constexpr std::int64_t Fix13(double x) { return static_cast<std::int64_t>(x * 8192 + 0.5); }
constexpr std::int64_t kOddWeight[4] = {Fix13(3.624509785), -Fix13(1.272758580), Fix13(0.850430095),
                                        -Fix13(0.720959822)};  // rows or columns 1, 3, 5, 7

void Idct2x2(const std::int16_t* kept, const std::uint16_t* q, std::uint8_t* out, std::size_t stride) {
    std::int64_t ws[2][5];
    for (int c = 0; c < 5; ++c) {
        const std::int64_t even = std::int64_t{kept[c]} * q[c] * 32768;
        std::int64_t odd = 0;
        for (int i = 0; i < 4; ++i) odd += std::int64_t{kept[(i + 1) * 5 + c]} * q[(i + 1) * 5 + c] * kOddWeight[i];
        ws[0][c] = Descale(even + odd, 13);
        ws[1][c] = Descale(even - odd, 13);
    }
    for (int r = 0; r < 2; ++r) {
        const std::int64_t even = ws[r][0] * 32768;
        std::int64_t odd = 0;
        for (int i = 0; i < 4; ++i) odd += ws[r][i + 1] * kOddWeight[i];
        out[r * stride] = RangeLimit(Descale(even + odd, 20));
        out[r * stride + 1] = RangeLimit(Descale(even - odd, 20));
    }
}

// libjpeg-turbo's vector form of the 2 x 2 transform multiplies in 16 bits;
// it agrees with the exact arithmetic above while every dequantized input
// stays within this bound, which real pictures never leave.
constexpr int kMaxDequantized = 2047;

bool Idct2x2InRange(const std::int16_t* kept, const std::uint16_t* q) {
    for (int s = 0; s < 25; ++s) {
        const std::int64_t v = std::int64_t{kept[s]} * q[s];
        if (v > kMaxDequantized || v < -kMaxDequantized) return false;
    }
    return true;
}

// ---- the decoder ----

struct Component {
    int id = 0, h = 1, v = 1, tq = 0;
    int blocksWide = 0, blocksHigh = 0;  // the stored grid: whole MCUs
    int compWide = 0, compHigh = 0;      // blocks a scan of this component alone covers
    int scale = 1;                       // output samples per block side at 1/8: 1 or 2
    int stride = 1;                      // values per block: the DC, or a compact block
    // From calloc: a large block comes as fresh zero pages, not cleared a second time.
    std::unique_ptr<std::int16_t[], void (*)(void*)> coef{nullptr, std::free};
    std::uint16_t quant[64] = {};        // natural order, latched at the component's first scan
    bool latched = false;
    std::int8_t bits[64];                // successive-approximation state, -1 before any scan
    int dcPred = 0;
    int td = 0, ta = 0;
    std::vector<std::uint8_t> samples;   // the reduced picture of this component
    int sampleWide = 0;
};

struct Scan {
    Component* comp[kMaxComps];
    int ns = 0, ss = 0, se = 0, ah = 0, al = 0;
};

class Decoder {
public:
    Decoder(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Run(JPEG_CORE_PROPERTIES& p);

private:
    bool Segment(unsigned marker, const std::uint8_t* body, std::size_t length);
    bool ReadQuant(const std::uint8_t* body, std::size_t length);
    bool ReadHuffman(const std::uint8_t* body, std::size_t length);
    bool ReadFrame(const std::uint8_t* body, std::size_t length);
    bool ReadScanHeader(const std::uint8_t* body, std::size_t length, Scan& s);
    bool Progression(const Scan& s);
    bool DecodeScan(const Scan& s, std::size_t& pos);
    template <typename Block>
    bool WalkScan(const Scan& s, EntropyBits& bits, Block block);
    bool DcFirst(EntropyBits& bits, Component& c, std::int16_t* coef, const HuffCodes& t, int al);
    bool AcFirst(EntropyBits& bits, std::int16_t* coef, const HuffCodes& t, const Scan& s);
    bool AcRefine(EntropyBits& bits, std::int16_t* coef, const HuffCodes& t, const Scan& s);
    bool MakeSamples();
    void WritePixels(JPEG_CORE_PROPERTIES& p) const;

    const std::uint8_t* m_data;
    std::size_t m_size;

    HuffCodes m_dc[4], m_ac[4];
    bool m_dcSet[4] = {}, m_acSet[4] = {};
    std::uint16_t m_quant[4][64] = {};
    bool m_quantSet[4] = {};
    unsigned m_restart = 0;
    bool m_jfif = false, m_adobe = false, m_scanSeen = false;
    int m_adobeTransform = -1;

    bool m_frame = false;
    int m_width = 0, m_height = 0, m_ncomp = 0, m_maxH = 1, m_maxV = 1, m_mcusWide = 0, m_mcusHigh = 0;
    Component m_comp[kMaxComps];
    unsigned m_eobrun = 0;
};

bool Decoder::ReadQuant(const std::uint8_t* body, std::size_t length) {
    std::size_t at = 0;
    while (at < length) {
        const int precision = body[at] >> 4, slot = body[at] & 15;
        const std::size_t bytes = precision ? 128 : 64;
        if (precision > 1 || slot > 3 || length - at - 1 < bytes) return false;
        const std::uint8_t* v = body + at + 1;
        for (int k = 0; k < 64; ++k) {
            const unsigned q = precision ? Be16(v + 2 * k) : v[k];
            // libjpeg keeps quantizers as 16-bit signed values beside its vector code.
            if (q > 32767) return false;
            m_quant[slot][kZigzag[k]] = static_cast<std::uint16_t>(q);
        }
        m_quantSet[slot] = true;
        at += 1 + bytes;
    }
    return true;
}

bool Decoder::ReadHuffman(const std::uint8_t* body, std::size_t length) {
    std::size_t at = 0;
    while (at < length) {
        if (length - at < 17) return false;
        const int index = body[at];
        const bool ac = index & 0x10;
        const int slot = index & ~0x10;
        if (slot > 3) return false;
        int n = 0;
        for (int i = 1; i <= 16; ++i) n += body[at + i];
        if (n > 256 || length - at - 17 < static_cast<std::size_t>(n)) return false;
        if (!BuildCodes(body + at + 1, body + at + 17, n, !ac, ac ? m_ac[slot] : m_dc[slot])) return false;
        (ac ? m_acSet : m_dcSet)[slot] = true;
        at += 17 + static_cast<std::size_t>(n);
    }
    return true;
}

bool Decoder::ReadFrame(const std::uint8_t* body, std::size_t length) {
    if (m_frame || length < 6) return false;
    m_frame = true;
    m_height = static_cast<int>(Be16(body + 1));
    m_width = static_cast<int>(Be16(body + 3));
    m_ncomp = body[5];
    if (body[0] != 8 || (m_ncomp != 1 && m_ncomp != 3) || length != 6 + 3u * m_ncomp) return false;
    if (!PictureSizeAllowed(m_width, m_height)) return false;
    for (int i = 0; i < m_ncomp; ++i) {
        Component& c = m_comp[i];
        const std::uint8_t* f = body + 6 + 3 * i;
        c.id = f[0];
        c.h = f[1] >> 4;
        c.v = f[1] & 15;
        c.tq = f[2];
        if (c.tq > 3) return false;
        for (int j = 0; j < i; ++j)
            if (m_comp[j].id == c.id) return false;
        std::memset(c.bits, -1, sizeof c.bits);
    }
    // Grey, or YCbCr with 1 x 1 chroma and luma 1 x 1, 2 x 1 or 2 x 2.
    for (int i = 1; i < m_ncomp; ++i)
        if (m_comp[i].h != 1 || m_comp[i].v != 1) return false;
    const int h0 = m_comp[0].h, v0 = m_comp[0].v;
    if (m_ncomp == 1 ? (h0 != 1 || v0 != 1) : !(v0 == 1 ? h0 <= 2 : h0 == 2 && v0 == 2)) return false;
    m_maxH = h0;
    m_maxV = v0;
    m_mcusWide = (m_width + 8 * m_maxH - 1) / (8 * m_maxH);
    m_mcusHigh = (m_height + 8 * m_maxV - 1) / (8 * m_maxV);
    std::uint64_t kept = 0;
    for (int i = 0; i < m_ncomp; ++i) {
        Component& c = m_comp[i];
        c.blocksWide = m_mcusWide * c.h;
        c.blocksHigh = m_mcusHigh * c.v;
        const int sw = (m_width * c.h + m_maxH - 1) / m_maxH, sh = (m_height * c.v + m_maxV - 1) / m_maxV;
        c.compWide = (sw + 7) / 8;
        c.compHigh = (sh + 7) / 8;
        // At 1/8 libjpeg gives each component the largest transform (1, 2, 4,
        // 8) that does not outgrow the luma's single sample; here only 2 x 2
        // chroma needs more than the DC.
        c.scale = m_maxH == 2 * c.h && m_maxV == 2 * c.v ? 2 : 1;
        c.stride = c.scale == 2 ? kCompactBlock : 1;
        kept += static_cast<std::uint64_t>(c.blocksWide) * c.blocksHigh * c.stride;
    }
    // A few bytes claiming a large picture are turned away before any allocation.
    if (!JpegDataCanFill(static_cast<std::uint64_t>(m_comp[0].compWide) * m_comp[0].compHigh, m_size)) return false;
    for (int i = 0; i < m_ncomp; ++i) {
        Component& c = m_comp[i];
        c.coef.reset(static_cast<std::int16_t*>(
            std::calloc(static_cast<std::size_t>(c.blocksWide) * c.blocksHigh * c.stride, sizeof(std::int16_t))));
        if (!c.coef) return false;
    }
    return kept > 0;
}

bool Decoder::ReadScanHeader(const std::uint8_t* body, std::size_t length, Scan& s) {
    if (!m_frame || length < 1) return false;
    s.ns = body[0];
    if (s.ns < 1 || s.ns > m_ncomp || length != 4 + 2u * s.ns) return false;
    for (int i = 0; i < s.ns; ++i) {
        const int id = body[1 + 2 * i], tables = body[2 + 2 * i];
        s.comp[i] = nullptr;
        for (int j = 0; j < m_ncomp; ++j)
            if (m_comp[j].id == id) s.comp[i] = &m_comp[j];
        for (int j = 0; j < i; ++j)
            if (s.comp[j] == s.comp[i]) return false;
        if (!s.comp[i]) return false;
        s.comp[i]->td = tables >> 4;
        s.comp[i]->ta = tables & 15;
    }
    const std::uint8_t* tail = body + 1 + 2 * s.ns;
    s.ss = tail[0];
    s.se = tail[1];
    s.ah = tail[2] >> 4;
    s.al = tail[2] & 15;
    return true;
}

// The scan's place in the progression, checked as libjpeg checks it, and
// each coefficient's successive-approximation state advanced.
bool Decoder::Progression(const Scan& s) {
    const bool dc = s.ss == 0;
    if (dc ? s.se != 0 : (s.se < s.ss || s.se > 63 || s.ns != 1)) return false;
    if ((s.ah != 0 && s.al != s.ah - 1) || s.al > 13) return false;
    for (int i = 0; i < s.ns; ++i) {
        Component& c = *s.comp[i];
        if (!dc && c.bits[0] < 0) return false;
        for (int k = s.ss; k <= s.se; ++k) {
            // A first scan of a coefficient already sent, or a refinement out of turn.
            if (s.ah != (c.bits[k] < 0 ? 0 : c.bits[k]) || (s.ah == 0 && c.bits[k] >= 0)) return false;
            c.bits[k] = static_cast<std::int8_t>(s.al);
        }
        if (!c.latched) {
            if (!m_quantSet[c.tq]) return false;
            std::memcpy(c.quant, m_quant[c.tq], sizeof c.quant);
            c.latched = true;
        }
        // The tables libjpeg builds for this scan must be there.
        if (dc && s.ah == 0 && (c.td > 3 || !m_dcSet[c.td])) return false;
        if (!dc && (c.ta > 3 || !m_acSet[c.ta])) return false;
    }
    return true;
}

// Calls block(component, its coefficients) for every block of the scan in
// MCU order, handling restart markers between intervals.
template <typename Block>
bool Decoder::WalkScan(const Scan& s, EntropyBits& bits, Block block) {
    const bool single = s.ns == 1;
    const int wide = single ? s.comp[0]->compWide : m_mcusWide;
    const int high = single ? s.comp[0]->compHigh : m_mcusHigh;
    unsigned left = m_restart;
    int next = 0;
    for (int my = 0; my < high; ++my)
        for (int mx = 0; mx < wide; ++mx) {
            if (m_restart) {
                if (left == 0) {
                    if (!bits.Restart(next)) return false;
                    next = (next + 1) & 7;
                    left = m_restart;
                    m_eobrun = 0;
                    for (int i = 0; i < s.ns; ++i) s.comp[i]->dcPred = 0;
                }
                --left;
            }
            if (single) {
                Component& c = *s.comp[0];
                if (!block(c, &c.coef[(static_cast<std::size_t>(my) * c.blocksWide + mx) * c.stride])) return false;
                continue;
            }
            for (int i = 0; i < s.ns; ++i) {
                Component& c = *s.comp[i];
                for (int y = 0; y < c.v; ++y)
                    for (int x = 0; x < c.h; ++x) {
                        const std::size_t at = static_cast<std::size_t>(my * c.v + y) * c.blocksWide + mx * c.h + x;
                        if (!block(c, &c.coef[at * c.stride])) return false;
                    }
            }
        }
    return true;
}

inline int Extend(unsigned v, int s) { return s && v < (1u << (s - 1)) ? static_cast<int>(v) - (1 << s) + 1 : static_cast<int>(v); }

bool Decoder::DcFirst(EntropyBits& bits, Component& c, std::int16_t* coef, const HuffCodes& t, int al) {
    const int s = bits.Symbol(t);
    // 8-bit samples never need a difference of more than 11 bits.
    if (s < 0 || s > 11) return false;
    c.dcPred += Extend(bits.Get(s), s);
    const int v = c.dcPred * (1 << al);
    if (c.dcPred > 2047 || c.dcPred < -2047 || v > 32767 || v < -32768) return false;
    *coef = static_cast<std::int16_t>(v);
    return true;
}

bool Decoder::AcFirst(EntropyBits& bits, std::int16_t* coef, const HuffCodes& t, const Scan& s) {
    if (m_eobrun) {
        --m_eobrun;
        return true;
    }
    for (int k = s.ss; k <= s.se; ++k) {
        const int rs = bits.Symbol(t);
        if (rs < 0) return false;
        const int r = rs >> 4, size = rs & 15;
        if (size) {
            k += r;
            const int v = Extend(bits.Get(size), size) * (1 << s.al);
            if (k > s.se || v > 32767 || v < -32768) return false;
            SetNonzeroMask(coef, NonzeroMask(coef) | std::uint64_t{1} << k);
            if (kSlot[k] >= 0) coef[kSlot[k]] = static_cast<std::int16_t>(v);
        } else if (r == 15) {
            k += 15;
        } else {
            m_eobrun = (1u << r) + bits.Get(r) - 1;
            break;
        }
    }
    return true;
}

// T.81 G.1.2.3: correction bits for the coefficients already nonzero, new
// coefficients of magnitude 1 placed after the given run of zero ones.
bool Decoder::AcRefine(EntropyBits& bits, std::int16_t* coef, const HuffCodes& t, const Scan& s) {
    const int p1 = 1 << s.al;
    std::uint64_t nonzero = NonzeroMask(coef);
    // Every nonzero coefficient takes its correction bit; only kept ones need the value.
    auto correct = [&](int k) {
        const unsigned bit = bits.Get(1);
        std::int16_t* v = kSlot[k] >= 0 ? coef + kSlot[k] : nullptr;
        if (bit && v && (*v & p1) == 0) *v = static_cast<std::int16_t>(*v + (*v >= 0 ? p1 : -p1));
    };
    int k = s.ss;
    if (m_eobrun == 0) {
        for (; k <= s.se; ++k) {
            const int rs = bits.Symbol(t);
            if (rs < 0) return false;
            int r = rs >> 4;
            const int size = rs & 15;
            int value = 0;
            if (size) {
                if (size != 1) return false;
                value = bits.Get(1) ? p1 : -p1;
            } else if (r != 15) {
                m_eobrun = (1u << r) + bits.Get(r);
                break;
            }
            // Pass r zero coefficients (correcting nonzero ones on the way), then place the new one.
            for (; k <= s.se; ++k) {
                if (nonzero >> k & 1) {
                    correct(k);
                } else if (--r < 0) {
                    break;
                }
            }
            if (value) {
                if (k > s.se) return false;
                nonzero |= std::uint64_t{1} << k;
                if (kSlot[k] >= 0) coef[kSlot[k]] = static_cast<std::int16_t>(value);
            }
        }
    }
    if (m_eobrun) {
        for (; k <= s.se; ++k)
            if (nonzero >> k & 1) correct(k);
        --m_eobrun;
    }
    SetNonzeroMask(coef, nonzero);
    return true;
}

// Decodes the scan starting at pos, or steps over it when no coefficient it
// carries reaches the reduced picture; pos ends on the marker after it.
bool Decoder::DecodeScan(const Scan& s, std::size_t& pos) {
    const bool dc = s.ss == 0;
    if (!dc && s.comp[0]->stride == 1) {
        pos = SkipEntropyData(m_data, m_size, pos);
        return pos != kNoMarker;
    }
    EntropyBits bits(m_data, m_size, pos);
    m_eobrun = 0;
    for (int i = 0; i < s.ns; ++i) s.comp[i]->dcPred = 0;
    bool ok;
    if (dc && s.ah == 0) {
        ok = WalkScan(s, bits, [&](Component& c, std::int16_t* coef) { return DcFirst(bits, c, coef, m_dc[c.td], s.al); });
    } else if (dc) {
        const int bit = 1 << s.al;
        ok = WalkScan(s, bits, [&](Component&, std::int16_t* coef) {
            if (bits.Get(1)) *coef = static_cast<std::int16_t>(*coef | bit);
            return true;
        });
    } else {
        const HuffCodes& t = m_ac[s.comp[0]->ta];
        if (s.ah == 0)
            ok = WalkScan(s, bits, [&](Component&, std::int16_t* coef) { return AcFirst(bits, coef, t, s); });
        else
            ok = WalkScan(s, bits, [&](Component&, std::int16_t* coef) { return AcRefine(bits, coef, t, s); });
    }
    if (!ok) return false;
    pos = bits.SegmentEnd();
    return pos != kNoMarker;
}

bool Decoder::Segment(unsigned marker, const std::uint8_t* body, std::size_t length) {
    // libjpeg settles the colour space at the first scan; later markers do not count.
    if ((marker == 0xE0 || marker == 0xEE) && m_scanSeen) return true;
    if (marker == 0xE0) {
        // libjpeg takes the file as JFIF from an APP0 of at least 14 bytes naming it.
        if (length >= 5 && std::memcmp(body, "JFIF", 5) == 0) {
            if (length < 14) return false;
            m_jfif = true;
        }
        return true;
    }
    if (marker == 0xEE) {
        if (length >= 5 && std::memcmp(body, "Adobe", 5) == 0) {
            if (length < 12) return false;
            m_adobe = true;
            m_adobeTransform = body[11];
        }
        return true;
    }
    if ((marker >= 0xE1 && marker <= 0xEF) || marker == 0xFE) return true;
    switch (marker) {
    case 0xDB: return ReadQuant(body, length);
    case 0xC4: return ReadHuffman(body, length);
    case 0xC2: return ReadFrame(body, length);
    case 0xDD:
        if (length != 2) return false;
        m_restart = Be16(body);
        return true;
    default: return false;  // baseline, arithmetic coding, DNL and the rest
    }
}

// Each component's reduced picture: one sample per block, or 2 x 2 per block.
bool Decoder::MakeSamples() {
    for (int i = 0; i < m_ncomp; ++i) {
        Component& c = m_comp[i];
        c.sampleWide = c.blocksWide * c.scale;
        c.samples.resize(static_cast<std::size_t>(c.sampleWide) * c.blocksHigh * c.scale);
        const int q0 = c.quant[0];
        std::uint16_t keptQuant[25];
        for (int slot = 0; slot < 25; ++slot) keptQuant[slot] = c.quant[KeptNatural(slot)];
        for (int by = 0; by < c.blocksHigh; ++by) {
            const std::int16_t* coef = &c.coef[static_cast<std::size_t>(by) * c.blocksWide * c.stride];
            std::uint8_t* out = &c.samples[static_cast<std::size_t>(by) * c.scale * c.sampleWide];
            if (c.scale == 1) {
                for (int bx = 0; bx < c.blocksWide; ++bx) out[bx] = Idct1x1(coef[bx], q0);
                continue;
            }
            for (int bx = 0; bx < c.blocksWide; ++bx, coef += kCompactBlock) {
                if (!Idct2x2InRange(coef, keptQuant)) return false;
                Idct2x2(coef, keptQuant, out + 2 * bx, static_cast<std::size_t>(c.sampleWide));
            }
        }
    }
    return true;
}

void Decoder::WritePixels(JPEG_CORE_PROPERTIES& p) const {
    const int wide = (m_width + 7) / 8, high = (m_height + 7) / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(wide) * 3 + p.DIBPadBytes;
    // Chroma rows match luma's; across there are as many samples, or half as many (4:2:2).
    const int shift = m_ncomp == 3 && m_maxH != m_comp[1].h * m_comp[1].scale ? 1 : 0;
    for (int y = 0; y < high; ++y) {
        std::uint8_t* row = p.DIBBytes + static_cast<std::size_t>(p.DIBHeight < 0 ? high - 1 - y : y) * rowBytes;
        const std::uint8_t* luma = &m_comp[0].samples[static_cast<std::size_t>(y) * m_comp[0].sampleWide];
        if (m_ncomp == 1) {
            for (int x = 0; x < wide; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = luma[x];
            continue;
        }
        const std::uint8_t* cb = &m_comp[1].samples[static_cast<std::size_t>(y) * m_comp[1].sampleWide];
        const std::uint8_t* cr = &m_comp[2].samples[static_cast<std::size_t>(y) * m_comp[2].sampleWide];
        for (int x = 0; x < wide; ++x) {
            std::uint8_t rgb[3];
            YccToRgbFixed(luma[x], cb[x >> shift], cr[x >> shift], rgb);
            row[3 * x] = rgb[2];
            row[3 * x + 1] = rgb[1];
            row[3 * x + 2] = rgb[0];
        }
    }
}

bool Decoder::Run(JPEG_CORE_PROPERTIES& p) {
    if (m_size < 4 || m_data[0] != 0xFF || m_data[1] != 0xD8) return false;
    std::size_t pos = 2;
    for (;;) {
        // A marker, possibly after fill bytes; anything else between segments declines.
        if (pos >= m_size || m_data[pos] != 0xFF) return false;
        while (pos < m_size && m_data[pos] == 0xFF) ++pos;
        if (pos >= m_size) return false;
        const unsigned marker = m_data[pos++];
        if (marker == 0xD9) break;
        if (m_size - pos < 2) return false;
        const std::size_t length = Be16(m_data + pos);
        if (length < 2 || m_size - pos < length) return false;
        const std::uint8_t* body = m_data + pos + 2;
        pos += length;
        if (marker != 0xDA) {
            if (!Segment(marker, body, length - 2)) return false;
            continue;
        }
        Scan s;
        m_scanSeen = true;
        if (!ReadScanHeader(body, length - 2, s) || !Progression(s) || !DecodeScan(s, pos)) return false;
    }
    if (!m_frame) return false;
    for (int i = 0; i < m_ncomp; ++i)
        for (int k = 0; k < 64; ++k)
            if (m_comp[i].bits[k] != 0) return false;  // incomplete: libjpeg would smooth
    if (m_ncomp == 3) {
        // How libjpeg names the colour space of three components: JFIF, else
        // Adobe's transform flag, else the identifiers 1, 2, 3. Any doubt declines.
        const bool ycc = m_jfif ? !m_adobe
                                : m_adobe ? m_adobeTransform == 1
                                          : m_comp[0].id == 1 && m_comp[1].id == 2 && m_comp[2].id == 3;
        if (!ycc) return false;
    }
    const DWORD wide = static_cast<DWORD>((m_width + 7) / 8), high = static_cast<DWORD>((m_height + 7) / 8);
    const DWORD rows = static_cast<DWORD>(p.DIBHeight < 0 ? -static_cast<long long>(p.DIBHeight) : p.DIBHeight);
    if (p.DIBWidth != wide || rows != high) return false;
    if (!MakeSamples()) return false;
    WritePixels(p);
    return true;
}

enum class FrameSeen { kProgressiveHuffman, kOther, kBeyond };

// What the first frame header says, as far as `size` bytes reach.
FrameSeen FrameKind(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return FrameSeen::kOther;
    for (std::size_t pos = 2; pos + 4 <= size;) {
        if (data[pos] != 0xFF) return FrameSeen::kOther;
        const unsigned marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC)
            return marker == 0xC2 ? FrameSeen::kProgressiveHuffman : FrameSeen::kOther;
        if (marker == 0xDA || marker == 0xD9) return FrameSeen::kOther;
        pos += 2 + Be16(data + pos + 2);
    }
    return FrameSeen::kBeyond;
}

constexpr std::size_t kHeadBytes = 16u << 10;

bool ReadAt(int fd, std::uint8_t* to, std::size_t n, std::size_t at) {
    for (std::size_t got = 0; got < n;) {
        const ssize_t r = ::pread(fd, to + got, n - got, static_cast<off_t>(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool Wanted(const JPEG_CORE_PROPERTIES& p) {
    return p.DIBScaleDenom == 8 && p.DIBBytes && p.DIBChannels == 3 && p.DIBColor == IJL_BGR;
}

}  // namespace

bool ReadProgressiveEighth(const std::uint8_t* data, std::size_t size, JPEG_CORE_PROPERTIES& p) {
    if (!data || !Wanted(p)) return false;
    // About 12 KB of Huffman lookups: kept off the stack.
    auto d = std::unique_ptr<Decoder>(new (std::nothrow) Decoder(data, size));
    return d && d->Run(p);
}

bool ReadProgressiveEighth(int fd, std::uint64_t maxBytes, JPEG_CORE_PROPERTIES& p) {
    if (!Wanted(p)) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 4 ||
        static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    // The frame header usually lies in the first few kilobytes: a baseline
    // file is turned away after reading those, not the whole file.
    std::uint8_t head[kHeadBytes];
    const std::size_t headSize = size < kHeadBytes ? size : kHeadBytes;
    if (!ReadAt(fd, head, headSize, 0) || FrameKind(head, headSize) == FrameSeen::kOther) return false;
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]);
    if (!data) return false;
    std::memcpy(data.get(), head, headSize);
    if (!ReadAt(fd, data.get() + headSize, size - headSize, headSize)) return false;
    return ReadProgressiveEighth(data.get(), size, p);
}

}  // namespace handpix
