#include "tools/Common.h"

#include <fmt/core.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/GifReader.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/platform/core/FileFind.h"
#include "handpix/platform/core/MessageBox.h"

namespace handpix::tool {

void InstallStderrMessages() {
    SetMessageBoxHandler([](const char* text, const char*, UINT) {
        std::string t(text);
        while (!t.empty() && t.back() == '\n') t.pop_back();
        fmt::print(stderr, "handpix: {}\n", t);
        return IDOK;
    });
}

std::string LowerExtension(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = path.substr(dot);
    for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

FileStamp FileStamp::Of(const std::string& path) {
    FileStamp s;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return s;
}

bool LoadPicture(const std::string& path, CGraphicFileLoad& out, std::string& why) {
    int r = out.LoadGraphicFile(path.c_str());
    if (r == 0) return true;
    if (r == 2) {
        why = "unsupported extension (bmp, gif, jpg, jpeg, jpe, img, pht are read)";
        return false;
    }
    // Ask the reader again for its own words; the loader keeps only the result.
    std::string ext = LowerExtension(path);
    int w = 0, h = 0;
    if (ext == ".bmp") {
        CBmpReader reader;
        delete[] reader.ReadBmp(CString(path.c_str()), &w, &h);
        why = "BMP reader: " + std::string(reader.m_strError.c_str());
    } else if (ext == ".gif") {
        CGifReader reader;
        delete[] reader.ReadGif(CString(path.c_str()), &w, &h);
        why = "GIF reader: " + std::string(reader.m_strError.c_str());
    } else if (HasJpegExtension(ext)) {
        why = "JPEG reader failed (see the message above)";
    } else {
        why = "IMG reader: not a readable handset picture (missing, short, or beyond 178 x 160)";
    }
    for (char& c : why)
        if (c == '\n') c = ' ';
    return false;
}

}  // namespace handpix::tool
