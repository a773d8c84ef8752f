#include "tests/jpegcodec/JpegReference.h"

#include <algorithm>
#include <cmath>

#include "handpix/jpegcodec/JpegTables.h"

namespace jpegref {
namespace {

// cos((2j+1)k*pi/16) rounded to four decimals, derived afresh with std::cos.
float Cos4(int k, int j) {
    const double c = std::cos((2 * j + 1) * k * M_PI / 16.0);
    return static_cast<float>(std::round(c * 10000.0) / 10000.0);
}

std::uint8_t ClampTrunc(float v) { return static_cast<std::uint8_t>(v > 255.0f ? 255 : v < 0.0f ? 0 : static_cast<int>(v)); }

const int kZigzagOf[64] = {0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
                           3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
                           10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
                           21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

}  // namespace

void Idct(const std::int16_t in[64], int out[64]) {
    float C[8][8], F[8][8], T[8][8];
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x) C[u][x] = u == 0 ? 0.7071f : Cos4(u, x);
    for (int i = 0; i < 64; ++i) F[i / 8][i % 8] = static_cast<float>(in[i]);
    for (int x = 0; x < 8; ++x)
        for (int v = 0; v < 8; ++v) {
            float s = 0.0f;
            for (int u = 0; u < 8; ++u) s += C[u][x] * F[u][v];
            T[x][v] = s;
        }
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) {
            float s = 0.0f;
            for (int v = 0; v < 8; ++v) s += T[x][v] * C[v][y];
            out[8 * x + y] = static_cast<int>(s * 0.25f);
        }
}

void YccToBgr(int y, int cb, int cr, std::uint8_t bgr[3]) {
    const float Y = static_cast<float>(y);
    bgr[2] = ClampTrunc(Y + 1.402f * static_cast<float>(cr - 128));
    bgr[1] = ClampTrunc(Y - 0.34414f * static_cast<float>(cb - 128) - 0.71414f * static_cast<float>(cr - 128));
    bgr[0] = ClampTrunc(Y + 1.772f * static_cast<float>(cb - 128));
}

void BgrToYcc(const std::uint8_t bgr[3], std::uint8_t ycc[3]) {
    const float B = bgr[0], G = bgr[1], R = bgr[2];
    ycc[0] = ClampTrunc(0.299f * R + 0.587f * G + 0.114f * B);
    ycc[1] = ClampTrunc(0.5f * B - (0.1687f * R + 0.3313f * G) + 128.0f);
    ycc[2] = ClampTrunc(0.5f * R - 0.4187f * G - 0.0813f * B + 128.0f);
}

void Dct(const std::int16_t area[64], double F[64]) {
    float K[8][8];
    for (int k = 0; k < 8; ++k)
        for (int j = 0; j < 8; ++j) K[k][j] = Cos4(k, j);
    const double c[2] = {static_cast<double>(0.7071f), 1.0};
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double S = 0.0;
            for (int x = 0; x < 8; ++x)
                for (int y = 0; y < 8; ++y)
                    S += static_cast<double>(area[8 * x + y]) * static_cast<double>(K[v][y]) * static_cast<double>(K[u][x]);
            F[8 * u + v] = c[u > 0] * c[v > 0] * S * 0.25;
        }
}

void DctQuantize(const std::int16_t area[64], const std::uint8_t quantZigzag[64], std::int16_t outZigzag[64]) {
    double F[64];
    Dct(area, F);
    for (int p = 0; p < 64; ++p) {
        const int z = kZigzagOf[p];
        const auto truncated = static_cast<std::int16_t>(static_cast<int>(F[p]));
        outZigzag[z] = static_cast<std::int16_t>(truncated / quantZigzag[z]);
    }
}

std::vector<std::uint8_t> DecodedPicture(const jpegtest::Coefficients& c) {
    const int ns = static_cast<int>(c.comps.size());
    const int mw = 8 * c.maxH, mh = 8 * c.maxV;
    const int W = (c.width + mw - 1) / mw * mw, H = (c.height + mh - 1) / mh * mh;
    // Samples of every component replicated onto the padded grid.
    std::vector<std::uint8_t> grid(static_cast<std::size_t>(W) * H * ns);
    for (int k = 0; k < ns; ++k) {
        const auto& comp = c.comps[k];
        const int hs = c.maxH / comp.h, vs = c.maxV / comp.v;
        for (int by = 0; by < comp.blocksHigh; ++by)
            for (int bx = 0; bx < comp.blocksWide; ++bx) {
                std::int16_t block[64];
                int out[64];
                const std::int16_t* src = &comp.coef[(static_cast<std::size_t>(by) * comp.blocksWide + bx) * 64];
                for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(src[i] * comp.quant[i]);
                Idct(block, out);
                for (int i = 0; i < 64; ++i) {
                    const int s = std::clamp(std::clamp(out[i], -32768, 32767) + 128, 0, 255);
                    for (int j = 0; j < vs; ++j)
                        for (int m = 0; m < hs; ++m) {
                            const int row = (by * 8 + i / 8) * vs + j, col = (bx * 8 + i % 8) * hs + m;
                            grid[(static_cast<std::size_t>(row) * W + col) * ns + k] = static_cast<std::uint8_t>(s);
                        }
                }
            }
    }
    // Convert, keep the first S bytes of each padded row, flip.
    const std::size_t S = 4 * ((3 * static_cast<std::size_t>(c.width) + 3) / 4);
    std::vector<std::uint8_t> out(S * c.height);
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(W));
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < W; ++x) {
            const std::uint8_t* s = &grid[(static_cast<std::size_t>(y) * W + x) * ns];
            if (ns == 3) YccToBgr(s[0], s[1], s[2], &row[3 * x]);
            else row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = s[0];
        }
        std::copy_n(row.begin(), S, out.begin() + static_cast<std::ptrdiff_t>((c.height - 1 - y) * S));
    }
    return out;
}

std::vector<std::vector<std::int16_t>> EncodedCoefficients(const std::uint8_t* bgr, int width, int height) {
    const int W = (width + 7) / 8 * 8, H = (height + 7) / 8 * 8;
    const std::size_t inStride = 4 * ((3 * static_cast<std::size_t>(width) + 3) / 4);
    std::vector<std::vector<std::int16_t>> planes(3, std::vector<std::int16_t>(static_cast<std::size_t>(W) * H, 0));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t ycc[3];
            BgrToYcc(bgr + y * inStride + 3 * x, ycc);
            for (int k = 0; k < 3; ++k) planes[k][static_cast<std::size_t>(y) * W + x] = static_cast<std::int16_t>(ycc[k] - 128);
        }
    std::vector<std::vector<std::int16_t>> out(3);
    for (int k = 0; k < 3; ++k)
        for (int by = 0; by < H / 8; ++by)
            for (int bx = 0; bx < W / 8; ++bx) {
                std::int16_t area[64], zz[64];
                for (int i = 0; i < 64; ++i) area[i] = planes[k][static_cast<std::size_t>(by * 8 + i / 8) * W + bx * 8 + i % 8];
                DctQuantize(area, k ? handpix::jpeg::kChromaQuant : handpix::jpeg::kLumaQuant, zz);
                for (int p = 0; p < 64; ++p) out[k].push_back(zz[kZigzagOf[p]]);
            }
    return out;
}

}  // namespace jpegref
