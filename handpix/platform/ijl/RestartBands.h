// One picture on every core: a baseline Huffman file whose restart markers
// fall at the starts of MCU rows decodes as several independent bands. Every
// restart resets the DC predictors, so the MCU rows after such a marker need
// nothing from the rows before it; each band goes to libjpeg as a small file
// of its own (the original headers with the frame height of the band, and the
// band's entropy bytes, never copied whole: served from the caller's memory or
// read from the file a buffer at a time) on its own thread, and its rows land
// straight in the caller's buffer. Only settings under which no output
// row depends on another band are taken (no vertical fancy upsampling);
// anything else, or anything unusual in the file, declines before decoding and
// the caller decodes as usual.
// Addition: the original library decoded on one thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

namespace handpix {

// The frame in MCUs, as the header gives it.
struct RestartLayout {
    std::uint32_t mcusPerRow = 0;
    std::uint32_t mcuRows = 0;
    std::uint32_t mcuHeight = 0;        // pixel rows per MCU row
    std::uint32_t height = 0;           // pixel rows of the frame
    std::uint32_t restartInterval = 0;  // MCUs
};

// The layout of a decompressor that has read the header and holds the
// caller's output settings; false when those cannot be decoded in bands exactly.
bool RestartLayoutOf(const jpeg_decompress_struct& c, RestartLayout& out);

// Where the decoded rows go: c.output_height rows of rowBytes, top row first
// unless bottomUp.
struct BandOutput {
    std::uint8_t* rows = nullptr;
    std::size_t rowBytes = 0;
    bool bottomUp = false;
};

// Decodes the whole file `file` (whose header `c` has read, with the caller's
// output settings) in bands on up to `threads` threads, 0 meaning one per
// core. Declines (no bands) unless the headers walk cleanly from SOI to one
// SOF0 or SOF1 and the SOS, and the scan holds exactly the restart markers the
// layout calls for, numbered in sequence, followed by EOI. True when every
// band decoded without a warning; false when it declined or any band failed,
// in which case rows may have been written and the caller decodes as usual.
bool DecodeRestartBands(const jpeg_decompress_struct& c, const std::uint8_t* file, std::size_t size,
                        const BandOutput& out, unsigned threads = 0);
// The same for an open file, read from its start when the header qualifies;
// the threads read and search their shares of it side by side. `head`, when
// given, holds the file's first headSize bytes, read already: when the
// headers lie in them, they are not read again.
bool DecodeRestartBands(const jpeg_decompress_struct& c, int fd, const BandOutput& out, unsigned threads = 0,
                        const std::uint8_t* head = nullptr, std::size_t headSize = 0);

}  // namespace handpix
