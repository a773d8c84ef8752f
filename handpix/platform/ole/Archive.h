// CArchive: buffered reading or writing of a CFile; CArchiveStream: an IStream
// over an archive, so a picture can be loaded from one.
#pragma once
#include <atomic>
#include <vector>

#include "handpix/platform/ole/File.h"
#include "handpix/platform/ole/Ole.h"

class CArchive {
public:
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2, bNoByteSwap = 4 };

    // lpBuf is accepted for its signature; the archive always keeps its own buffer.
    CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsLoading() const { return (m_nMode & load) != 0; }
    bool IsStoring() const { return !IsLoading(); }
    CFile* GetFile() const { return m_pFile; }

    UINT Read(void* buffer, UINT count);
    UINT Write(const void* buffer, UINT count);
    // Storing: writes the buffer out. Loading: gives back the bytes read ahead,
    // so the file stands where the reader of the archive stands.
    void Flush();
    void Close();
    void Abort();

private:
    bool Fill();

    CFile* m_pFile;
    UINT m_nMode;
    std::vector<BYTE> m_buf;
    std::size_t m_cur = 0;  // next byte
    std::size_t m_end = 0;  // loading: bytes in the buffer; storing: bytes pending
};

class CArchiveStream : public IStream {
public:
    explicit CArchiveStream(CArchive* pArchive) : m_pArchive(pArchive) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // The stream lives where its creator put it (on the stack as a rule): counting only.
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override { return --m_refs; }
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;

private:
    CArchive* m_pArchive;
    std::atomic<ULONG> m_refs{1};
};
