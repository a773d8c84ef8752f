#include "handpix/platform/core/Resample.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The inner loops are written for the auto-vectoriser; GCC only runs it fully at -O3.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

namespace handpix {
namespace {

// Sizes beyond this are refused: with it every intermediate sum below fits its type
// (vertical sums in 32 bits, full sums in 48 bits).
constexpr int kMaxSide = 1 << 18;
// Fraction bits of a bilinear weight.
constexpr unsigned kLinearOne = 1u << 10;

// How one destination row (or column) is made from a run of source rows: `count`
// consecutive rows from `first`, the first weighted wFirst, the last wLast and
// any between them wMiddle. The weights of every entry sum to the axis total;
// a single row carries the whole total in wFirst, and wLast is 0.
struct Span {
    int first;
    int count;
    unsigned wFirst;
    unsigned wLast;
    unsigned wMiddle;
};

struct Axis {
    std::vector<Span> spans;
    unsigned total;
};

// Shrinking (or keeping) an axis: measured in units where a source pixel is
// `dst` long and a destination pixel `src` long, everything is an integer, so
// the coverage weights are exact and sum to `src` for every destination pixel.
void PlanArea(Axis& axis, int src, int dst) {
    axis.total = static_cast<unsigned>(src);
    axis.spans.resize(static_cast<size_t>(dst));
    for (int j = 0; j < dst; ++j) {
        long long begin = static_cast<long long>(j) * src;
        long long end = begin + src;
        int first = static_cast<int>(begin / dst);
        int last = static_cast<int>((end - 1) / dst);
        Span& s = axis.spans[static_cast<size_t>(j)];
        s.first = first;
        s.count = last - first + 1;
        s.wMiddle = static_cast<unsigned>(dst);
        s.wFirst = static_cast<unsigned>(std::min<long long>(static_cast<long long>(first + 1) * dst, end) - begin);
        s.wLast = static_cast<unsigned>(end - std::max<long long>(static_cast<long long>(last) * dst, begin));
        if (s.count == 1) {
            s.wFirst = axis.total;
            s.wLast = 0;
        }
    }
}

// Enlarging an axis: pixel centres map onto each other, and each destination
// pixel mixes the two nearest source pixels; outside the outer centres the edge
// pixel is repeated.
void PlanLinear(Axis& axis, int src, int dst) {
    axis.total = kLinearOne;
    axis.spans.resize(static_cast<size_t>(dst));
    for (int j = 0; j < dst; ++j) {
        // Source position of the centre, in 1/(2*dst) steps, minus half a pixel.
        long long num = (2LL * j + 1) * src - dst;  // position * 2*dst
        Span& s = axis.spans[static_cast<size_t>(j)];
        s.wMiddle = 0;
        if (num <= 0) {
            s.first = 0;
            s.count = 1;
            s.wFirst = kLinearOne;
            s.wLast = 0;
            continue;
        }
        long long den = 2LL * dst;
        int i = static_cast<int>(num / den);
        unsigned frac = static_cast<unsigned>(((num % den) * kLinearOne + den / 2) / den);
        if (i >= src - 1 || frac == 0 || frac >= kLinearOne) {
            s.first = std::min(frac >= kLinearOne ? i + 1 : i, src - 1);
            s.count = 1;
            s.wFirst = kLinearOne;
            s.wLast = 0;
            continue;
        }
        s.first = i;
        s.count = 2;
        s.wFirst = kLinearOne - frac;
        s.wLast = frac;
    }
}

void Plan(Axis& axis, int src, int dst) {
    if (dst <= src)
        PlanArea(axis, src, dst);
    else
        PlanLinear(axis, src, dst);
}

// Exact division by a constant through one wide multiplication: for n < 2^48,
// (n * m) >> (48 + l) equals n / d when m = ceil(2^(48+l) / d) and 2^l >= d.
class Divider {
public:
    explicit Divider(unsigned long long d) : m_half(d / 2) {
        m_shift = 48;
        while ((1ULL << (m_shift - 48)) < d) ++m_shift;
        unsigned __int128 one = static_cast<unsigned __int128>(1) << m_shift;
        m_mul = (one + d - 1) / d;
    }
    // Rounded to nearest.
    unsigned operator()(unsigned long long n) const {
        return static_cast<unsigned>((static_cast<unsigned __int128>(n + m_half) * m_mul) >> m_shift);
    }

private:
    unsigned long long m_half;
    unsigned __int128 m_mul;
    unsigned m_shift;
};

// The common case, 2 <= d < 2^24, where every rounded sum n is below 2^32:
// the high half of n * ceil(2^64 / d). Its error is below n / 2^64, which is
// below 1 / d because n * d < 2^64, so the floor is exact.
class Divider32 {
public:
    explicit Divider32(std::uint32_t d) : m_half(d / 2), m_mul(d < 2 ? 0 : ~0ULL / d + 1) {}
    unsigned operator()(std::uint32_t n) const {
        return static_cast<unsigned>((static_cast<unsigned __int128>(n + m_half) * m_mul) >> 64);
    }

private:
    std::uint32_t m_half;
    std::uint64_t m_mul;
};

const std::uint8_t* Row(const ConstPixels& p, int y) { return p.data + p.stride * static_cast<std::ptrdiff_t>(y); }

// Rows added up unweighted in 16 bits before they are weighted: few enough that
// the sum stays below 2^15, which the multiply-add below needs.
constexpr int kRowsPer16 = 32767 / 255;
// Weights at or below this go through the 16-bit multiply-add.
constexpr std::uint32_t kMaxWeight16 = 32767;

#if defined(__SSE2__)
// acc[k] = wa * a[k] + wb * b[k]: the bytes of a and b are interleaved as 16-bit
// pairs so that one multiply-add gives both products and their sum.
size_t WeighPair(const std::uint8_t* a, std::uint32_t wa, const std::uint8_t* b, std::uint32_t wb,
                 std::uint32_t* acc, size_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i w = _mm_set1_epi32(static_cast<int>(wa | (wb << 16)));
    size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
        __m128i alo = _mm_unpacklo_epi8(va, zero), ahi = _mm_unpackhi_epi8(va, zero);
        __m128i blo = _mm_unpacklo_epi8(vb, zero), bhi = _mm_unpackhi_epi8(vb, zero);
        __m128i* out = reinterpret_cast<__m128i*>(acc + k);
        _mm_storeu_si128(out, _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), w));
        _mm_storeu_si128(out + 1, _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), w));
        _mm_storeu_si128(out + 2, _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), w));
        _mm_storeu_si128(out + 3, _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), w));
    }
    return k;
}

