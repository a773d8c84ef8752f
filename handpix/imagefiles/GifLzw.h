// The GIF block stream and the variable-length-code LZW decoder of the GIF
// reader. Codes are at most 12 bits, taken least significant bit first across
// the image's data sub-blocks; every table has a fixed size, so nothing is
// allocated from what the data says.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace handpix::gif {

inline constexpr int kMaxCodeBits = 12;
inline constexpr int kTableSize = 1 << kMaxCodeBits;  // 4096 codes
inline constexpr int kStackSize = 8192;
inline constexpr int kMaxSubBlock = 255;
inline constexpr int kMapEntries = 256;
// Index of the colour given to raw code values beyond the 256-entry map.
inline constexpr int kOutOfMap = kMapEntries;

struct Rgb {
    std::uint8_t r, g, b;
};

// A colour map as the file stores it, one plane per channel.
struct ColourMap {
    std::uint8_t red[kMapEntries];
    std::uint8_t green[kMapEntries];
    std::uint8_t blue[kMapEntries];
};

// The pixel writer's view of a map: 256 entries plus black at kOutOfMap.
struct Palette {
    Rgb entry[kMapEntries + 1];
};
void ExpandColourMap(const ColourMap& map, Palette& out);

// The row after y in the order the file stores rows, or -1 when the picture
// is complete. Interlaced files store every 8th row from 0, every 8th from 4,
// every 4th from 2, then every 2nd from 1; a pass that starts beyond the last
// row has nothing in it.
int NextRow(int y, int& pass, int height, bool interlaced);

// Checked reads of GIF blocks from a stdio stream. The zero-block flag it
// maintains outlives the stream: it is part of the process-wide screen state.
class GifInput {
public:
    GifInput(FILE* file, bool& zeroBlock) : m_file(file), m_zeroBlock(zeroBlock) {}

    int Byte() { return std::getc(m_file); }  // -1 at end of file
    bool Read(void* dst, std::size_t n) { return std::fread(dst, 1, n, m_file) == n; }
    // One data sub-block into dst (room for 255 bytes): its length, 0 for the
    // terminator, -1 when the stream ends first.
    int SubBlock(std::uint8_t* dst);
    // Discards sub-blocks up to and including the terminator, or up to a read error.
    void SkipSubBlocks();
    bool ZeroBlock() const { return m_zeroBlock; }

private:
    FILE* m_file;
    bool& m_zeroBlock;
};

enum class LzwStop {
    none,   // every requested pixel was produced
    end,    // the end code was read
    error,  // the data ran out mid-code or the table is inconsistent
};

class LzwDecoder {
public:
    // Starts an image with the file's minimum code size; false when the size
    // leaves no room for 12-bit codes.
    bool Start(int minCodeSize);

    // Produces up to count pixels as RGB triples into dst, through palette.
    // Returns how many; fewer than count only when stop is end or error. Codes
    // are read only as pixels are needed, so asking pixel by pixel or row by
    // row consumes the same data.
    int Decode(GifInput& in, const Palette& palette, std::uint8_t* dst, int count, LzwStop& stop);

    // Once the data is spent every further pixel has one colour: its palette
    // index, or -1 while codes remain. Lets a caller fill the rest of a large
    // image without decoding it pixel by pixel.
    int ExhaustedIndex() const;

private:
    enum class Refill { ok, noBits, error };

    void ResetTable();
    void FillExhausted(const Rgb* colours, std::uint8_t*& out, int count, int& codeBits, int& next, int& limit,
                       int& first, int& old);
    Refill RefillSlow(GifInput& in, int need);

    // Registers.
    int m_minCodeBits = 0;
    int m_codeBits = 0;
    int m_clear = 0;
    int m_end = 0;
    int m_next = 0;
    int m_limit = 0;
    int m_first = 0;
    int m_old = 0;
    bool m_fresh = false;

    // Bit reader: an accumulator of loaded bits and the current sub-block.
    std::uint64_t m_acc = 0;
    int m_nbits = 0;
    int m_pos = 0;
    int m_len = 0;
    bool m_done = false;
    std::uint8_t m_block[kMaxSubBlock + 1] = {};

    // Tables.
    int m_sp = 0;
    std::uint8_t m_stack[kStackSize] = {};
    std::uint16_t m_prefix[kTableSize] = {};
    std::uint8_t m_suffix[kTableSize] = {};
};

}  // namespace handpix::gif
