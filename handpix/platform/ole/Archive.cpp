#include "handpix/platform/ole/Archive.h"

#include <algorithm>
#include <cstring>

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize, void*)
    : m_pFile(pFile), m_nMode(nMode), m_buf(static_cast<std::size_t>(std::clamp(nBufSize, 128, 1 << 20))) {}

CArchive::~CArchive() {
    if (m_pFile && !(m_nMode & bNoFlushOnDelete)) Close();
}

bool CArchive::Fill() {
    if (!m_pFile) return false;
    m_cur = 0;
    m_end = m_pFile->Read(m_buf.data(), static_cast<UINT>(m_buf.size()));
    return m_end > 0;
}

UINT CArchive::Read(void* buffer, UINT count) {
    if (!m_pFile || !IsLoading() || !buffer) return 0;
    auto* out = static_cast<BYTE*>(buffer);
    UINT done = 0;
    while (done < count) {
        if (m_cur == m_end) {
            // Large requests go straight to the file once the buffer is drained.
            if (count - done >= m_buf.size()) {
                UINT n = m_pFile->Read(out + done, count - done);
                done += n;
                break;
            }
            if (!Fill()) break;
        }
        std::size_t n = std::min<std::size_t>(count - done, m_end - m_cur);
        std::memcpy(out + done, m_buf.data() + m_cur, n);
        m_cur += n;
        done += static_cast<UINT>(n);
    }
    return done;
}

UINT CArchive::Write(const void* buffer, UINT count) {
    if (!m_pFile || IsLoading() || !buffer) return 0;
    const auto* in = static_cast<const BYTE*>(buffer);
    UINT done = 0;
    while (done < count) {
        if (m_end == m_buf.size()) Flush();
        if (m_end == m_buf.size()) break;  // the file takes nothing more
        std::size_t n = std::min<std::size_t>(count - done, m_buf.size() - m_end);
        std::memcpy(m_buf.data() + m_end, in + done, n);
        m_end += n;
        done += static_cast<UINT>(n);
    }
    return done;
}

void CArchive::Flush() {
    if (!m_pFile) return;
    if (IsLoading()) {
        if (m_cur < m_end) m_pFile->Seek(-static_cast<LONG>(m_end - m_cur), CFile::current);
        m_cur = m_end = 0;
        return;
    }
    UINT written = m_pFile->Write(m_buf.data(), static_cast<UINT>(m_end));
    if (written == m_end) {
        m_end = 0;
    } else {  // keep what the file refused at the front of the buffer
        std::memmove(m_buf.data(), m_buf.data() + written, m_end - written);
        m_end -= written;
    }
}

void CArchive::Close() {
    if (m_pFile && IsStoring()) Flush();
    m_pFile = nullptr;
}

void CArchive::Abort() { m_pFile = nullptr; }

HRESULT CArchiveStream::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IStream) && !(riid == IID_IUnknown)) return E_NOINTERFACE;
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
}

HRESULT CArchiveStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv || !m_pArchive) return E_POINTER;
    UINT n = m_pArchive->Read(pv, cb);
    if (pcbRead) *pcbRead = n;
    return n == cb ? S_OK : S_FALSE;
}

HRESULT CArchiveStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv || !m_pArchive) return E_POINTER;
    UINT n = m_pArchive->Write(pv, cb);
    if (pcbWritten) *pcbWritten = n;
    return n == cb ? S_OK : STG_E_READFAULT;
}

HRESULT CArchiveStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
    if (!m_pArchive || !m_pArchive->GetFile()) return STG_E_INVALIDFUNCTION;
    if (move.QuadPart < INT32_MIN || move.QuadPart > INT32_MAX) return STG_E_SEEKERROR;
    m_pArchive->Flush();
    UINT from = origin == STREAM_SEEK_CUR ? CFile::current : origin == STREAM_SEEK_END ? CFile::end : CFile::begin;
    LONG pos = m_pArchive->GetFile()->Seek(static_cast<LONG>(move.QuadPart), from);
    if (pos < 0) return STG_E_SEEKERROR;
    if (newPosition) newPosition->QuadPart = static_cast<unsigned long long>(pos);
    return S_OK;
}
