// The arithmetic of the codec, written for speed: inverse transform, forward
// transform with quantization, and the two colour conversions. Each gives
// exactly the results of the plain formulas (the tests hold a plain copy).
#pragma once
#include <cstddef>
#include <cstdint>

namespace handpix::jpeg {

// True when the kernels below run their AVX2 build: the processor has AVX2
// and the environment variable HANDPIX_NO_AVX2 was unset, empty or "0" when
// the codec first ran. Setting it lets a test run check the portable build
// on an AVX2 machine. Both builds give the same results.
bool UsingAvx2();
// True when the kernels that have one (inverse transform, colour
// conversion) run their AVX-512 build: UsingAvx2(), the processor has
// AVX-512 F, BW and VBMI, and HANDPIX_NO_AVX512 is unset, empty or "0".
// The results are the same again.
bool UsingAvx512();

// Inverse transform of dequantized coefficients in natural order, then +128
// and clamping to 0..255, into 8 rows of 8 bytes. rowMask/colMask have bit i
// set when row/column i may hold a nonzero coefficient (a zero row or column
// adds nothing to any sum, so it is skipped).
void IdctToBytes(const std::int16_t coef[64], unsigned rowMask, unsigned colMask,
                 std::uint8_t* dst, std::ptrdiff_t stride);
// The build of IdctToBytes in use, for callers that run it per block.
using IdctToBytesFn = void (*)(const std::int16_t*, unsigned, unsigned, std::uint8_t*, std::ptrdiff_t);
IdctToBytesFn IdctToBytesKernel();

// The same transform in place on 16-bit values, each result truncated toward
// zero and saturated to 16 bits (no level shift).
void IdctBlock(std::int16_t block[64]);

// A quantization table (given in zig-zag order) laid out for the forward
// transform: divisors in natural order, and per coefficient (u, v) at 8v + u
// (the order in which the transform produces them) c(u)c(v)/4 over the
// divisor and the slack that the transform's error bound allows.
struct QuantPlan {
    double q[64];
    float ratio[64];
    float slack[64];
};
QuantPlan MakeQuantPlan(const std::uint8_t quantZigzag[64]);
// The plans of the encoder's two fixed tables.
const QuantPlan& LumaPlan();
const QuantPlan& ChromaPlan();

// Forward transform of the 8 x 8 area at `area` (rows `stride` values apart),
// quantized with truncating division; the result is in zig-zag order, and
// the returned mask has bit k set where coefficient k is nonzero.
std::uint64_t ForwardDctQuantize(const std::int16_t* area, std::ptrdiff_t stride, const QuantPlan& quant,
                                 std::int16_t out[64]);
// The same for an area of samples, each standing for itself minus 128.
std::uint64_t ForwardDctQuantizeSamples(const std::uint8_t* samples, std::ptrdiff_t stride,
                                        const QuantPlan& quant, std::int16_t out[64]);

// n pixels from Y, Cb, Cr samples to B, G, R bytes. `stream` asks for
// stores that bypass the cache, for pictures too large to stay in it.
void YccToBgr(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* bgr,
              int n, bool stream = false);
// The same with chroma at half width: pixel i takes cb[i / 2], cr[i / 2].
void YccToBgrHalfChroma(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* bgr,
                        int n, bool stream = false);
// Two rows that share their half-width chroma row (4:2:0), the chroma terms
// computed once for both.
void YccToBgrHalfChromaTwoRows(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                               const std::uint8_t* cr, std::uint8_t* bgr0, std::uint8_t* bgr1, int n,
                               bool stream = false);
// n pixels from B, G, R bytes to Y, Cb, Cr bytes (may be the same buffer).
void BgrToYcc(const std::uint8_t* bgr, std::uint8_t* ycc, int n);
// The same, also storing the samples in three planes.
void BgrToYccPlanes(const std::uint8_t* bgr, std::uint8_t* ycc, std::uint8_t* y, std::uint8_t* cb,
                    std::uint8_t* cr, int n);

// Asks the system to back the whole 2 MB extents inside [p, p + n) with
// large pages: a fresh picture-sized buffer is then filled with a few dozen
// page faults instead of thousands. A hint only; contents are unaffected.
void AdviseLargePages(void* p, std::size_t n);

}  // namespace handpix::jpeg
