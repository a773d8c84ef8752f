#include "handpix/jpegcodec/JpegKernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HANDPIX_X86_DISPATCH 1
#else
#define HANDPIX_X86_DISPATCH 0
#endif

#include "handpix/jpegcodec/JpegTables.h"
#include "handpix/platform/core/Zigzag.h"

// The vector helpers below are inlined everywhere, so the calling convention
// for 32-byte vectors never crosses a function boundary.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

// The hot loops are built twice, for AVX2 and for the baseline, and one of
// the two is chosen once, at first use; both compute the same IEEE
// operations lane by lane.
#if HANDPIX_X86_DISPATCH
#define HANDPIX_AVX2 __attribute__((target("avx2")))
#else
#define HANDPIX_AVX2
#endif

namespace handpix::jpeg {
namespace {

struct FloatMatrix {
    float m[8][8];
};
struct DoubleMatrix {
    double m[8][8];
};

// C[u][x] of the inverse transform: row 0 carries c(0) = 0.7071.
constexpr FloatMatrix MakeIdctMatrix() {
    FloatMatrix c{};
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x) c.m[u][x] = u == 0 ? 0.7071f : Cos4(u, x);
    return c;
}
// K[k][j] of the forward transform (row 0 is 1).
constexpr DoubleMatrix MakeDctMatrix() {
    DoubleMatrix k{};
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) k.m[a][b] = Cos4(a, b);
    return k;
}
// c(u) * c(v) of the forward transform, exact in double.
constexpr DoubleMatrix MakeDctScale() {
    DoubleMatrix s{};
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            s.m[u][v] = static_cast<double>(u == 0 ? 0.7071f : 1.0f) * static_cast<double>(v == 0 ? 0.7071f : 1.0f);
    return s;
}

constexpr FloatMatrix kIdct = MakeIdctMatrix();
constexpr DoubleMatrix kDct = MakeDctMatrix();
constexpr DoubleMatrix kDctScale = MakeDctScale();

inline std::uint8_t ClampByte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// Eight lanes of float or int; GCC and Clang map them to one AVX2 register
// or two SSE registers. Lane-wise IEEE operations give the scalar results.
using F8 = float __attribute__((vector_size(32)));
using I8 = int __attribute__((vector_size(32)));
using S8 = std::int16_t __attribute__((vector_size(16)));
using S16 = std::int16_t __attribute__((vector_size(32)));
using B8 = std::uint8_t __attribute__((vector_size(8)));
using U32 = std::uint8_t __attribute__((vector_size(32)));

// 16-bit lanes to float by way of 32-bit lanes (exact either way): the
// direct conversion is split into 128-bit halves by GCC, this one is two
// whole-register instructions.
[[gnu::always_inline]] inline F8 ToFloat(S8 s) { return __builtin_convertvector(__builtin_convertvector(s, I8), F8); }

// Loads go through a reference: a vector returned by value would cross a
// call boundary in unoptimised builds.
template <typename V, typename T>
[[gnu::always_inline]] inline void Load(V& v, const T* p) {
    std::memcpy(&v, p, sizeof v);
}

// out[x][y] = (sum_v T[x][v] * C[v][y]) * 0.25 with T[x][v] = sum_u C[u][x] * F[u][v],
// each sum accumulated in float in increasing index order, as the plain
// formula does; a lane holds one of eight independent sums.
// Vectors never cross a call: without AVX the calling convention for them
// differs between the two builds of the callers.
[[gnu::always_inline]] inline void IdctCore(const std::int16_t* coef, unsigned rowMask, unsigned colMask, I8 out[8]) {
    // Row 0 and column 0 always take part (the DC term), so the sums start
    // from their terms instead of from zero: 0 + a is a. The other rows and
    // columns are visited by their mask bits, in increasing order.
    F8 t[8];
    {
        S8 s;
        std::memcpy(&s, coef, sizeof s);
        const F8 f = ToFloat(s);
        for (int x = 0; x < 8; ++x) t[x] = kIdct.m[0][x] * f;
    }
    for (unsigned m = rowMask & 0xFE; m; m &= m - 1) {
        const int u = std::countr_zero(m);
        S8 s;
        std::memcpy(&s, coef + 8 * u, sizeof s);
        const F8 f = ToFloat(s);
        for (int x = 0; x < 8; ++x) t[x] += kIdct.m[u][x] * f;
    }
    // The second pass multiplies single values of t by rows of C: read from
    // memory, each is one broadcast load instead of a lane shuffle.
    alignas(32) float tm[8][8];
    for (int x = 0; x < 8; ++x) std::memcpy(tm[x], &t[x], sizeof t[x]);
    F8 o[8], c;
    Load(c, kIdct.m[0]);
    for (int x = 0; x < 8; ++x) o[x] = tm[x][0] * c;
    for (unsigned m = colMask & 0xFE; m; m &= m - 1) {
        const int v = std::countr_zero(m);
        Load(c, kIdct.m[v]);
        for (int x = 0; x < 8; ++x) o[x] += tm[x][v] * c;
    }
    for (int x = 0; x < 8; ++x) out[x] = __builtin_convertvector(o[x] * 0.25f, I8);
}

// The forward transform of one coefficient by the direct quadruple sum, each
// term f * K[v][y] * K[u][x] added to a double accumulator in raster order.
double DirectDct(const std::int16_t* area, std::ptrdiff_t stride, int u, int v) {
    double s = 0.0;
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y)
            s += static_cast<double>(area[x * stride + y]) * kDct.m[v][y] * kDct.m[u][x];
    return kDctScale.m[u][v] * s * 0.25;
}

inline std::int16_t QuantizeTruncated(double f, int q) {
    return static_cast<std::int16_t>(static_cast<int>(f) / q);
}

}  // namespace

namespace {

[[gnu::always_inline]] inline void IdctToBytesBody(const std::int16_t* coef, unsigned rowMask, unsigned colMask,
                                                   std::uint8_t* dst, std::ptrdiff_t stride) {
    if ((rowMask | colMask) <= 1) {
        // Only the DC term: every sum has one nonzero term, so all 64 outputs
        // are the same product.
        const float dc = (0.7071f * static_cast<float>(coef[0])) * 0.7071f;
        const std::uint8_t b = ClampByte(static_cast<int>(dc * 0.25f) + 128);
        for (int x = 0; x < 8; ++x) std::fill_n(dst + x * stride, 8, b);
        return;
    }
    I8 out[8];
    IdctCore(coef, rowMask, colMask, out);
    for (int x = 0; x < 8; ++x) {
        I8 r = out[x] + 128;
        r = r < 0 ? 0 : r;
        r = r > 255 ? 255 : r;
        // Low byte of each lane: a byte shuffle rather than lane-by-lane stores.
        U32 bytes;
        std::memcpy(&bytes, &r, sizeof bytes);
#if defined(__clang__)
        const B8 b = __builtin_shufflevector(bytes, bytes, 0, 4, 8, 12, 16, 20, 24, 28);
#else
        const U32 packed = __builtin_shuffle(bytes, U32{0, 4, 8, 12, 16, 20, 24, 28});
        B8 b;
        std::memcpy(&b, &packed, sizeof b);
#endif
        std::memcpy(dst + x * stride, &b, sizeof b);
    }
}

}  // namespace

