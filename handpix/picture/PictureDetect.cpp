#include <cstring>

#include "handpix/picture/Picture.h"
#include "handpix/platform/core/FileFind.h"

namespace {
// The first 20 bytes with byte 19 set to zero: every search below is a C
// string search, so it sees bytes 0 to 18 at most and stops at a zero byte.
struct Header {
    char bytes[20];
    explicit Header(const BYTE* p) {
        std::memcpy(bytes, p, sizeof bytes);
        bytes[19] = '\0';
    }
    bool Has(const char* signature, int from = 0) const { return std::strstr(bytes + from, signature) != nullptr; }
    // Handset sounds of the later kind carry a version byte of '0' or more at
    // offset 17 whose low four bits exceed 1.
    bool NewerSound() const {
        auto v = static_cast<signed char>(bytes[17]);
        return v > 0x2F && (v & 0x0F) > 1;
    }
};
}  // namespace

CString CPicture::GetExtension(BYTE* pHeader) {
    if (!pHeader) return CString();
    Header h(pHeader);
    if (h.Has("ANI")) return "eba";
    if (h.Has("SNI")) return "eba";
    if (h.Has("IMG")) return "pht";
    if (h.Has("JFIF", 6) || h.Has("xif", 6)) return "jpg";
    if (h.Has("BM")) return "bmp";
    if (h.Has("GIF")) return "gif";
    if (!h.Has("MMMD")) return CString();
    return h.NewerSound() ? "ma3" : "ma2";
}

void CPicture::ApplyExtension(CString& name, BYTE* pHeader, int nKind) {
    if (!pHeader) return;
    // A name that already ends in a dot and three characters keeps it.
    if (name.Right(4).Find('.') == 0) return;
    // Addition: so do JPEG names of four letters (".jpeg").
    if (handpix::HasJpegExtension(name.str())) return;
    Header h(pHeader);
    const char* ext = nullptr;
    if (h.Has("ANI") || h.Has("SNI")) ext = ".eba";
    else if (h.Has("IMG") && nKind == 7) ext = ".img";
    else if (h.Has("IMG") && nKind == 9) ext = ".pht";
    else if (h.Has("JFIF", 6)) ext = ".jpg";
    else if (h.Has("MMMD")) ext = h.NewerSound() ? ".mmf" : ".ma2";
    else if (nKind == 9) ext = ".jpg";
    if (ext) name += ext;
}
