// Files for the thumbnail-cache tests: a private temporary tree per test,
// photo-like JPEGs of a chosen size, and whole-file reads.
#pragma once
#include <string>

namespace handpix::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A JPEG of width x height; seeds change the content (and so the file size).
void WriteJpeg(const std::string& path, int width, int height, unsigned seed = 1);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// True when the file system keeps the hidden attribute at all.
bool HiddenSupported(const std::string& folder);

}  // namespace handpix::test