#if HANDPIX_X86_DISPATCH
// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector,
// which its own flow analysis then reports.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace {

// The inverse transform on 16 lanes: each vector holds two rows x, x + 1 of
// the results (or of the first pass), lanes 0-7 and 8-15. The operations on
// each lane are IdctCore's, in its order.
struct IdctPairs {
    float rows[8][4][16];  // [u][pair p]: C[u][2p] in lanes 0-7, C[u][2p + 1] in lanes 8-15
    float cols[8][16];     // [v]: C[v][0..7] in both halves
};
constexpr IdctPairs MakeIdctPairs() {
    IdctPairs t{};
    for (int u = 0; u < 8; ++u) {
        for (int p = 0; p < 4; ++p)
            for (int i = 0; i < 16; ++i) t.rows[u][p][i] = kIdct.m[u][2 * p + i / 8];
        for (int i = 0; i < 16; ++i) t.cols[u][i] = kIdct.m[u][i % 8];
    }
    return t;
}
alignas(64) constexpr IdctPairs kIdctPairs = MakeIdctPairs();

// Row u of the coefficients in both halves.
[[gnu::always_inline, gnu::target("avx512f")]] inline __m512 CoefficientRowTwice(const std::int16_t* coef, int u) {
    const __m256i s = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * u)));
    return _mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(s));
}

// acc[p] += row[p] * f for the four pairs, each product and sum as IdctCore's.
[[gnu::always_inline, gnu::target("avx512f")]] inline void AddPairs(__m512& a0, __m512& a1, __m512& a2, __m512& a3,
                                                                  const float (*row)[16], __m512 f) {
    a0 = _mm512_add_ps(a0, _mm512_mul_ps(_mm512_load_ps(row[0]), f));
    a1 = _mm512_add_ps(a1, _mm512_mul_ps(_mm512_load_ps(row[1]), f));
    a2 = _mm512_add_ps(a2, _mm512_mul_ps(_mm512_load_ps(row[2]), f));
    a3 = _mm512_add_ps(a3, _mm512_mul_ps(_mm512_load_ps(row[3]), f));
}

[[gnu::always_inline, gnu::target("avx512f")]] inline void StorePair(__m512 o, std::uint8_t* dst, std::ptrdiff_t stride) {
    __m512i r = _mm512_add_epi32(_mm512_cvttps_epi32(_mm512_mul_ps(o, _mm512_set1_ps(0.25f))), _mm512_set1_epi32(128));
    const __m128i b = _mm512_cvtusepi32_epi8(_mm512_max_epi32(r, _mm512_setzero_si512()));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), b);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_unpackhi_epi64(b, b));
}

// Named accumulators rather than arrays, so that they stay in registers.
[[gnu::target("avx512f")]] void IdctToBytesAvx512(const std::int16_t* coef, unsigned rowMask, unsigned colMask,
                                                  std::uint8_t* dst, std::ptrdiff_t stride) {
    if ((rowMask | colMask) <= 1) return IdctToBytesBody(coef, rowMask, colMask, dst, stride);
    const __m512 f0 = CoefficientRowTwice(coef, 0);
    __m512 t0 = _mm512_mul_ps(_mm512_load_ps(kIdctPairs.rows[0][0]), f0);
    __m512 t1 = _mm512_mul_ps(_mm512_load_ps(kIdctPairs.rows[0][1]), f0);
    __m512 t2 = _mm512_mul_ps(_mm512_load_ps(kIdctPairs.rows[0][2]), f0);
    __m512 t3 = _mm512_mul_ps(_mm512_load_ps(kIdctPairs.rows[0][3]), f0);
    for (unsigned m = rowMask & 0xFE; m; m &= m - 1) {
        const int u = std::countr_zero(m);
        AddPairs(t0, t1, t2, t3, kIdctPairs.rows[u], CoefficientRowTwice(coef, u));
    }
    // T[x][v] spread over the half of its row: lane v of each half.
    const __m512i half = _mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8);
    const __m512 c0 = _mm512_load_ps(kIdctPairs.cols[0]);
    __m512 o0 = _mm512_mul_ps(_mm512_permutexvar_ps(half, t0), c0);
    __m512 o1 = _mm512_mul_ps(_mm512_permutexvar_ps(half, t1), c0);
    __m512 o2 = _mm512_mul_ps(_mm512_permutexvar_ps(half, t2), c0);
    __m512 o3 = _mm512_mul_ps(_mm512_permutexvar_ps(half, t3), c0);
    for (unsigned m = colMask & 0xFE; m; m &= m - 1) {
        const int v = std::countr_zero(m);
        const __m512i at = _mm512_add_epi32(half, _mm512_set1_epi32(v));
        const __m512 c = _mm512_load_ps(kIdctPairs.cols[v]);
        o0 = _mm512_add_ps(o0, _mm512_mul_ps(_mm512_permutexvar_ps(at, t0), c));
        o1 = _mm512_add_ps(o1, _mm512_mul_ps(_mm512_permutexvar_ps(at, t1), c));
        o2 = _mm512_add_ps(o2, _mm512_mul_ps(_mm512_permutexvar_ps(at, t2), c));
        o3 = _mm512_add_ps(o3, _mm512_mul_ps(_mm512_permutexvar_ps(at, t3), c));
    }
    StorePair(o0, dst, stride);
    StorePair(o1, dst + 2 * stride, stride);
    StorePair(o2, dst + 4 * stride, stride);
    StorePair(o3, dst + 6 * stride, stride);
}

}  // namespace
#pragma GCC diagnostic pop
#endif

void IdctBlock(std::int16_t block[64]) {
    alignas(32) std::int16_t in[64];
    std::copy_n(block, 64, in);
    I8 out[8];
    IdctCore(in, 0xFF, 0xFF, out);
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) block[x * 8 + y] = static_cast<std::int16_t>(std::clamp(out[x][y], -32768, 32767));
}

namespace {

// Where the fast forward transform leaves coefficient (u, v) among 64
// 16-bit values: it computes column v with its lanes over u, and packing two
// columns to 16 bits puts their halves side by side (lanes u < 4 of v and
// v + 1, then lanes u >= 4 of both). Zig-zag order is gathered from there.
constexpr int PackedSlot(int u, int v) { return 8 * (v / 2 * 2 + u / 4) + 4 * (v % 2) + u % 4; }

// The transform's slack per coefficient, in units of its quotient, for
// blocks whose samples lie in -128..127 (see Quotients).
double QuotientSlack(int u, int v, double q) { return 0x1p-7 * (kDctScale.m[u][v] * 0.25) / q; }

}  // namespace

QuantPlan MakeQuantPlan(const std::uint8_t quantZigzag[64]) {
    QuantPlan p{};
    for (int k = 0; k < 64; ++k) p.q[kZigzag[k]] = quantZigzag[k] ? quantZigzag[k] : 1;
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            const double q = p.q[8 * u + v];
            p.ratio[8 * v + u] = static_cast<float>(kDctScale.m[u][v] * 0.25 / q);
            // Rounded up, so the float slack is never below the proven one.
            const auto slack = static_cast<float>(QuotientSlack(u, v, q));
            p.slack[8 * v + u] = slack < QuotientSlack(u, v, q) ? std::nextafter(slack, 1.0f) : slack;
        }
    return p;
}

