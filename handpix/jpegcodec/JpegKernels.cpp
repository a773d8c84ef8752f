#include "handpix/jpegcodec/JpegKernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "handpix/jpegcodec/JpegTables.h"
#include "handpix/platform/core/Zigzag.h"

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
// K[k][j] of the forward transform (row 0 is 1) and its transpose.
constexpr DoubleMatrix MakeDctMatrix(bool transpose) {
    DoubleMatrix k{};
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            float v = Cos4(a, b);
            if (transpose) k.m[b][a] = v;
            else k.m[a][b] = v;
        }
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
constexpr DoubleMatrix kDct = MakeDctMatrix(false);
constexpr DoubleMatrix kDctT = MakeDctMatrix(true);
constexpr DoubleMatrix kDctScale = MakeDctScale();

inline std::uint8_t ClampByte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// out[x][y] = (sum_v T[x][v] * C[v][y]) * 0.25 with T[x][v] = sum_u C[u][x] * F[u][v],
// each sum accumulated in float in increasing index order, as the plain
// formula does; the lanes of the inner loops are independent sums.
template <typename Store>
inline void IdctCore(const std::int16_t* coef, unsigned rowMask, unsigned colMask, Store store) {
    alignas(32) float t[8][8] = {};
    for (int u = 0; u < 8; ++u) {
        if (!(rowMask >> u & 1)) continue;
        alignas(32) float f[8];
        for (int v = 0; v < 8; ++v) f[v] = static_cast<float>(coef[u * 8 + v]);
        for (int x = 0; x < 8; ++x) {
            const float c = kIdct.m[u][x];
            for (int v = 0; v < 8; ++v) t[x][v] += c * f[v];
        }
    }
    for (int x = 0; x < 8; ++x) {
        alignas(32) float o[8] = {};
        for (int v = 0; v < 8; ++v) {
            if (!(colMask >> v & 1)) continue;
            const float tv = t[x][v];
            for (int y = 0; y < 8; ++y) o[y] += tv * kIdct.m[v][y];
        }
        alignas(32) int r[8];
        for (int y = 0; y < 8; ++y) r[y] = static_cast<int>(o[y] * 0.25f);
        store(x, r);
    }
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

void IdctToBytes(const std::int16_t coef[64], unsigned rowMask, unsigned colMask, std::uint8_t* dst,
                 std::ptrdiff_t stride) {
    if ((rowMask | colMask) <= 1) {
        // Only the DC term: every sum has one nonzero term, so all 64 outputs
        // are the same product.
        const float dc = (0.7071f * static_cast<float>(coef[0])) * 0.7071f;
        const std::uint8_t b = ClampByte(static_cast<int>(dc * 0.25f) + 128);
        for (int x = 0; x < 8; ++x) std::fill_n(dst + x * stride, 8, b);
        return;
    }
    IdctCore(coef, rowMask, colMask, [&](int x, const int* r) {
        std::uint8_t* d = dst + x * stride;
        for (int y = 0; y < 8; ++y) d[y] = ClampByte(r[y] + 128);
    });
}

void IdctBlock(std::int16_t block[64]) {
    alignas(32) std::int16_t in[64];
    std::copy_n(block, 64, in);
    IdctCore(in, 0xFF, 0xFF, [&](int x, const int* r) {
        for (int y = 0; y < 8; ++y) block[x * 8 + y] = static_cast<std::int16_t>(std::clamp(r[y], -32768, 32767));
    });
}

void ForwardDctQuantize(const std::int16_t* area, std::ptrdiff_t stride, const std::uint8_t quant[64],
                        std::int16_t out[64]) {
    // The fast path is the separable product: the row sums R are exact in
    // double (16-bit samples times 24-bit constants, eight terms), so only the
    // column sums round, as the direct sum's terms and partial sums do. Both
    // stay within a few units in the last place of sum|f|, far below the
    // margin below; a result can differ from the direct sum only when F lies
    // within that margin of a quantization boundary (a nonzero multiple of
    // q), and such coefficients are recomputed by the direct sum.
    alignas(32) double f[8][8];
    double sumAbs = 0.0;
    int maxAbs = 0;
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) {
            const int s = area[x * stride + y];
            f[x][y] = s;
            sumAbs += std::abs(s);
            maxAbs = std::max(maxAbs, std::abs(s));
        }
    if (maxAbs > 2048) {
        // Outside the encoder's sample range the truncated values could leave
        // 16 bits; compute those blocks directly.
        for (int k = 0; k < 64; ++k) {
            const int n = kZigzag[k];
            const double F = DirectDct(area, stride, n >> 3, n & 7);
            out[k] = static_cast<std::int16_t>(static_cast<std::int16_t>(static_cast<int>(F)) / quant[k]);
        }
        return;
    }
    alignas(32) double r[8][8];
    for (int x = 0; x < 8; ++x) {
        alignas(32) double acc[8] = {};
        for (int y = 0; y < 8; ++y) {
            const double s = f[x][y];
            for (int v = 0; v < 8; ++v) acc[v] += s * kDctT.m[y][v];
        }
        for (int v = 0; v < 8; ++v) r[x][v] = acc[v];
    }
    alignas(32) double F[8][8];
    for (int u = 0; u < 8; ++u) {
        alignas(32) double acc[8] = {};
        for (int x = 0; x < 8; ++x) {
            const double c = kDct.m[u][x];
            for (int v = 0; v < 8; ++v) acc[v] += c * r[x][v];
        }
        for (int v = 0; v < 8; ++v) F[u][v] = kDctScale.m[u][v] * acc[v] * 0.25;
    }
    const double margin = sumAbs * 1e-13 + 1e-12;
    for (int k = 0; k < 64; ++k) {
        const int n = kZigzag[k];
        const int q = quant[k] ? quant[k] : 1;
        double value = F[n >> 3][n & 7];
        const double m = std::nearbyint(value / q);
        if (m != 0.0 && std::fabs(value - m * q) < margin) value = DirectDct(area, stride, n >> 3, n & 7);
        out[k] = QuantizeTruncated(value, q);
    }
}

void YccToBgr(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* bgr, int n) {
    for (int i = 0; i < n; ++i) {
        const float Y = y[i];
        const float u = static_cast<float>(cb[i] - 128);
        const float v = static_cast<float>(cr[i] - 128);
        const float r = Y + 1.402f * v;
        const float g = Y - 0.34414f * u - 0.71414f * v;
        const float b = Y + 1.772f * u;
        bgr[3 * i + 0] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(b, 0.0f), 255.0f)));
        bgr[3 * i + 1] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(g, 0.0f), 255.0f)));
        bgr[3 * i + 2] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(r, 0.0f), 255.0f)));
    }
}

void BgrToYcc(const std::uint8_t* bgr, std::uint8_t* ycc, int n) {
    for (int i = 0; i < n; ++i) {
        const float B = bgr[3 * i], G = bgr[3 * i + 1], R = bgr[3 * i + 2];
        const float y = 0.299f * R + 0.587f * G + 0.114f * B;
        const float cb = 0.5f * B - (0.1687f * R + 0.3313f * G) + 128.0f;
        const float cr = 0.5f * R - 0.4187f * G - 0.0813f * B + 128.0f;
        ycc[3 * i + 0] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(y, 0.0f), 255.0f)));
        ycc[3 * i + 1] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(cb, 0.0f), 255.0f)));
        ycc[3 * i + 2] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(cr, 0.0f), 255.0f)));
    }
}

}  // namespace handpix::jpeg
