// What the tool says about handset files (SNI, EBA, IMG), recognised by
// content rather than by extension.
#pragma once
#include <string>
#include <vector>

namespace handpix::tool {

enum class HandsetFormat { none, sni, eba, img };

struct HandsetFacts {
    HandsetFormat format = HandsetFormat::none;
    int width = 0;
    int height = 0;
    int bits = 0;
    int frames = 1;
    std::string stream;                 // SNI: "SIS kind 1", "SIS kind 2", "SAF"; empty otherwise
    int streamWidth = 0, streamHeight = 0, streamBits = 0;
    std::vector<unsigned> delays;       // one per frame, tenths of a second; empty when the file has none
    bool loop = false;
    bool ownPalette = false;            // SNI with a palette trailer
    bool transparent = false;
    unsigned char key[3] = {0, 0, 0};   // red, green, blue
};

// The format named by the first bytes of the file ("SNI", "ANI", "IMG").
HandsetFormat DetectHandsetFile(const std::string& path);

// Reads the header (and for SNI probes the embedded stream). On failure
// returns false with the reason in `why`.
bool ReadHandsetFacts(const std::string& path, HandsetFacts& out, std::string& why);

enum class HandsetInfoResult { notHandset, described, failed };
// For `handpix info`: one tab-separated line (path, format, size, then depth,
// frames, stream, delays, loop, palette, transparency) or the reason it failed.
HandsetInfoResult DescribeHandsetFile(const std::string& path, std::string& line);

}  // namespace handpix::tool