const QuantPlan& LumaPlan() {
    static const QuantPlan plan = MakeQuantPlan(kLumaQuant);
    return plan;
}

const QuantPlan& ChromaPlan() {
    static const QuantPlan plan = MakeQuantPlan(kChromaQuant);
    return plan;
}

namespace {

// K[k][7-j] = (-1)^k K[k][j], and within the first half the even rows repeat
// their values: row 0 is 1, row 4 is (a, -a, -a, a), rows 2 and 6 are
// (a, b, -b, -a). The butterfly below relies on exactly these equalities.
constexpr bool DctSymmetric() {
    for (int k = 0; k < 8; ++k)
        for (int j = 0; j < 4; ++j)
            if (kDct.m[k][7 - j] != (k % 2 ? -kDct.m[k][j] : kDct.m[k][j])) return false;
    for (int j = 0; j < 8; ++j)
        if (kDct.m[0][j] != 1.0) return false;
    const auto& k2 = kDct.m[2];
    const auto& k4 = kDct.m[4];
    const auto& k6 = kDct.m[6];
    return k4[1] == -k4[0] && k4[2] == -k4[0] && k4[3] == k4[0] && k2[2] == -k2[1] && k2[3] == -k2[0] &&
           k6[2] == -k6[1] && k6[3] == -k6[0];
}
static_assert(DctSymmetric());

template <int K, int J>
constexpr float kK = static_cast<float>(kDct.m[K][J]);

// out[k] = sum_j K[k][j] in[j] for eight lanes at once, through sums and
// differences of mirrored inputs. Rounding steps on the way to each output:
// outputs 0 and 4 at most 3 and 4 (sums, difference, product), 2 and 6 at
// most 4, the odd ones at most 5 (difference, product, three sums).
[[gnu::always_inline]] inline void Butterfly(const F8 in[8], F8 out[8]) {
    F8 e[4], o[4];
    for (int j = 0; j < 4; ++j) {
        e[j] = in[j] + in[7 - j];
        o[j] = in[j] - in[7 - j];
    }
    const F8 ee0 = e[0] + e[3], ee1 = e[1] + e[2], eo0 = e[0] - e[3], eo1 = e[1] - e[2];
    out[0] = ee0 + ee1;
    out[4] = kK<4, 0> * (ee0 - ee1);
    out[2] = kK<2, 0> * eo0 + kK<2, 1> * eo1;
    out[6] = kK<6, 0> * eo0 + kK<6, 1> * eo1;
    out[1] = ((kK<1, 0> * o[0] + kK<1, 1> * o[1]) + kK<1, 2> * o[2]) + kK<1, 3> * o[3];
    out[3] = ((kK<3, 0> * o[0] + kK<3, 1> * o[1]) + kK<3, 2> * o[2]) + kK<3, 3> * o[3];
    out[5] = ((kK<5, 0> * o[0] + kK<5, 1> * o[1]) + kK<5, 2> * o[2]) + kK<5, 3> * o[3];
    out[7] = ((kK<7, 0> * o[0] + kK<7, 1> * o[1]) + kK<7, 2> * o[2]) + kK<7, 3> * o[3];
}

// out[j][i] = in[i][j] by the usual three rounds of two-input shuffles,
// which AVX2 has as single instructions.
template <int... kLanes>
[[gnu::always_inline]] inline F8 Shuffle(const F8& a, const F8& b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, kLanes...);
#else
    return __builtin_shuffle(a, b, I8{kLanes...});
#endif
}
[[gnu::always_inline]] inline void Transpose(const F8 in[8], F8 out[8]) {
    F8 t[8], s[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = Shuffle<0, 8, 1, 9, 4, 12, 5, 13>(in[i], in[i + 1]);
        t[i + 1] = Shuffle<2, 10, 3, 11, 6, 14, 7, 15>(in[i], in[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        s[i] = Shuffle<0, 1, 8, 9, 4, 5, 12, 13>(t[i], t[i + 2]);
        s[i + 1] = Shuffle<2, 3, 10, 11, 6, 7, 14, 15>(t[i], t[i + 2]);
        s[i + 2] = Shuffle<0, 1, 8, 9, 4, 5, 12, 13>(t[i + 1], t[i + 3]);
        s[i + 3] = Shuffle<2, 3, 10, 11, 6, 7, 14, 15>(t[i + 1], t[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        out[j] = Shuffle<0, 1, 2, 3, 8, 9, 10, 11>(s[j], s[j + 4]);
        out[j + 4] = Shuffle<4, 5, 6, 7, 12, 13, 14, 15>(s[j], s[j + 4]);
    }
}

#if HANDPIX_X86_DISPATCH
// Byte masks that gather zig-zag order from the packed quotients: output
// vector o (coefficients 8o to 8o + 7) takes from packed vector c the bytes
// m[o][c], and c takes part only where bit c of used[o] is set.
struct ZigzagGather {
    std::uint8_t m[8][8][16];
    std::uint8_t used[8];
};
constexpr ZigzagGather MakeZigzagGather() {
    ZigzagGather g{};
    for (int o = 0; o < 8; ++o)
        for (int c = 0; c < 8; ++c)
            for (int j = 0; j < 8; ++j) {
                const int n = kZigzag[8 * o + j], at = PackedSlot(n / 8, n % 8);
                const bool here = at / 8 == c;
                g.m[o][c][2 * j] = static_cast<std::uint8_t>(here ? 2 * (at % 8) : 0x80);
                g.m[o][c][2 * j + 1] = static_cast<std::uint8_t>(here ? 2 * (at % 8) + 1 : 0x80);
                if (here) g.used[o] = static_cast<std::uint8_t>(g.used[o] | 1 << c);
            }
    return g;
}
constexpr ZigzagGather kZigzagGather = MakeZigzagGather();

// The quotients of columns v (lanes over u) packed to 16 bits and gathered
// into zig-zag order by byte shuffles: 26 shuffles instead of 64 loads and
// stores of single values.
// Returns the nonzero mask of the result (bit k for coefficient k).
[[gnu::target("avx2")]] inline std::uint64_t PackToZigzag(const I8 quotient[8], std::int16_t* out) {
    __m128i chunk[8];
    for (int v = 0; v < 8; v += 2) {
        const __m256i p = _mm256_packs_epi32(__m256i(quotient[v]), __m256i(quotient[v + 1]));
        chunk[v] = _mm256_castsi256_si128(p);
        chunk[v + 1] = _mm256_extracti128_si256(p, 1);
    }
    __m128i zero[8];
#pragma GCC unroll 8
    for (int o = 0; o < 8; ++o) {
        __m128i g = _mm_setzero_si128();
#pragma GCC unroll 8
        for (int c = 0; c < 8; ++c)
            if (kZigzagGather.used[o] >> c & 1)
                g = _mm_or_si128(
                    g,
                    _mm_shuffle_epi8(
                        chunk[c], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kZigzagGather.m[o][c]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * o), g);
        zero[o] = _mm_cmpeq_epi16(g, _mm_setzero_si128());
    }
    std::uint64_t zeros = 0;
    for (int o = 0; o < 8; o += 2)
        zeros |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(zero[o], zero[o + 1])))
                 << (8 * o);
    return ~zeros;
}
#endif

std::uint64_t NonzeroMask(const std::int16_t* out) {
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= static_cast<std::uint64_t>(out[k] != 0) << k;
    return mask;
}

// The area's rows as floats; false when a sample lies outside -128..127
// (planes hold sample - 128), where the fast path's error bound does not
// hold.
[[gnu::always_inline]] inline bool LoadBlock(const std::int16_t* area, std::ptrdiff_t stride, F8 f[8]) {
    S8 outside = {};
    for (int x = 0; x < 8; ++x) {
        S8 row;
        Load(row, area + x * stride);
        outside |= static_cast<S8>(row + 128) & static_cast<std::int16_t>(0xFF00);
        f[x] = ToFloat(row);
    }
    std::uint64_t half[2];
    std::memcpy(half, &outside, sizeof half);
    return (half[0] | half[1]) == 0;
}

// Samples (bytes) minus 128 as floats: always within the range.
[[gnu::always_inline]] inline bool LoadBlock(const std::uint8_t* area, std::ptrdiff_t stride, F8 f[8]) {
    for (int x = 0; x < 8; ++x) {
        B8 row;
        Load(row, area + x * stride);
        f[x] = ToFloat(__builtin_convertvector(row, S8) - 128);
    }
    return true;
}

#if HANDPIX_X86_DISPATCH
[[gnu::target("avx2")]] inline bool LoadBlockAvx2(const std::uint8_t* area, std::ptrdiff_t stride, F8* f) {
    for (int x = 0; x < 8; ++x) {
        const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(area + x * stride));
        f[x] = _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_cvtepu8_epi32(row), _mm256_set1_epi32(128)));
    }
    return true;
}

