// Private helpers shared by the SNI, EBA and IMG code of CPicture: the
// 150-byte animation header, the colour key, raw frame conversion and the
// plotting of an RGB buffer into the 192 x 160 canvas.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "handpix/imagefiles/HandsetColour.h"
#include "handpix/picture/Picture.h"

namespace handpix::handset_picture {

inline constexpr std::size_t kAnimHeaderSize = 150;
inline constexpr std::size_t kAnimHeaderFirstPart = 48;  // read apart from the rest, as the files were written
inline constexpr int kMaxWidth = 178;
inline constexpr int kMaxHeight = 160;
inline constexpr int kMaxFrames = 50;
inline constexpr int kEbaMinSide = 60;
// What the SNI reader holds: the embedded stream whole, and the decoder's work areas.
inline constexpr std::size_t kSniStreamMaxBytes = 30000;
inline constexpr std::size_t kSniObjectPoolBytes = 65536;
inline constexpr std::size_t kSniBlockStoreBytes = 25600;
inline constexpr std::size_t kRawFrameBytes = 178 * 160 * 3;
inline constexpr int kCanvasWidth = 192;
inline constexpr int kCanvasHeight = 160;

inline constexpr const char* kNotAnimation = "애니메이션 파일포맷이 아닙니다.";
inline constexpr const char* kBeyondFrameCount = "잘못된 정보(총 프레임수를 초과)입니다.";

// A stdio file closed on every path out of a reader.
class InputFile {
public:
    explicit InputFile(const char* path) : m_f(path ? std::fopen(path, "rb") : nullptr) {}
    ~InputFile() { Close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    explicit operator bool() const { return m_f != nullptr; }
    std::FILE* get() const { return m_f; }
    void Close() {
        if (m_f) std::fclose(m_f);
        m_f = nullptr;
    }
    // Bytes read at offset into out (at most n); a failed seek reads nothing.
    std::size_t ReadAt(long offset, void* out, std::size_t n) {
        if (!m_f || std::fseek(m_f, offset, SEEK_SET) != 0) return 0;
        return std::fread(out, 1, n, m_f);
    }
    long Length() {
        if (!m_f || std::fseek(m_f, 0, SEEK_END) != 0) return -1;
        return std::ftell(m_f);
    }

private:
    std::FILE* m_f;
};

// Reads the two parts of the header into the record, cleared first, so bytes
// that do not arrive are zero. Returns the counts of both reads.
struct HeaderReadCounts {
    std::size_t first = 0;
    std::size_t second = 0;
};
HeaderReadCounts ReadAnimHeader(InputFile& f, tagANIMATION_INFO_T& info);

inline bool HasSignature(const tagANIMATION_INFO_T& info, const char (&sig)[4]) {
    return info.abSignature[0] == sig[0] && info.abSignature[1] == sig[1] && info.abSignature[2] == sig[2];
}
inline bool KnownBitCount(int bits) { return bits == 1 || bits == 2 || bits == 8 || bits == 16 || bits == 24; }

// The grey of each 2-bit value: SNI runs from white to black, EBA the other way.
enum class TwoBitOrder { Sni, Eba };

// Converts pixel i = y x w + x of the raw frame for every pixel of the
// picture into rgb (entries of red, green, blue). Pixels whose bytes lie
// beyond rawSize, and depths other than 1, 2, 8, 16 and 24, come out black.
// w and h must be within the handset limits.
void ConvertRawFrame(const std::uint8_t* raw, std::size_t rawSize, int w, int h, int bits, TwoBitOrder order,
                     BYTE (*rgb)[3]);

// The colour key and flag of an 8- or 16-bit picture from its header;
// `indexColour` gives the colour of an 8-bit index under the file's palette.
// Other depths leave both as they were.
template <class IndexColour>
void SetColourKey(CPicture& pic, IndexColour indexColour) {
    const tagANIMATION_INFO_T& h = pic.m_AnimInfo;
    Rgb key{};
    if (h.byBitCount == 8) {
        if (h.wTransColor == 256) {
            key = {255, 255, 255};
            pic.m_bTransparent = 0;
        } else {
            key = indexColour(static_cast<std::uint8_t>(h.wTransColor & 0xFF));
            pic.m_bTransparent = 1;
        }
    } else if (h.byBitCount == 16) {
        key = ExpandRgb565(h.wTransColor);
        pic.m_bTransparent = h.byTransparent ? 1 : 0;
    } else {
        return;
    }
    pic.m_ColorKey[0] = key.r;
    pic.m_ColorKey[1] = key.g;
    pic.m_ColorKey[2] = key.b;
}

// Draws the w x h RGB buffer into the canvas selected into mem from (0, 0),
// clipped to the canvas; with `transparent` set, pixels equal to `key` show
// the 10 x 10 checkerboard (white top-left cell, light grey beside it).
// Returns the size of the part drawn.
CSize PlotIntoCanvas(CDC& mem, const BYTE (*rgb)[3], int w, int h, bool transparent, const BYTE key[3]);

}  // namespace handpix::handset_picture
