#include "handpix/platform/core/File.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace handpix {

int OpenRegularFile(const char* path) {
    if (!path) return -1;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

std::FILE* OpenRegularFileStream(const char* path) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) ::close(fd);
    return f;
}

bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& out, std::size_t maxBytes) {
    out.clear();
    const int fd = OpenRegularFile(path);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(done);  // a file that shrank while read gives what was there
    return true;
}

bool AtomicFile::Open(const char* path) {
    Discard();
    if (!path || !*path) return false;
    // Only a regular file this process may write is replaced: the rename
    // would put a file in place of a device, FIFO or folder of that name, and
    // would replace a read-only file that opening it for writing would not.
    struct stat st;
    const bool exists = ::stat(path, &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || (::access(path, W_OK) != 0 && errno == EACCES))) return false;
    m_target = path;
    m_temp = m_target + ".tmp-XXXXXX";
    m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_temp.clear();
        return false;
    }
    // A replaced file keeps its permissions; a new one gets the usual 0644.
    const mode_t mode = exists ? (st.st_mode & 07777) : 0644;
    ::fchmod(m_fd, mode);
    m_failed = false;
    return true;
}

std::FILE* AtomicFile::Stream() {
    if (!m_stream && m_fd >= 0) {
        m_stream = ::fdopen(m_fd, "wb");
        if (!m_stream) m_failed = true;
    }
    return m_stream;
}

bool AtomicFile::Write(const void* data, std::size_t size) {
    if (m_fd < 0 || m_failed) return false;
    if (m_stream) {
        if (std::fwrite(data, 1, size, m_stream) != size) m_failed = true;
        return !m_failed;
    }
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(m_fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit() {
    if (m_fd < 0) return false;
    bool ok = !m_failed;
    if (m_stream) {
        ok = std::fflush(m_stream) == 0 && !std::ferror(m_stream) && ok;
        ok = ::fsync(m_fd) == 0 && ok;
        ok = std::fclose(m_stream) == 0 && ok;
        m_stream = nullptr;
    } else {
        ok = ::fsync(m_fd) == 0 && ok;
        ok = ::close(m_fd) == 0 && ok;
    }
    m_fd = -1;
    if (ok && ::rename(m_temp.c_str(), m_target.c_str()) != 0) ok = false;
    if (!ok) ::unlink(m_temp.c_str());
    m_temp.clear();
    return ok;
}

void AtomicFile::Discard() {
    if (m_stream) std::fclose(m_stream);
    else if (m_fd >= 0) ::close(m_fd);
    if (m_fd >= 0) ::unlink(m_temp.c_str());
    m_stream = nullptr;
    m_fd = -1;
    m_temp.clear();
}

bool WriteFileAtomically(const char* path, const void* data, std::size_t size) {
    AtomicFile file;
    return file.Open(path) && file.Write(data, size) && file.Commit();
}

long long FileSizeOf(const char* path) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

bool FileExists(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0;
}

bool IsDirectory(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

CString GetModuleDirectory() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return CString("./");
    std::string s(buf, static_cast<std::size_t>(n));
    std::size_t slash = s.rfind('/');
    return CString(slash == std::string::npos ? std::string("./") : s.substr(0, slash + 1));
}

}  // namespace handpix

namespace {
void CopyOut(char* dst, const char* from, std::size_t n, std::size_t cap) {
    if (!dst) return;
    if (n >= cap) n = cap - 1;
    std::memcpy(dst, from, n);
    dst[n] = '\0';
}
}  // namespace

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    if (!path) path = "";
    const char* p = path;
    if (p[0] && p[1] == ':' && ((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z')) {
        CopyOut(drive, p, 2, _MAX_DRIVE);
        p += 2;
    } else {
        CopyOut(drive, p, 0, _MAX_DRIVE);
    }
    const char* lastSep = nullptr;
    for (const char* q = p; *q; ++q)
        if (*q == '/' || *q == '\\') lastSep = q;
    const char* name = lastSep ? lastSep + 1 : p;
    CopyOut(dir, p, static_cast<std::size_t>(name - p), _MAX_DIR);
    const char* dot = std::strrchr(name, '.');
    const char* end = name + std::strlen(name);
    if (!dot) dot = end;
    CopyOut(fname, name, static_cast<std::size_t>(dot - name), _MAX_FNAME);
    CopyOut(ext, dot, static_cast<std::size_t>(end - dot), _MAX_EXT);
}

int _stricmp(const char* a, const char* b) { return ::strcasecmp(a ? a : "", b ? b : ""); }

namespace {
constexpr const char* kHiddenAttr = "user.hidden";
}

DWORD GetFileAttributesA(const char* path) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return INVALID_FILE_ATTRIBUTES;
    DWORD a = 0;
    if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
    if (::access(path, W_OK) != 0 && errno == EACCES) a |= FILE_ATTRIBUTE_READONLY;
    char v;
    if (::getxattr(path, kHiddenAttr, &v, 1) >= 0) a |= FILE_ATTRIBUTE_HIDDEN;
    return a ? a : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesA(const char* path, DWORD attributes) {
    if (!path || !handpix::FileExists(path)) return FALSE;
    if (attributes & FILE_ATTRIBUTE_HIDDEN)
        ::setxattr(path, kHiddenAttr, "1", 1, 0);  // silently ignored where unsupported
    else
        ::removexattr(path, kHiddenAttr);
    return TRUE;
}

BOOL DeleteFileA(const char* path) { return path && ::unlink(path) == 0; }
BOOL MoveFileA(const char* from, const char* to) {
    if (!from || !to || handpix::FileExists(to)) return FALSE;
    return ::rename(from, to) == 0;
}
BOOL CreateDirectoryA(const char* path, void*) { return path && ::mkdir(path, 0755) == 0; }
int _mkdir(const char* path) { return (path && ::mkdir(path, 0755) == 0) ? 0 : -1; }

HFILE _lopen(const char* path, int mode) {
    if (mode == OF_READ) {
        const int fd = handpix::OpenRegularFile(path);
        return fd < 0 ? HFILE_ERROR : fd;
    }
    int fd = path ? ::open(path, (mode == OF_WRITE ? O_WRONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC) : -1;
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    return fd < 0 ? HFILE_ERROR : fd;
}
HFILE _lcreat(const char* path, int) {
    int fd = path ? ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    return fd < 0 ? HFILE_ERROR : fd;
}
UINT _lread(HFILE f, void* buf, UINT n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::read(f, static_cast<char*>(buf) + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return static_cast<UINT>(-1);
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<UINT>(done);
}
UINT _lwrite(HFILE f, const void* buf, UINT n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::write(f, static_cast<const char*>(buf) + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return static_cast<UINT>(-1);
        done += static_cast<std::size_t>(r);
    }
    return static_cast<UINT>(done);
}
HFILE _lclose(HFILE f) { return ::close(f) == 0 ? 0 : HFILE_ERROR; }
DWORD GetFileSize(HFILE f, DWORD* high) {
    struct stat st;
    if (::fstat(f, &st) != 0) return 0xFFFFFFFFu;
    if (high) *high = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_size) >> 32);
    return static_cast<DWORD>(st.st_size);
}