// acc[k] += w * sum[k] for sums and weight below 2^15.
size_t AddWeighted(const std::uint16_t* sum, std::uint32_t w, std::uint32_t* acc, size_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i vw = _mm_set1_epi32(static_cast<int>(w));
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + k));
        __m128i* out = reinterpret_cast<__m128i*>(acc + k);
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(v, zero), vw);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(v, zero), vw);
        _mm_storeu_si128(out, _mm_add_epi32(_mm_loadu_si128(out), lo));
        _mm_storeu_si128(out + 1, _mm_add_epi32(_mm_loadu_si128(out + 1), hi));
    }
    return k;
}
#else
size_t WeighPair(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t*, size_t) {
    return 0;
}
size_t AddWeighted(const std::uint16_t*, std::uint32_t, std::uint32_t*, size_t) { return 0; }
#endif

// Weighted sum of the source rows of one span into acc (one 32-bit entry per byte).
// Middle rows, which all carry the same weight, are first added up unweighted
// in 16 bits: that is the loop that touches most of the source, and it has no
// multiplication.
void SumRows(const ConstPixels& src, const Span& s, size_t n, std::uint32_t* acc, std::uint16_t* sum16) {
    const std::uint8_t* a = Row(src, s.first);
    const std::uint8_t* b = Row(src, s.first + s.count - 1);
    const std::uint32_t wa = s.wFirst, wb = s.wLast;
    const std::uint32_t wm = s.wMiddle;
    const bool fast = wa <= kMaxWeight16 && wb <= kMaxWeight16 && wm <= kMaxWeight16;
    size_t k = fast ? WeighPair(a, wa, b, wb, acc, n) : 0;
    for (; k < n; ++k) acc[k] = wa * a[k] + wb * b[k];
    int row = s.first + 1;
    const int end = s.first + s.count - 1;
    while (row < end) {
        int chunk = std::min(end - row, kRowsPer16);
        const std::uint8_t* r = Row(src, row);
        for (size_t i = 0; i < n; ++i) sum16[i] = r[i];
        for (int y = 1; y < chunk; ++y) {
            r = Row(src, row + y);
            for (size_t i = 0; i < n; ++i) sum16[i] = static_cast<std::uint16_t>(sum16[i] + r[i]);
        }
        k = fast ? AddWeighted(sum16, wm, acc, n) : 0;
        for (; k < n; ++k) acc[k] += wm * sum16[k];
        row += chunk;
    }
}

