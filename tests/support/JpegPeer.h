// libjpeg-turbo as the second opinion of the codec tests: files written with
// chosen sampling and restart settings, decodes with fancy upsampling off,
// and the quantized coefficients a file holds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct jpeg_decompress_struct;

namespace jpegtest {

struct Picture {
    int width = 0, height = 0, comps = 3;  // comps 3: R, G, B per pixel; 1: grey
    std::vector<std::uint8_t> px;          // top-down, packed
};

struct EncodeOptions {
    int quality = 90;
    int h0 = 1, v0 = 1;       // sampling of the first component (others 1x1)
    int restartInterval = 0;  // in MCUs
    bool progressive = false;
    bool cmyk = false;        // four components
};

std::vector<std::uint8_t> PeerEncode(const Picture& p, const EncodeOptions& o);

// One scan of a progressive script: component indices, spectral band Ss..Se,
// successive approximation Ah, Al.
struct ScanSpec {
    std::vector<int> comps;
    int ss = 0, se = 0, ah = 0, al = 0;
};
// PeerEncode with its own scan script (empty: as PeerEncode) and, when asked,
// arithmetic coding.
std::vector<std::uint8_t> PeerEncodeScans(const Picture& p, const EncodeOptions& o, const std::vector<ScanSpec>& scans,
                                          bool arithmetic = false);

// Decoded as R, G, B (comps 3), or grey when the file has one component.
// warnings counts libjpeg's warnings; false when it gave up.
bool PeerDecode(const std::vector<std::uint8_t>& file, Picture& out, int* warnings = nullptr);
// Decoded at 1/8 scale as B, G, R bytes with plain chroma replication, the way
// the JPEG-library stand-in asks for thumbnails.
bool PeerDecodeEighth(const std::vector<std::uint8_t>& file, Picture& out);

struct Coefficients {
    int width = 0, height = 0, maxH = 1, maxV = 1;
    struct Component {
        int h = 1, v = 1, blocksWide = 0, blocksHigh = 0;  // padded to whole MCUs
        std::uint16_t quant[64] = {};                      // natural order
        std::vector<std::int16_t> coef;                    // per block, 64 in natural order
    };
    std::vector<Component> comps;
};
bool PeerCoefficients(const std::vector<std::uint8_t>& file, Coefficients& out);

// libjpeg set up the way the JPEG-library stand-in reads: blue-green-red
// output, and at 1/2, 1/4, 1/8 of the size fancy upsampling off; rows padded
// to 4 bytes, top row first.
class StandInDecode {
public:
    StandInDecode();
    ~StandInDecode();
    // Reads the header and sets the output up; false when libjpeg refuses.
    bool Open(const std::uint8_t* file, std::size_t size, unsigned denom);
    const jpeg_decompress_struct& Info() const;
    std::size_t RowBytes() const;
    // The single decode of the whole picture; false when libjpeg gave up.
    bool Decode(std::vector<std::uint8_t>& dib);

private:
    struct State;
    std::unique_ptr<State> m_s;
};

// A photo-like picture: smooth gradients, a few edges and mild noise.
Picture PhotoLike(int width, int height, unsigned seed);

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace jpegtest
