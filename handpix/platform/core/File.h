// File helpers: whole-file reads with a size cap, path splitting, the Win32
// attribute, delete and rename calls, and the old _l* file handle calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "handpix/platform/core/String.h"
#include "handpix/platform/core/Types.h"

namespace handpix {
// Reads the whole file into out. Fails (false) when it cannot be opened or read,
// or when it is larger than maxBytes.
bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& out, std::size_t maxBytes);
// Writes data to path through a temporary file in the same folder and a rename,
// so a reader never sees a half-written file.
bool WriteFileAtomically(const char* path, const void* data, std::size_t size);
// Size of a regular file, or -1.
long long FileSizeOf(const char* path);
bool FileExists(const char* path);
bool IsDirectory(const char* path);
// Folder of the running executable, with a trailing '/'.
CString GetModuleDirectory();
}  // namespace handpix

// _splitpath: any output may be null. Both '/' and '\\' separate folders.
// The extension includes its dot; the name is what lies between.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
constexpr int _MAX_PATH = 260;
constexpr int _MAX_DRIVE = 3;
constexpr int _MAX_DIR = 256;
constexpr int _MAX_FNAME = 256;
constexpr int _MAX_EXT = 256;
int _stricmp(const char* a, const char* b);

// Hidden is kept as the extended attribute user.hidden where the file system
// allows it; elsewhere it is silently dropped.
DWORD GetFileAttributesA(const char* path);
BOOL SetFileAttributesA(const char* path, DWORD attributes);
BOOL DeleteFileA(const char* path);
BOOL MoveFileA(const char* from, const char* to);
BOOL CreateDirectoryA(const char* path, void* security);
int _mkdir(const char* path);

using HFILE = int;
constexpr HFILE HFILE_ERROR = -1;
constexpr int OF_READ = 0;
constexpr int OF_WRITE = 1;
constexpr int OF_READWRITE = 2;
HFILE _lopen(const char* path, int mode);
HFILE _lcreat(const char* path, int attributes);
UINT _lread(HFILE f, void* buf, UINT n);
UINT _lwrite(HFILE f, const void* buf, UINT n);
HFILE _lclose(HFILE f);
DWORD GetFileSize(HFILE f, DWORD* high);
