// Helpers shared by the tool's verbs.
#pragma once
#include <string>

class CGraphicFileLoad;

namespace handpix::tool {
// Message boxes of the library become "handpix: text" lines on stderr.
void InstallStderrMessages();
// Loads a picture file; on failure returns false and fills `why` with the
// reader that failed and its error text.
bool LoadPicture(const std::string& path, CGraphicFileLoad& out, std::string& why);
// Lower-case extension with its dot ("" when none).
std::string LowerExtension(const std::string& path);

// Where a file stands on disk: which file and when it last changed. Library
// calls that write a file and report nothing are judged by whether it moved:
// an old file of that name must not pass for a new one, nor be deleted first.
struct FileStamp {
    bool exists = false;
    unsigned long long device = 0, inode = 0;
    long long modifiedNs = 0;
    static FileStamp Of(const std::string& path);
    bool operator==(const FileStamp&) const = default;
};
}  // namespace handpix::tool
