#include "tests/support/PhotoCacheFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "handpix/platform/core/File.h"
#include "tests/support/JpegPeer.h"

namespace handpix::test {

TempTree::TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "photocache-XXXXXX").string();
    m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
}

TempTree::~TempTree() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

void WriteJpeg(const std::string& path, int width, int height, unsigned seed) {
    jpegtest::EncodeOptions options;
    WriteBytes(path, [&] {
        auto bytes = jpegtest::PeerEncode(jpegtest::PhotoLike(width, height, seed), options);
        return std::string(bytes.begin(), bytes.end());
    }());
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool HiddenSupported(const std::string& folder) {
    std::string probe = folder + "/.probe";
    WriteBytes(probe, "x");
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_HIDDEN);
    bool kept = (GetFileAttributesA(probe.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    DeleteFileA(probe.c_str());
    return kept;
}

}  // namespace handpix::test