[[gnu::target("avx2")]] inline bool LoadBlockAvx2(const std::int16_t* area, std::ptrdiff_t stride, F8* f) {
    __m256i outside = _mm256_setzero_si256();
    for (int x = 0; x < 8; ++x) {
        const __m256i w =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(area + x * stride)));
        outside = _mm256_or_si256(outside, _mm256_add_epi32(w, _mm256_set1_epi32(128)));
        f[x] = _mm256_cvtepi32_ps(w);
    }
    return _mm256_testz_si256(outside, _mm256_set1_epi32(~0xFF));
}
#endif

// The fast path: the separable product in single precision, a butterfly
// down the columns (lanes over y), a transpose, a butterfly along the rows
// (lanes over u), and column v times c(u)c(v)/4q, giving the quotient r of
// column v. Error bound, with e = 2^-24, S = sum |f| <= 64 * 128 and
// |K| <= 1: the first pass is exact on the integer sums and rounds at most
// 4 times after them, so its values are off by 4e S in all (summed over
// y); the second pass rounds at most 5 times on values whose magnitudes
// sum to (1 + 4e) S: 5e S more. With the constant rounded to float (e) and
// the product (e), r lies within (c(u)c(v)/4q) S (11e + O(e^2)) of the
// exact F / q, and the direct double sum lies within 70 * 2^-53 S of
// exact. The slack d is (c(u)c(v)/4q) 16e S, which also covers rounding
// r + d and r - d (e r). So F / q of the direct sum lies in [r - d, r + d];
// where both ends truncate alike (truncation is monotonic) so does the
// direct sum, and the rare coefficients where they differ are recomputed
// by it.
[[gnu::always_inline]] inline void Quotients(const F8 f[8], const QuantPlan& quant, I8 high[8], I8 low[8]) {
    F8 g[8], t[8], h[8];
    Butterfly(f, g);
    Transpose(g, t);
    Butterfly(t, h);
    for (int v = 0; v < 8; ++v) {
        F8 ratio, slack;
        Load(ratio, quant.ratio + 8 * v);
        Load(slack, quant.slack + 8 * v);
        const F8 r = h[v] * ratio;
        high[v] = __builtin_convertvector(r + slack, I8);
        low[v] = __builtin_convertvector(r - slack, I8);
    }
}

// Zig-zag index of natural index n.
constexpr std::array<std::uint8_t, 64> MakeZigzagOf() {
    std::array<std::uint8_t, 64> z{};
    for (int k = 0; k < 64; ++k) z[kZigzag[k]] = static_cast<std::uint8_t>(k);
    return z;
}
constexpr std::array<std::uint8_t, 64> kZigzagOf = MakeZigzagOf();

// Replaces the quotients whose interval ends truncate differently by the
// direct sum's. Rare, so kept out of line; the fast path is repeated as it
// ran (the same IEEE operations give the same values in either build).
[[gnu::noinline, gnu::cold]] std::uint64_t FixNearBoundaries(const std::int16_t* area, std::ptrdiff_t stride,
                                                             const QuantPlan& quant, std::int16_t* out) {
    F8 f[8];
    LoadBlock(area, stride, f);
    I8 high[8], low[8];
    Quotients(f, quant, high, low);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
            if (high[v][u] != low[v][u])
                out[kZigzagOf[8 * u + v]] =
                    QuantizeTruncated(DirectDct(area, stride, u, v), static_cast<int>(quant.q[8 * u + v]));
    return NonzeroMask(out);
}

std::uint64_t FixNearBoundaries(const std::uint8_t* area, std::ptrdiff_t stride, const QuantPlan& quant,
                                std::int16_t* out) {
    std::int16_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(area[i / 8 * stride + i % 8] - 128);
    return FixNearBoundaries(block, 8, quant, out);
}

// T: std::int16_t for values, std::uint8_t for samples that stand for
// themselves minus 128.
template <bool kAvx2, typename T>
[[gnu::always_inline]] inline std::uint64_t ForwardDctQuantizeBody(const T* area, std::ptrdiff_t stride,
                                                                   const QuantPlan& quant,
                                                                   std::int16_t* out) {
    F8 f[8];
    bool inRange = false;
#if HANDPIX_X86_DISPATCH
    if constexpr (kAvx2) inRange = LoadBlockAvx2(area, stride, f);
#endif
    if constexpr (!kAvx2) inRange = LoadBlock(area, stride, f);
    if (!inRange) {
        // Outside the encoder's range (where truncated values could also
        // leave 16 bits): the direct sum. Samples are never outside.
        if constexpr (std::is_same_v<T, std::int16_t>) {
            for (int k = 0; k < 64; ++k) {
                const int n = kZigzag[k];
                out[k] = static_cast<std::int16_t>(
                    static_cast<std::int16_t>(static_cast<int>(DirectDct(area, stride, n / 8, n % 8))) /
                    static_cast<int>(quant.q[n]));
            }
        }
        return NonzeroMask(out);
    }
    I8 quotient[8], low[8], differ = {};
    Quotients(f, quant, quotient, low);
    for (int v = 0; v < 8; ++v) differ |= quotient[v] ^ low[v];
    std::uint64_t mask = 0;
#if HANDPIX_X86_DISPATCH
    if constexpr (kAvx2) mask = PackToZigzag(quotient, out);
#endif
    if constexpr (!kAvx2) {
        for (int k = 0; k < 64; ++k)
            out[k] = static_cast<std::int16_t>(quotient[kZigzag[k] % 8][kZigzag[k] / 8]);
        mask = NonzeroMask(out);
    }
    std::uint64_t lanes[4];
    std::memcpy(lanes, &differ, sizeof lanes);
    if ((lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0) return FixNearBoundaries(area, stride, quant, out);
    return mask;
}

}  // namespace