// Weighted sum across the columns of one span of acc for each channel, divided
// down. Sum is 32 bits wide when the largest possible total fits, else 64.
// Branch-free per span: with one column the last tap is the first, weighted 0.
template <int C, typename Sum, typename Div>
void SumColumns(const std::uint32_t* acc, const Axis& ax, const Div& div, std::uint8_t* out, int width) {
    const Span* spans = ax.spans.data();
    for (int x = 0; x < width; ++x, out += C) {
        const Span& s = spans[x];
        const std::uint32_t* p = acc + static_cast<size_t>(s.first) * C;
        const std::uint32_t* q = p + static_cast<size_t>(s.count - 1) * C;
        Sum mid[C] = {};
        for (const std::uint32_t* r = p + C; r < q; r += C)
            for (int c = 0; c < C; ++c) mid[c] += r[c];
        const Sum wa = s.wFirst, wm = s.wMiddle, wb = s.wLast;
        for (int c = 0; c < C; ++c) out[c] = static_cast<std::uint8_t>(div(wa * p[c] + wm * mid[c] + wb * q[c]));
    }
}

template <typename Sum, typename Div>
void SumColumns(int channels, const std::uint32_t* acc, const Axis& ax, const Div& div, std::uint8_t* out,
                int width) {
    switch (channels) {
    case 1: SumColumns<1, Sum>(acc, ax, div, out, width); break;
    case 2: SumColumns<2, Sum>(acc, ax, div, out, width); break;
    case 3: SumColumns<3, Sum>(acc, ax, div, out, width); break;
    default: SumColumns<4, Sum>(acc, ax, div, out, width); break;
    }
}

bool Valid(int w, int h, const void* data, std::ptrdiff_t stride, int channels) {
    if (!data || w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return false;
    std::ptrdiff_t row = static_cast<std::ptrdiff_t>(w) * channels;
    return stride >= row || -stride >= row;
}

}  // namespace

bool Resample(ConstPixels src, Pixels dst, int channels) {
    if (channels < 1 || channels > 4) return false;
    if (!Valid(src.width, src.height, src.data, src.stride, channels) ||
        !Valid(dst.width, dst.height, dst.data, dst.stride, channels))
        return false;
    try {
        Axis ax, ay;
        Plan(ax, src.width, dst.width);
        Plan(ay, src.height, dst.height);
        const size_t n = static_cast<size_t>(src.width) * static_cast<size_t>(channels);
        std::vector<std::uint32_t> acc(n);
        std::vector<std::uint16_t> sum16(n);
        const unsigned long long total = static_cast<unsigned long long>(ax.total) * ay.total;
        const bool narrow = total >= 2 && total < (1ULL << 24);
        const Divider div(total);
        const Divider32 div32(narrow ? static_cast<std::uint32_t>(total) : 1u);
        for (int y = 0; y < dst.height; ++y) {
            SumRows(src, ay.spans[static_cast<size_t>(y)], n, acc.data(), sum16.data());
            std::uint8_t* out = dst.data + dst.stride * static_cast<std::ptrdiff_t>(y);
            if (narrow)
                SumColumns<std::uint32_t>(channels, acc.data(), ax, div32, out, dst.width);
            else
                SumColumns<unsigned long long>(channels, acc.data(), ax, div, out, dst.width);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace handpix
