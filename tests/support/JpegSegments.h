// Takes JPEG files apart into marker segments and puts them together again,
// so tests can reorder, merge, drop or add segments, or build small files.
#pragma once
#include <cstdint>
#include <vector>

namespace jpegtest {

using Bytes = std::vector<std::uint8_t>;

struct Segment {
    std::uint8_t marker;  // the byte after FF
    Bytes payload;        // without marker and length
};

struct SplitFile {
    std::vector<Segment> segments;  // SOI excluded, SOS included
    Bytes entropy;                  // everything after the SOS segment
};

SplitFile Split(const Bytes& file);
// The same file with the frame header (SOF0 to SOF2) claiming another size.
Bytes WithFrameSize(const Bytes& file, int width, int height);
Bytes Join(const std::vector<Segment>& segments, const Bytes& entropy);
// The tables of one DHT payload, each as its own payload.
std::vector<Bytes> DhtTables(const Bytes& payload);
// A DHT payload of one table: class/number byte, counts per length, symbols.
Bytes DhtTable(std::uint8_t slot, const std::vector<int>& countsPerLength, const Bytes& symbols);

// A grey 8 x 8 file, quantization all 1, with the given DHT tables and
// entropy bytes; the scan uses the tables named by `scanTables` (Td << 4 | Ta).
Bytes Grey8x8(const Bytes& dcTable, const Bytes& acTable, const Bytes& entropy, std::uint8_t scanTables = 0x00);

// An Exif APP1 payload ("Exif", two zeros, a TIFF block) whose IFD0 holds
// `others` unrelated tags and then, unless withTag is off, the Orientation tag.
struct ExifBlock {
    int orientation = 1;
    bool bigEndian = false;
    std::uint16_t type = 3;          // SHORT, as cameras write it
    bool withTag = true;
    int others = 0;
    long long ifdOffset = -1;        // IFD0's offset as written; -1: where it is
    int claimedEntries = -1;         // the IFD's entry count; -1: the real one
};
Bytes ExifPayload(const ExifBlock& block);
// The file with an APP1 segment of that payload after SOI, or after the
// first segment (the JFIF APP0 a writer puts first) when late is set.
Bytes WithExif(const Bytes& file, const Bytes& payload, bool late = false);

}  // namespace jpegtest