namespace {

constexpr int kChunk = 32;

inline std::uint8_t ClampTrunc(float v) {
    return static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(v, 0.0f), 255.0f)));
}

// Stores packed pixels 3 bytes apart: four at a time by one byte shuffle and
// a 16-byte store whose last 4 bytes the next store overwrites, then one at a
// time (4-byte stores, the spare byte again overwritten), the last bytewise.
// Nothing is written past 3 * m bytes.
inline void StorePacked(const std::uint32_t* px, int m, std::uint8_t* d) {
    using V16 = std::uint8_t __attribute__((vector_size(16)));
    int i = 0;
    for (; 3 * i + 16 <= 3 * m; i += 4) {
        V16 v;
        std::memcpy(&v, px + i, sizeof v);
#if defined(__clang__)
        const V16 p = __builtin_shufflevector(v, v, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
#else
        const V16 p = __builtin_shuffle(v, V16{0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15});
#endif
        std::memcpy(d + 3 * i, &p, sizeof p);
    }
    for (; i + 1 < m; ++i) std::memcpy(d + 3 * i, &px[i], 4);
    const std::uint32_t last = px[m - 1];
    d[3 * (m - 1)] = static_cast<std::uint8_t>(last);
    d[3 * (m - 1) + 1] = static_cast<std::uint8_t>(last >> 8);
    d[3 * (m - 1) + 2] = static_cast<std::uint8_t>(last >> 16);
}

inline void BgrChunk(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, std::uint8_t* y,
                     std::uint8_t* cb, std::uint8_t* cr) {
    for (int i = 0; i < kChunk; ++i) {
        const float B = b[i], G = g[i], R = r[i];
        y[i] = ClampTrunc(0.299f * R + 0.587f * G + 0.114f * B);
        cb[i] = ClampTrunc(0.5f * B - (0.1687f * R + 0.3313f * G) + 128.0f);
        cr[i] = ClampTrunc(0.5f * R - 0.4187f * G - 0.0813f * B + 128.0f);
    }
}

}  // namespace

namespace {

// One pixel by the formula.
inline void YccPixel(int y, int cb, int cr, std::uint8_t* bgr) {
    const float Y = static_cast<float>(y);
    const float u = static_cast<float>(cb - 128), v = static_cast<float>(cr - 128);
    bgr[0] = ClampTrunc(Y + 1.772f * u);
    bgr[1] = ClampTrunc(Y - 0.34414f * u - 0.71414f * v);
    bgr[2] = ClampTrunc(Y + 1.402f * v);
}

// kStep 2: chroma at half width, pixel i takes sample i / 2.
template <int kStep>
void YccRowPlain(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* bgr, int n) {
    for (int i = 0; i < n; ++i) YccPixel(y[i], cb[i / kStep], cr[i / kStep], bgr + 3 * i);
}

template <int kStep, int kRows>
void YccRowsPlain(const std::uint8_t* const* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* const* bgr,
                  int n) {
    for (int row = 0; row < kRows; ++row) YccRowPlain<kStep>(y[row], cb, cr, bgr[row], n);
}

#if HANDPIX_X86_DISPATCH
// Byte masks spreading 16 samples of one channel over 48 interleaved B, G,
// R bytes: output vector o takes, at byte b, sample (16o + b) / 3 of channel
// (16o + b) % 3, and a zero (0x80) elsewhere.
struct InterleaveMasks {
    std::uint8_t m[3][3][16];  // [output vector][channel][byte]
};
constexpr InterleaveMasks MakeInterleaveMasks() {
    InterleaveMasks t{};
    for (int o = 0; o < 3; ++o)
        for (int c = 0; c < 3; ++c)
            for (int b = 0; b < 16; ++b) {
                const int j = 16 * o + b;
                t.m[o][c][b] = static_cast<std::uint8_t>(j % 3 == c ? j / 3 : 0x80);
            }
    return t;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

[[gnu::always_inline, gnu::target("avx2")]] inline __m256 BytesToFloat(__m128i bytes, int offset) {
    return _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_cvtepu8_epi32(bytes), _mm256_set1_epi32(offset)));
}

// Truncated values of 16 pixels as bytes clamped to 0..255: the saturating
// packs clamp exactly where the formula's bounds do.
[[gnu::always_inline, gnu::target("avx2")]] inline __m256 Splat(float v) { return _mm256_set1_ps(v); }

[[gnu::always_inline, gnu::target("avx2")]] inline __m128i ClampToBytes(__m256 lo, __m256 hi) {
    const __m256i w = _mm256_permute4x64_epi64(_mm256_packs_epi32(_mm256_cvttps_epi32(lo), _mm256_cvttps_epi32(hi)), 0xD8);
    return _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
}

// 16 samples of each of three channels to 48 interleaved bytes.
[[gnu::always_inline, gnu::target("avx2")]] inline void StoreInterleaved(const __m128i ch[3], std::uint8_t* out) {
    for (int o = 0; o < 3; ++o) {
        __m128i v = _mm_setzero_si128();
        for (int c = 0; c < 3; ++c)
            v = _mm_or_si128(v, _mm_shuffle_epi8(ch[c], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kInterleave.m[o][c]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * o), v);
    }
}

// 16 pixels of each of kRows rows that share their chroma samples to 48
// bytes of B, G, R per row. Every value is computed by the formula's own
// float operations in its order; only the rounding to bytes is rearranged
// (truncate, then clamp: the same byte as clamp, then truncate).
template <int kStep, int kRows>
[[gnu::always_inline, gnu::target("avx2")]] inline void Ycc16(const std::uint8_t* const* y, const std::uint8_t* cb,
                                                            const std::uint8_t* cr, std::uint8_t* const* bgr, int at) {
    __m256 tb[2], tg1[2], tg2[2], tr[2];
    for (int h = 0; h < 3 - kStep; ++h) {
        const __m256 u = BytesToFloat(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + at / kStep + 8 * h)), 128);
        const __m256 v = BytesToFloat(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + at / kStep + 8 * h)), 128);
        tb[h] = _mm256_mul_ps(_mm256_set1_ps(1.772f), u);
        tg1[h] = _mm256_mul_ps(_mm256_set1_ps(0.34414f), u);
        tg2[h] = _mm256_mul_ps(_mm256_set1_ps(0.71414f), v);
        tr[h] = _mm256_mul_ps(_mm256_set1_ps(1.402f), v);
    }
    if constexpr (kStep == 2) {
        // Each chroma term serves two neighbouring pixels.
        const __m256i lo = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), hi = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
        for (__m256* t : {tb, tg1, tg2, tr}) {
            t[1] = _mm256_permutevar8x32_ps(t[0], hi);
            t[0] = _mm256_permutevar8x32_ps(t[0], lo);
        }
    }
    for (int row = 0; row < kRows; ++row) {
        const __m128i y16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y[row] + at));
        __m256 b[2], g[2], r[2];
        for (int h = 0; h < 2; ++h) {
            const __m256 Y = BytesToFloat(h ? _mm_srli_si128(y16, 8) : y16, 0);
            b[h] = _mm256_add_ps(Y, tb[h]);
            g[h] = _mm256_sub_ps(_mm256_sub_ps(Y, tg1[h]), tg2[h]);
            r[h] = _mm256_add_ps(Y, tr[h]);
        }
        const __m128i ch[3] = {ClampToBytes(b[0], b[1]), ClampToBytes(g[0], g[1]), ClampToBytes(r[0], r[1])};
        StoreInterleaved(ch, bgr[row] + 3 * static_cast<std::ptrdiff_t>(at));
    }
}

