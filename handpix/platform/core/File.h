// File helpers: whole-file reads with a size cap, path splitting, the Win32
// attribute, delete and rename calls, and the old _l* file handle calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "handpix/platform/core/String.h"
#include "handpix/platform/core/Types.h"

namespace handpix {
// Opens path for reading only when it is a regular file: a FIFO, device or
// folder planted under a picture's name must not block or mislead a reader.
// The open is non-blocking so that even a FIFO returns at once. -1 on failure.
int OpenRegularFile(const char* path);
// The same as a stdio stream ("rb"), or null.
std::FILE* OpenRegularFileStream(const char* path);

// Every file the library writes goes through this: the bytes go to a
// temporary file beside the target, which Commit flushes to disk and renames
// over the target. Until Commit succeeds the target is untouched; a failed
// Commit, or destruction without one, removes the temporary file.
// Open refuses a target that is not a regular file or that this process may
// not write.
class AtomicFile {
public:
    AtomicFile() = default;
    explicit AtomicFile(const char* path) { Open(path); }
    ~AtomicFile() { Discard(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Open(const char* path);
    bool IsOpen() const { return m_fd >= 0; }
    // A stdio stream over the temporary file, owned by this object.
    std::FILE* Stream();
    bool Write(const void* data, std::size_t size);
    bool Commit();
    void Discard();

private:
    std::string m_target, m_temp;
    int m_fd = -1;
    std::FILE* m_stream = nullptr;
    bool m_failed = false;
};

// Reads the whole file into out. Fails (false) when it cannot be opened or read,
// or when it is larger than maxBytes.
bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& out, std::size_t maxBytes);
// Writes data to path through AtomicFile.
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
