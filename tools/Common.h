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
}  // namespace handpix::tool