template <int kStep, int kRows>
[[gnu::target("avx2")]] void YccRowsAvx2(const std::uint8_t* const* y, const std::uint8_t* cb, const std::uint8_t* cr,
                                         std::uint8_t* const* bgr, int n) {
    int at = 0;
    // A group reads 16 / kStep chroma samples (8 at least): whole groups only.
    for (; at + 16 <= n; at += 16) Ycc16<kStep, kRows>(y, cb, cr, bgr, at);
    for (int row = 0; row < kRows; ++row)
        YccRowPlain<kStep>(y[row] + at, cb + at / kStep, cr + at / kStep, bgr[row] + 3 * at, n - at);
}

#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12's AVX-512 headers, as above
#endif
#define HANDPIX_AVX512 gnu::target("avx512f,avx512bw,avx512vbmi")

// kInterleave for one byte permute: B, G, R samples in bytes 0-15, 16-31,
// 32-47 of the source; output byte j takes sample j / 3 of channel j % 3.
struct InterleaveIndex {
    std::uint8_t m[64];
};
constexpr InterleaveIndex MakeInterleaveIndex() {
    InterleaveIndex t{};
    for (int j = 0; j < 64; ++j) t.m[j] = static_cast<std::uint8_t>(j < 48 ? 16 * (j % 3) + j / 3 : 0);
    return t;
}
constexpr InterleaveIndex kInterleaveIndex = MakeInterleaveIndex();

[[gnu::always_inline, HANDPIX_AVX512]] inline __m512 SamplesToFloat(__m128i bytes, int offset) {
    return _mm512_cvtepi32_ps(_mm512_sub_epi32(_mm512_cvtepu8_epi32(bytes), _mm512_set1_epi32(offset)));
}

// Truncated, then clamped to 0..255 by the unsigned narrowing: the same byte
// as ClampTrunc.
[[gnu::always_inline, HANDPIX_AVX512]] inline __m128i TruncToBytes(__m512 v) {
    return _mm512_cvtusepi32_epi8(_mm512_max_epi32(_mm512_cvttps_epi32(v), _mm512_setzero_si512()));
}

// Ycc16 on 16-lane vectors: one vector per channel, one permute to
// interleave, one masked store of the 48 bytes, or with kStream three
// 16-byte stores past the cache (the rows must then be 16-byte aligned).
template <int kStep, int kRows, bool kStream>
[[gnu::always_inline, HANDPIX_AVX512]] inline void Ycc16Avx512(const std::uint8_t* const* y, const std::uint8_t* cb,
                                                              const std::uint8_t* cr, std::uint8_t* const* bgr,
                                                              int at) {
    __m128i cb16, cr16;
    if constexpr (kStep == 2) {
        // Each chroma sample serves two neighbouring pixels.
        const __m128i b8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + at / 2));
        const __m128i r8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + at / 2));
        cb16 = _mm_unpacklo_epi8(b8, b8);
        cr16 = _mm_unpacklo_epi8(r8, r8);
    } else {
        cb16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + at));
        cr16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + at));
    }
    const __m512 u = SamplesToFloat(cb16, 128), v = SamplesToFloat(cr16, 128);
    const __m512 tb = _mm512_mul_ps(_mm512_set1_ps(1.772f), u);
    const __m512 tg1 = _mm512_mul_ps(_mm512_set1_ps(0.34414f), u);
    const __m512 tg2 = _mm512_mul_ps(_mm512_set1_ps(0.71414f), v);
    const __m512 tr = _mm512_mul_ps(_mm512_set1_ps(1.402f), v);
    const __m512i index = _mm512_loadu_si512(kInterleaveIndex.m);
    for (int row = 0; row < kRows; ++row) {
        const __m512 Y = SamplesToFloat(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y[row] + at)), 0);
        const __m128i b = TruncToBytes(_mm512_add_ps(Y, tb));
        const __m128i g = TruncToBytes(_mm512_sub_ps(_mm512_sub_ps(Y, tg1), tg2));
        const __m128i r = TruncToBytes(_mm512_add_ps(Y, tr));
        const __m512i planes = _mm512_inserti32x4(_mm512_inserti32x4(_mm512_castsi128_si512(b), g, 1), r, 2);
        const __m512i px = _mm512_permutexvar_epi8(index, planes);
        std::uint8_t* d = bgr[row] + 3 * static_cast<std::ptrdiff_t>(at);
        if constexpr (kStream) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(d), _mm512_castsi512_si128(px));
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + 16), _mm512_extracti32x4_epi32(px, 1));
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + 32), _mm512_extracti32x4_epi32(px, 2));
        } else {
            _mm512_mask_storeu_epi8(d, (std::uint64_t{1} << 48) - 1, px);
        }
    }
}

template <int kStep, int kRows, bool kStream = false>
[[HANDPIX_AVX512]] void YccRowsAvx512(const std::uint8_t* const* y, const std::uint8_t* cb, const std::uint8_t* cr,
                                      std::uint8_t* const* bgr, int n) {
    int at = 0;
    bool aligned = kStream;
    for (int row = 0; row < kRows; ++row) aligned = aligned && reinterpret_cast<std::uintptr_t>(bgr[row]) % 16 == 0;
    if (aligned) {
        for (; at + 16 <= n; at += 16) Ycc16Avx512<kStep, kRows, true>(y, cb, cr, bgr, at);
        _mm_sfence();
    }
    for (; at + 16 <= n; at += 16) Ycc16Avx512<kStep, kRows, false>(y, cb, cr, bgr, at);
    for (int row = 0; row < kRows; ++row)
        YccRowPlain<kStep>(y[row] + at, cb + at / kStep, cr + at / kStep, bgr[row] + 3 * at, n - at);
}
#pragma GCC diagnostic pop
#endif

}  // namespace

namespace {

template <bool kPlanes>
[[gnu::always_inline]] inline void BgrToYccImpl(const std::uint8_t* bgr, std::uint8_t* ycc, std::uint8_t* py,
                                                std::uint8_t* pb, std::uint8_t* pr, int n) {
    alignas(32) std::uint8_t in[3][kChunk] = {}, out[3][kChunk];
    alignas(32) std::uint32_t packed[kChunk];
    for (int at = 0; at < n; at += kChunk) {
        const int m = std::min(kChunk, n - at);
        const std::uint8_t* s = bgr + 3 * static_cast<std::ptrdiff_t>(at);
        for (int i = 0; i < m; ++i) {
            in[0][i] = s[3 * i];
            in[1][i] = s[3 * i + 1];
            in[2][i] = s[3 * i + 2];
        }
        BgrChunk(in[0], in[1], in[2], out[0], out[1], out[2]);
        for (int i = 0; i < kChunk; ++i)
            packed[i] = out[0][i] | static_cast<std::uint32_t>(out[1][i]) << 8 | static_cast<std::uint32_t>(out[2][i]) << 16;
        StorePacked(packed, m, ycc + 3 * static_cast<std::ptrdiff_t>(at));
        if constexpr (kPlanes) {
            std::copy_n(out[0], m, py + at);
            std::copy_n(out[1], m, pb + at);
            std::copy_n(out[2], m, pr + at);
        }
    }
}

}  // namespace

