// Builds SAF streams chunk by chunk: header sub-chunks, objects (pixels
// deflated with zlib, as the parser inflates them), frame display lists and
// raw chunks. It writes what it is told, malformed streams included; the
// frame encoder above it is what keeps to the reader's limits.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "handpix/handset/SisBitWriter.h"

namespace handpix {

// Header sub-chunks.
Bytes SafImageHeader(int width, int height, int bpp, int loop = 0);
Bytes SafAnimation(int frames, int attribute = 0);
Bytes SafDelay(int delay);                          // one delay for every frame
Bytes SafFrameDelays(const std::vector<int>& delays);  // per-frame delays
Bytes SafPalette(int kind, const Bytes& bytes);     // kind 1 explicit, 2 grey, 3 ignored
Bytes SafColourTable(const std::vector<int>& entries);
Bytes SafSubChunk(int tag, const Bytes& body);      // any tag, l = body size

// Display-list items.
struct SafPlace {
    int object = 0;
    int x = 0, y = 0;       // signed; the sign goes into the flags
    bool mirror = false, flip = false;
    int hMode = 0, hFactor = 0;
    int vMode = 0, vFactor = 0;
    int mode = 0;           // drawing mode
    int angle = -1;         // -1: no rotation byte
    int clip[4] = {-1, 0, 0, 0};  // left, right, top, bottom; left -1: none
    int alpha = -1;         // -1: no alpha byte
};
Bytes SafPlaceItem(const SafPlace& p);
Bytes SafItem(int type, const Bytes& params);  // type, length, params

// Packs one value per pixel at bpp bits, first pixel in the high bits.
Bytes SafPack(const std::vector<int>& pixels, int bpp);
Bytes SafDeflate(const Bytes& raw);     // zlib stream; empty if zlib fails
Bytes SafRawDeflate(const Bytes& raw);  // deflate blocks without zlib header

class SafWriter {
public:
    SafWriter& Signature(const Bytes& first5);  // replaces "SAF", 0, version
    SafWriter& Version(int v);
    SafWriter& DeclaredLength(int l);           // default: the stream's length
    SafWriter& Header(std::initializer_list<Bytes> subChunks);
    SafWriter& HeaderRaw(const Bytes& run);
    // Object of unpacked pixels at the stream's depth (bpp), stored deflated.
    SafWriter& Object(int number, int width, int height, int bpp, const std::vector<int>& pixels,
                      int transparent = 0, int flag = 0);
    // Object with explicit storage type and data.
    SafWriter& ObjectRaw(int number, int width, int height, int storage, int transparent, const Bytes& data);
    SafWriter& Frame(int background, std::initializer_list<Bytes> items);
    SafWriter& FrameItems(int background, const std::vector<Bytes>& items);
    SafWriter& Chunk(int tag, const Bytes& payload);
    SafWriter& End();
    Bytes Build() const;
    std::size_t Size() const { return 7 + m_body.size(); }

private:
    Bytes m_first = {'S', 'A', 'F', 0, 1};
    int m_declared = -1;
    Bytes m_body;
};

}  // namespace handpix
