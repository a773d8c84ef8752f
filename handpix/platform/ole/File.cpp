#include "handpix/platform/ole/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "handpix/platform/core/File.h"

CFile::~CFile() {
    if (m_hFile != hFileNull) ::close(m_hFile);
}

BOOL CFile::Open(LPCTSTR path, UINT flags, CFileException* error) {
    if (error) *error = CFileException();
    Close();
    if (!path) return FALSE;
    int oflags = O_CLOEXEC;
    switch (flags & 3) {
    case modeWrite: oflags |= O_WRONLY; break;
    case modeReadWrite: oflags |= O_RDWR; break;
    default: oflags |= O_RDONLY; break;
    }
    if (flags & modeCreate) oflags |= O_CREAT | ((flags & modeNoTruncate) ? 0 : O_TRUNC);
    // Reads take regular files only, opened without blocking: a FIFO under a
    // picture's name must not hang the caller.
    const bool readOnly = (flags & 3) == modeRead && !(flags & modeCreate);
    int fd = readOnly ? handpix::OpenRegularFile(path) : ::open(path, oflags, 0644);
    if (fd < 0) {
        if (error) {
            error->m_lOsError = errno;
            error->m_cause = errno == ENOENT ? CFileException::fileNotFound
                             // A folder or other non-regular file is refused as MFC refuses a folder.
                             : errno == EACCES || (readOnly && errno == EINVAL) ? CFileException::accessDenied
                                               : CFileException::generic;
        }
        return FALSE;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) error->m_cause = CFileException::accessDenied;
        return FALSE;
    }
    m_hFile = fd;
    m_strFileName = path;
    return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
    if (m_hFile == hFileNull || !buffer) return 0;
    UINT done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(m_hFile, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

UINT CFile::Write(const void* buffer, UINT count) {
    if (m_hFile == hFileNull || !buffer) return 0;
    UINT done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::write(m_hFile, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

LONG CFile::Seek(LONG offset, UINT from) {
    if (m_hFile == hFileNull) return -1;
    int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    off_t pos = ::lseek(m_hFile, offset, whence);
    if (pos < 0 || pos > std::numeric_limits<LONG>::max()) return -1;
    return static_cast<LONG>(pos);
}

DWORD CFile::GetLength() const {
    struct stat st;
    if (m_hFile == hFileNull || ::fstat(m_hFile, &st) != 0) return 0;
    return static_cast<DWORD>(std::min<long long>(st.st_size, std::numeric_limits<DWORD>::max()));
}

DWORD CFile::GetPosition() const {
    if (m_hFile == hFileNull) return 0;
    off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<DWORD>(pos);
}

void CFile::Close() {
    if (m_hFile != hFileNull) ::close(m_hFile);
    m_hFile = hFileNull;
    m_strFileName.Empty();
}

CMemFile::CMemFile(UINT growBytes) : m_grow(growBytes ? growBytes : 1024) { m_hFile = 0; }

CMemFile::CMemFile(BYTE* buffer, UINT size, UINT growBytes) { Attach(buffer, size, growBytes); }

void CMemFile::Attach(BYTE* buffer, UINT size, UINT growBytes) {
    m_own.clear();
    m_external = buffer;
    m_capacity = buffer ? size : 0;
    // A file over the caller's bytes holds them all when it cannot grow, none when it can.
    m_size = growBytes == 0 ? m_capacity : 0;
    m_pos = 0;
    m_grow = growBytes;
    m_hFile = 0;
}

BYTE* CMemFile::Detach() {
    BYTE* b = m_external;
    m_external = nullptr;
    m_own.clear();
    m_capacity = m_size = m_pos = 0;
    return b;
}

UINT CMemFile::Read(void* buffer, UINT count) {
    if (!buffer || m_pos >= m_size) return 0;
    UINT n = std::min(count, m_size - m_pos);
    std::memcpy(buffer, Data() + m_pos, n);
    m_pos += n;
    return n;
}

bool CMemFile::Reserve(std::uint64_t size) {
    if (size > std::numeric_limits<UINT>::max()) return false;
    if (m_external) {
        if (size <= m_capacity) return true;
        if (m_grow == 0) return false;
        // A growing file over the caller's bytes moves into memory of its own.
        m_own.assign(m_external, m_external + m_size);
        m_external = nullptr;
    }
    try {
        if (size > m_own.size()) m_own.resize(static_cast<std::size_t>(size));
    } catch (...) {
        return false;
    }
    return true;
}

UINT CMemFile::Write(const void* buffer, UINT count) {
    if (!buffer || count == 0) return 0;
    std::uint64_t end = static_cast<std::uint64_t>(m_pos) + count;
    if (!Reserve(end)) {
        if (!m_external || m_pos >= m_capacity) return 0;
        count = m_capacity - m_pos;  // a fixed buffer takes what fits
        end = m_capacity;
    }
    std::memcpy((m_external ? m_external : m_own.data()) + m_pos, buffer, count);
    m_pos = static_cast<UINT>(end);
    m_size = std::max(m_size, m_pos);
    return count;
}

LONG CMemFile::Seek(LONG offset, UINT from) {
    long long base = from == current ? m_pos : from == end ? m_size : 0;
    long long pos = base + offset;
    if (pos < 0 || pos > std::numeric_limits<LONG>::max()) return -1;
    m_pos = static_cast<UINT>(pos);  // past the end is allowed; reads there give nothing
    return static_cast<LONG>(pos);
}

void CMemFile::Close() {
    m_own.clear();
    m_external = nullptr;
    m_capacity = m_size = m_pos = 0;
    m_hFile = hFileNull;
}
