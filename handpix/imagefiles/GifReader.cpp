#include "handpix/imagefiles/GifReader.h"

#include <cstring>
#include <mutex>
#include <new>

#include "handpix/imagefiles/GifLzw.h"
#include "handpix/platform/core/File.h"

using namespace handpix::gif;

namespace {

// The screen state outlives a load on purpose: a file without colour maps is
// drawn with the map the previous GIF left behind. One read at a time.
struct GifScreen {
    std::mutex lock;
    int colourTableSize = 0;
    int aspect = 0;
    ColourMap globalMap = {};
    bool zeroBlock = false;
    LzwDecoder lzw;
};

GifScreen& Screen() {
    static GifScreen screen;
    return screen;
}

const char kNoError[] = "No Error";

bool ReadColourMap(GifInput& in, ColourMap& map, int entries) {
    for (int i = 0; i < entries; ++i) {
        std::uint8_t rgb[3];
        if (!in.Read(rgb, 3)) return false;
        map.red[i] = rgb[0];
        map.green[i] = rgb[1];
        map.blue[i] = rgb[2];
    }
    return true;
}

// Decodes the image data into pic. False only when the data cannot start (no
// code size byte, or one too large for 12-bit codes); a damaged stream keeps
// what it decoded and the unreached pixels get the background colour.
bool DecodeImage(GifScreen& screen, GifInput& in, const ColourMap& map, int mapEntries, int background,
                 unsigned char* pic, int width, int height, bool interlaced) {
    const int minCodeBits = in.Byte();
    if (minCodeBits < 0 || !screen.lzw.Start(minCodeBits)) return false;
    Palette palette;
    ExpandColourMap(map, palette);

    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    int y = 0;
    int pass = 0;
    LzwStop stop = LzwStop::none;
    while (y >= 0) {
        unsigned char* row = pic + rowBytes * static_cast<std::size_t>(y);
        const int got = screen.lzw.Decode(in, palette, row, width, stop);
        if (got < width) {
            const Rgb fill = palette.entry[background < mapEntries ? background : 0];
            for (int x = got; x < width; ++x) std::memcpy(row + 3 * x, &fill, 3);
            // The first untouched row is filled pixel by pixel, the others copy it.
            const unsigned char* filled = nullptr;
            for (y = NextRow(y, pass, height, interlaced); y >= 0; y = NextRow(y, pass, height, interlaced)) {
                unsigned char* rest = pic + rowBytes * static_cast<std::size_t>(y);
                if (filled) {
                    std::memcpy(rest, filled, rowBytes);
                    continue;
                }
                for (std::size_t i = 0; i < rowBytes; i += 3) std::memcpy(rest + i, &fill, 3);
                filled = rest;
            }
            break;
        }
        y = NextRow(y, pass, height, interlaced);
    }
    // One more value consumes the end code and the block terminator.
    std::uint8_t scratch[3];
    screen.lzw.Decode(in, palette, scratch, 1, stop);
    return true;
}

unsigned char* ReadImage(GifScreen& screen, GifInput& in, int background, int* width, int* height,
                         CString& error) {
    std::uint8_t desc[9];
    if (!in.Read(desc, sizeof desc)) {
        error = "Error on dimension read\nGiving up";
        return nullptr;
    }
    const int w = desc[4] | (desc[5] << 8);
    const int h = desc[6] | (desc[7] << 8);
    const bool hasLocalMap = (desc[8] & 0x80) != 0;
    const bool interlaced = (desc[8] & 0x40) != 0;
    const int localEntries = 1 << ((desc[8] & 7) + 1);

    if (w == 0 || h == 0) {
        error = "Out of Memory in GIFRead";
        return nullptr;
    }
    // Short data still loads (the rest is filled), so the limit is the only bound.
    if (!handpix::ReaderSizeAllowed(w, h)) {
        error = handpix::OverLimitText(w, h);
        return nullptr;
    }
    unsigned char* pic = new (std::nothrow) unsigned char[3 * static_cast<std::size_t>(w) * h];
    if (!pic) {
        error = "Out of Memory in GIFRead";
        return nullptr;
    }
    bool ok;
    if (!hasLocalMap) {
        ok = DecodeImage(screen, in, screen.globalMap, screen.colourTableSize, background, pic, w, h, interlaced);
        if (!ok) error = "Error reading GIF file\nGIFScreen Colormap\nGiving up";
    } else {
        ColourMap local = {};
        if (!ReadColourMap(in, local, localEntries)) {
            delete[] pic;
            error = "Error reading GIF colormap\nGiving up";
            return nullptr;
        }
        ok = DecodeImage(screen, in, local, localEntries, background, pic, w, h, interlaced);
        if (!ok) error = "Error reading GIF file\nLocalColorMap\nGiving up";
    }
    if (!ok) {
        delete[] pic;
        return nullptr;
    }
    *width = w;
    *height = h;
    return pic;
}

unsigned char* ReadFrom(FILE* file, const CString& name, int* width, int* height, CString& error) {
    GifScreen& screen = Screen();
    std::lock_guard<std::mutex> hold(screen.lock);
    GifInput in(file, screen.zeroBlock);

    std::uint8_t magic[6];
    if (!in.Read(magic, sizeof magic)) {
        error = CString("Error reading GIF Magic #\n") + name;
        return nullptr;
    }
    if (std::memcmp(magic, "GIF", 3) != 0) {
        error = CString("Error, ") + name + " is not a valid .GIF file";
        return nullptr;
    }
    if (std::memcmp(magic + 3, "87a", 3) != 0 && std::memcmp(magic + 3, "89a", 3) != 0) {
        error = "Error, Bad GIF Version number";
        return nullptr;
    }
    std::uint8_t screenDesc[7];
    if (!in.Read(screenDesc, sizeof screenDesc)) {
        error = "Error, failed to GIF read screen descriptor.\nGiving up";
        return nullptr;
    }
    screen.colourTableSize = 2 << (screenDesc[4] & 7);
    screen.aspect = screenDesc[6];
    const int background = screenDesc[5];
    if ((screenDesc[4] & 0x80) && !ReadColourMap(in, screen.globalMap, screen.colourTableSize)) {
        error = "Error reading GIF colormap";
        return nullptr;
    }
    if (screen.aspect != 0 && screen.aspect != 49) error = "Non-square pixels in GIF image.\nIgnoring that fact...";

    for (;;) {
        const int c = in.Byte();
        if (c < 0) {
            error = "Unexpected EOF in GIF.\nGiving up";
            return nullptr;
        }
        if (c == '!') {
            if (in.Byte() < 0) {
                error = "Error on extension read.\nGiving up";
                return nullptr;
            }
            in.SkipSubBlocks();
        } else if (c == ',') {
            return ReadImage(screen, in, background, width, height, error);
        }
        // Any other byte, the trailer included, is not a block start: skip it.
    }
}

}  // namespace

CGifReader::CGifReader() : m_strError(kNoError) {}

unsigned char* CGifReader::Read(const char* path, int* width, int* height) {
    return ReadGif(CString(path), width, height);
}

unsigned char* CGifReader::ReadGif(CString path, int* width, int* height) {
    m_strError = kNoError;
    if (path.IsEmpty()) {
        m_strError = "No Name Given";
        return nullptr;
    }
    FILE* f = handpix::OpenRegularFileStream(path);
    if (!f) {
        m_strError = CString("Cant open GIF :\n") + path;
        return nullptr;
    }
    unsigned char* pic = ReadFrom(f, path, width, height, m_strError);
    std::fclose(f);
    return pic;
}

unsigned char* CGifReader::ReadGifStream(FILE* f, const char* name, int* width, int* height) {
    m_strError = kNoError;
    if (!f) {
        m_strError = CString("Cant open GIF :\n") + CString(name);
        return nullptr;
    }
    return ReadFrom(f, CString(name), width, height, m_strError);
}