#if HANDPIX_X86_DISPATCH
namespace {

// The inverse of kInterleave: input vector i gives, at byte b of channel c,
// byte (3b + c) % 16 when that byte lies in it, and a zero otherwise.
struct DeinterleaveMasks {
    std::uint8_t m[3][3][16];  // [input vector][channel][byte]
};
constexpr DeinterleaveMasks MakeDeinterleaveMasks() {
    DeinterleaveMasks t{};
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
            for (int b = 0; b < 16; ++b) {
                const int j = 3 * b + c;
                t.m[i][c][b] = static_cast<std::uint8_t>(j / 16 == i ? j % 16 : 0x80);
            }
    return t;
}
constexpr DeinterleaveMasks kDeinterleave = MakeDeinterleaveMasks();

// Y, Cb, Cr of eight pixels by the formula's float operations in its order.
[[gnu::always_inline, gnu::target("avx2")]] inline void YccOf(__m256 B, __m256 G, __m256 R, __m256 ycc[3]) {
    ycc[0] = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(Splat(0.299f), R), _mm256_mul_ps(Splat(0.587f), G)),
                           _mm256_mul_ps(Splat(0.114f), B));
    ycc[1] = _mm256_add_ps(
        _mm256_sub_ps(_mm256_mul_ps(Splat(0.5f), B),
                      _mm256_add_ps(_mm256_mul_ps(Splat(0.1687f), R), _mm256_mul_ps(Splat(0.3313f), G))),
        Splat(128.0f));
    ycc[2] = _mm256_add_ps(
        _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(Splat(0.5f), R), _mm256_mul_ps(Splat(0.4187f), G)),
                      _mm256_mul_ps(Splat(0.0813f), B)),
        Splat(128.0f));
}

// 16 pixels of B, G, R to Y, Cb, Cr, and optionally into the planes too.
template <bool kPlanes>
[[gnu::always_inline, gnu::target("avx2")]] inline void Bgr16(const std::uint8_t* bgr, std::uint8_t* ycc,
                                                              std::uint8_t* py, std::uint8_t* pb,
                                                              std::uint8_t* pr) {
    __m128i in[3], ch[3];
    for (int i = 0; i < 3; ++i) in[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 16 * i));
    for (int c = 0; c < 3; ++c) {
        ch[c] = _mm_setzero_si128();
        for (int i = 0; i < 3; ++i)
            ch[c] = _mm_or_si128(ch[c], _mm_shuffle_epi8(in[i], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kDeinterleave.m[i][c]))));
    }
    __m256 v[2][3];
    for (int h = 0; h < 2; ++h)
        YccOf(BytesToFloat(h ? _mm_srli_si128(ch[0], 8) : ch[0], 0),
              BytesToFloat(h ? _mm_srli_si128(ch[1], 8) : ch[1], 0),
              BytesToFloat(h ? _mm_srli_si128(ch[2], 8) : ch[2], 0), v[h]);
    const __m128i out[3] = {ClampToBytes(v[0][0], v[1][0]), ClampToBytes(v[0][1], v[1][1]),
                            ClampToBytes(v[0][2], v[1][2])};
    StoreInterleaved(out, ycc);
    if constexpr (kPlanes) {
        std::uint8_t* planes[3] = {py, pb, pr};
        for (int c = 0; c < 3; ++c) _mm_storeu_si128(reinterpret_cast<__m128i*>(planes[c]), out[c]);
    }
}

// 32 pixels to Y, Cb, Cr and the planes as Bgr16 does, each 256-bit
// register holding the first 16 pixels in its low lane and the next 16 in
// its high lane, so that every shuffle, unpack and pack (all within lanes)
// serves both. The unpacks to 32 bits and the packs back undo each other.
[[gnu::always_inline, gnu::target("avx2")]] inline void Bgr32(const std::uint8_t* bgr, std::uint8_t* ycc,
                                                              std::uint8_t* py, std::uint8_t* pb,
                                                              std::uint8_t* pr) {
    const auto load = [](const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    __m256i in[3], ch[3];
    for (int i = 0; i < 3; ++i)
        in[i] =
            _mm256_inserti128_si256(_mm256_castsi128_si256(load(bgr + 16 * i)), load(bgr + 48 + 16 * i), 1);
    for (int c = 0; c < 3; ++c) {
        ch[c] = _mm256_setzero_si256();
        for (int i = 0; i < 3; ++i)
            ch[c] = _mm256_or_si256(
                ch[c], _mm256_shuffle_epi8(in[i], _mm256_broadcastsi128_si256(load(kDeinterleave.m[i][c]))));
    }
    const __m256i zero = _mm256_setzero_si256();
    __m256 f[3][4];
    for (int c = 0; c < 3; ++c) {
        const __m256i lo = _mm256_unpacklo_epi8(ch[c], zero), hi = _mm256_unpackhi_epi8(ch[c], zero);
        f[c][0] = _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(lo, zero));
        f[c][1] = _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(lo, zero));
        f[c][2] = _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(hi, zero));
        f[c][3] = _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(hi, zero));
    }
    __m256i t[3][4];
    for (int k = 0; k < 4; ++k) {
        __m256 v[3];
        YccOf(f[0][k], f[1][k], f[2][k], v);
        for (int c = 0; c < 3; ++c) t[c][k] = _mm256_cvttps_epi32(v[c]);
    }
    // The saturating packs clamp exactly where the formula's bounds do.
    std::uint8_t* planes[3] = {py, pb, pr};
    __m256i out[3];
    for (int c = 0; c < 3; ++c) {
        out[c] =
            _mm256_packus_epi16(_mm256_packs_epi32(t[c][0], t[c][1]), _mm256_packs_epi32(t[c][2], t[c][3]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(planes[c]), out[c]);
    }
    for (int o = 0; o < 3; ++o) {
        __m256i v = _mm256_setzero_si256();
        for (int c = 0; c < 3; ++c)
            v = _mm256_or_si256(
                v, _mm256_shuffle_epi8(out[c], _mm256_broadcastsi128_si256(load(kInterleave.m[o][c]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ycc + 16 * o), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ycc + 48 + 16 * o), _mm256_extracti128_si256(v, 1));
    }
}

template <bool kPlanes>
[[gnu::target("avx2")]] void BgrRowAvx2(const std::uint8_t* bgr, std::uint8_t* ycc, std::uint8_t* py,
                                        std::uint8_t* pb, std::uint8_t* pr, int n) {
    int at = 0;
    if constexpr (kPlanes)
        for (; at + 32 <= n; at += 32)
            Bgr32(bgr + 3 * static_cast<std::ptrdiff_t>(at), ycc + 3 * static_cast<std::ptrdiff_t>(at),
                  py + at, pb + at, pr + at);
    for (; at + 16 <= n; at += 16) {
        const std::ptrdiff_t b = 3 * static_cast<std::ptrdiff_t>(at);
        if constexpr (kPlanes) Bgr16<true>(bgr + b, ycc + b, py + at, pb + at, pr + at);
        else Bgr16<false>(bgr + b, ycc + b, nullptr, nullptr, nullptr);
    }
    if (at == n) return;
    const std::ptrdiff_t b = 3 * static_cast<std::ptrdiff_t>(at);
    if constexpr (kPlanes) BgrToYccImpl<true>(bgr + b, ycc + b, py + at, pb + at, pr + at, n - at);
    else BgrToYccImpl<false>(bgr + b, ycc + b, nullptr, nullptr, nullptr, n - at);
}

}  // namespace
#endif

