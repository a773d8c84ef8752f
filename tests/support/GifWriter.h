// Writes GIF files from a readable description: screen, colour maps,
// extensions and images of colour indices, with a real LZW encoder whose
// clear codes, table-full behaviour and sub-block size are chosen by the test.
// A code packer and a raw byte builder make deliberately damaged files.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace handpix::test {

struct GifColour {
    std::uint8_t r = 0, g = 0, b = 0;
};

struct GifLzwOptions {
    int minCodeSize = 0;         // 0: from the colour count (at least 2)
    bool leadingClear = true;    // begin the data with a clear code
    bool clearWhenFull = true;   // false: go on at 12 bits with a full table
    int clearEvery = 0;          // > 0: also clear after this many codes
    bool endCode = true;
    int subBlockSize = 255;      // 1..255
};

struct GifExtension {
    std::uint8_t label = 0;
    std::vector<std::vector<std::uint8_t>> blocks;
};

struct GifImage {
    int left = 0, top = 0;
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width × height indices, top row first
    bool interlaced = false;
    std::vector<GifColour> localMap;   // empty: none
    GifLzwOptions lzw;
    std::vector<GifExtension> extensions;  // written just before this image
};

GifImage MakeImage(int width, int height, std::vector<std::uint8_t> pixels, bool interlaced = false);



struct GifFile {
    std::string version = "89a";
    int screenWidth = 0, screenHeight = 0;  // 0: the first image's size
    std::vector<GifColour> globalMap;       // empty: none
    int background = 0;
    int aspect = 0;
    std::vector<GifExtension> extensions;   // before the first image
    std::vector<GifImage> images;
    bool trailer = true;
};

std::vector<std::uint8_t> EncodeGif(const GifFile& file);

// The LZW code stream of indices (packed bytes, before sub-blocking).
std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& indices, int minCodeSize,
                                    const GifLzwOptions& options);

// Packs hand-chosen codes least significant bit first, at the widths a
// decoder reading them would use (its table grows with every code that is
// neither a clear code, an end code nor the first after a reset).
std::vector<std::uint8_t> PackCodes(const std::vector<int>& codes, int minCodeSize);

// Splits data into sub-blocks of at most blockSize bytes, plus the terminator.
std::vector<std::uint8_t> SubBlocks(const std::vector<std::uint8_t>& data, int blockSize = 255,
                                    bool terminator = true);

// Row order of an interlaced image of the given height, as the file stores it.
std::vector<int> InterlacedRowOrder(int height);

// Byte-level pieces for files the encoder would never write.
class GifBuilder {
public:
    GifBuilder& Raw(std::initializer_list<std::uint8_t> bytes);
    GifBuilder& Raw(const std::vector<std::uint8_t>& bytes);
    GifBuilder& U16(int v);
    // Signature and logical screen descriptor; flags as stored.
    GifBuilder& Header(int width, int height, int flags, int background = 0, int aspect = 0,
                       const char* version = "89a");
    // entries triples; colours beyond the list are black.
    GifBuilder& Map(const std::vector<GifColour>& colours, int entries);
    GifBuilder& ImageDescriptor(int width, int height, int flags);
    std::vector<std::uint8_t> bytes;
};

}  // namespace handpix::test
