// Addition: thumbnails of progressive JPEG files from only the scans they
// need. At 1/8 of the size a full-resolution component is its blocks' DC
// values, and chroma sampled 2 x 2 is a 2 x 2 transform of its low
// coefficients; every other scan is stepped over at its markers without
// being entropy-decoded. The pixels are the ones libjpeg-turbo gives for the
// same request (scale 1/8, plain chroma replication, B, G, R rows). A file
// this path cannot serve exactly is declined before a byte is written, and
// the caller decodes it as before.
#pragma once
#include <cstddef>
#include <cstdint>

struct JPEG_CORE_PROPERTIES;

namespace handpix {

// Addition: decodes into p's DIB when p asks for 1/8 scale as 3-channel
// B, G, R rows (DIBWidth and |DIBHeight| the scaled size, either row order,
// DIBPadBytes honoured) and the file is a complete progressive Huffman-coded
// 8-bit JPEG: grey, or YCbCr sampled 4:4:4, 4:2:2 or 4:2:0. False, with
// nothing written, for anything else: other requests, other kinds of file,
// missing or damaged scans, pictures above the picture-size limit.
bool ReadProgressiveEighth(const std::uint8_t* data, std::size_t size, JPEG_CORE_PROPERTIES& p);

// Addition: the same for an open regular file, read whole from its start
// without moving its offset; files above maxBytes are declined unread.
bool ReadProgressiveEighth(int fd, std::uint64_t maxBytes, JPEG_CORE_PROPERTIES& p);

}  // namespace handpix
