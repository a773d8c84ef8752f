// MFC's file classes: CFile over a file descriptor, CMemFile over memory.
// Failures are reported through results, never thrown.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/platform/core/String.h"
#include "handpix/platform/core/Types.h"

class CFileException {
public:
    enum { none = 0, generic = 1, fileNotFound = 2, accessDenied = 5, badSeek = 7, endOfFile = 10 };
    int m_cause = none;
    int m_lOsError = 0;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
    static constexpr int hFileNull = -1;

    CFile() = default;
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Sharing modes are accepted and not enforced.
    virtual BOOL Open(LPCTSTR path, UINT flags, CFileException* error = nullptr);
    virtual UINT Read(void* buffer, UINT count);
    // Returns the bytes written (MFC's Write returns nothing and throws on a short write).
    virtual UINT Write(const void* buffer, UINT count);
    // New position, or -1 when the seek fails.
    virtual LONG Seek(LONG offset, UINT from);
    virtual DWORD GetLength() const;
    virtual DWORD GetPosition() const;
    virtual void Close();
    virtual void Abort() { Close(); }
    void SeekToBegin() { Seek(0, begin); }
    DWORD SeekToEnd() { return static_cast<DWORD>(Seek(0, end)); }
    const CString& GetFilePath() const { return m_strFileName; }
    bool IsOpen() const { return m_hFile != hFileNull; }

    int m_hFile = hFileNull;

protected:
    CString m_strFileName;
};

class CMemFile : public CFile {
public:
    // A growable file in memory of its own.
    explicit CMemFile(UINT growBytes = 1024);
    // A file over the caller's bytes; with growBytes 0 it never grows past them.
    CMemFile(BYTE* buffer, UINT size, UINT growBytes = 0);
    ~CMemFile() override = default;

    void Attach(BYTE* buffer, UINT size, UINT growBytes = 0);
    // Gives up the caller's buffer (or nothing for an own one); the file becomes empty.
    BYTE* Detach();

    BOOL Open(LPCTSTR, UINT, CFileException* = nullptr) override { return FALSE; }
    UINT Read(void* buffer, UINT count) override;
    UINT Write(const void* buffer, UINT count) override;
    LONG Seek(LONG offset, UINT from) override;
    DWORD GetLength() const override { return m_size; }
    DWORD GetPosition() const override { return m_pos; }
    void Close() override;

    // Addition: the bytes held.
    const BYTE* Data() const { return m_external ? m_external : m_own.data(); }

private:
    bool Reserve(std::uint64_t size);

    std::vector<BYTE> m_own;
    BYTE* m_external = nullptr;
    UINT m_capacity = 0;  // external buffer size
    UINT m_size = 0;
    UINT m_pos = 0;
    UINT m_grow = 1024;
};