// Every kernel in its two builds, and the public entry points, which take
// the build chosen at first use.
namespace {

void IdctToBytesBase(const std::int16_t* coef, unsigned rowMask, unsigned colMask, std::uint8_t* dst,
                     std::ptrdiff_t stride) {
    IdctToBytesBody(coef, rowMask, colMask, dst, stride);
}
HANDPIX_AVX2 void IdctToBytesAvx2(const std::int16_t* coef, unsigned rowMask, unsigned colMask, std::uint8_t* dst,
                                  std::ptrdiff_t stride) {
    IdctToBytesBody(coef, rowMask, colMask, dst, stride);
}

template <typename T>
std::uint64_t ForwardDctQuantizeBase(const T* area, std::ptrdiff_t stride, const QuantPlan& quant,
                                     std::int16_t* out) {
    return ForwardDctQuantizeBody<false>(area, stride, quant, out);
}
template <typename T>
HANDPIX_AVX2 std::uint64_t ForwardDctQuantizeAvx2(const T* area, std::ptrdiff_t stride,
                                                  const QuantPlan& quant, std::int16_t* out) {
    return ForwardDctQuantizeBody<true>(area, stride, quant, out);
}

void BgrToYccPlanesBase(const std::uint8_t* bgr, std::uint8_t* ycc, std::uint8_t* y, std::uint8_t* cb,
                        std::uint8_t* cr, int n) {
    BgrToYccImpl<true>(bgr, ycc, y, cb, cr, n);
}
HANDPIX_AVX2 void BgrToYccPlanesAvx2(const std::uint8_t* bgr, std::uint8_t* ycc, std::uint8_t* y,
                                     std::uint8_t* cb, std::uint8_t* cr, int n) {
#if HANDPIX_X86_DISPATCH
    BgrRowAvx2<true>(bgr, ycc, y, cb, cr, n);
#else
    BgrToYccImpl<true>(bgr, ycc, y, cb, cr, n);
#endif
}

void BgrToYccBase(const std::uint8_t* bgr, std::uint8_t* ycc, int n) {
    BgrToYccImpl<false>(bgr, ycc, nullptr, nullptr, nullptr, n);
}
HANDPIX_AVX2 void BgrToYccAvx2(const std::uint8_t* bgr, std::uint8_t* ycc, int n) {
#if HANDPIX_X86_DISPATCH
    BgrRowAvx2<false>(bgr, ycc, nullptr, nullptr, nullptr, n);
#else
    BgrToYccImpl<false>(bgr, ycc, nullptr, nullptr, nullptr, n);
#endif
}

template <typename Fn>
Fn Pick(Fn base, [[maybe_unused]] Fn avx2) {
#if HANDPIX_X86_DISPATCH
    if (UsingAvx2()) return avx2;
#endif
    return base;
}

bool DetectAvx2() {
#if HANDPIX_X86_DISPATCH
    const char* off = std::getenv("HANDPIX_NO_AVX2");
    if (off && *off && std::strcmp(off, "0") != 0) return false;
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

bool UsingAvx2() {
    static const bool on = DetectAvx2();
    return on;
}

bool UsingAvx512() {
#if HANDPIX_X86_DISPATCH
    static const bool on = [] {
        const char* off = std::getenv("HANDPIX_NO_AVX512");
        return UsingAvx2() && !(off && *off && std::strcmp(off, "0") != 0) && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    }();
    return on;
#else
    return false;
#endif
}

IdctToBytesFn IdctToBytesKernel() {
#if HANDPIX_X86_DISPATCH
    if (UsingAvx512()) return IdctToBytesAvx512;
#endif
    return Pick(IdctToBytesBase, IdctToBytesAvx2);
}

void IdctToBytes(const std::int16_t coef[64], unsigned rowMask, unsigned colMask, std::uint8_t* dst,
                 std::ptrdiff_t stride) {
    static const auto fn = IdctToBytesKernel();
    fn(coef, rowMask, colMask, dst, stride);
}

std::uint64_t ForwardDctQuantize(const std::int16_t* area, std::ptrdiff_t stride, const QuantPlan& quant,
                                 std::int16_t out[64]) {
    static const auto fn = Pick(ForwardDctQuantizeBase<std::int16_t>, ForwardDctQuantizeAvx2<std::int16_t>);
    return fn(area, stride, quant, out);
}

std::uint64_t ForwardDctQuantizeSamples(const std::uint8_t* samples, std::ptrdiff_t stride,
                                        const QuantPlan& quant, std::int16_t out[64]) {
    static const auto fn = Pick(ForwardDctQuantizeBase<std::uint8_t>, ForwardDctQuantizeAvx2<std::uint8_t>);
    return fn(samples, stride, quant, out);
}

namespace {

template <int kStep, int kRows>
void YccRows(const std::uint8_t* const* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* const* bgr,
             int n, bool stream) {
#if HANDPIX_X86_DISPATCH
    static const auto fn = UsingAvx512() ? YccRowsAvx512<kStep, kRows> : Pick(YccRowsPlain<kStep, kRows>, YccRowsAvx2<kStep, kRows>);
    if (stream && UsingAvx512()) return YccRowsAvx512<kStep, kRows, true>(y, cb, cr, bgr, n);
#else
    (void)stream;
    static const auto fn = YccRowsPlain<kStep, kRows>;
#endif
    fn(y, cb, cr, bgr, n);
}

}  // namespace

void YccToBgr(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* bgr, int n,
              bool stream) {
    YccRows<1, 1>(&y, cb, cr, &bgr, n, stream);
}

void YccToBgrHalfChroma(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* bgr,
                        int n, bool stream) {
    YccRows<2, 1>(&y, cb, cr, &bgr, n, stream);
}

void YccToBgrHalfChromaTwoRows(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                               const std::uint8_t* cr, std::uint8_t* bgr0, std::uint8_t* bgr1, int n, bool stream) {
    const std::uint8_t* y[2] = {y0, y1};
    std::uint8_t* bgr[2] = {bgr0, bgr1};
    YccRows<2, 2>(y, cb, cr, bgr, n, stream);
}

void BgrToYcc(const std::uint8_t* bgr, std::uint8_t* ycc, int n) {
    static const auto fn = Pick(BgrToYccBase, BgrToYccAvx2);
    fn(bgr, ycc, n);
}

void BgrToYccPlanes(const std::uint8_t* bgr, std::uint8_t* ycc, std::uint8_t* y, std::uint8_t* cb,
                    std::uint8_t* cr, int n) {
    static const auto fn = Pick(BgrToYccPlanesBase, BgrToYccPlanesAvx2);
    fn(bgr, ycc, y, cb, cr, n);
}

}  // namespace handpix::jpeg
