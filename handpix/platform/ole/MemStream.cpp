#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "handpix/platform/ole/Ole.h"

namespace {
class MemStream final : public ComObject<IStream, IID_IStream> {
public:
    explicit MemStream(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (!pv) return E_POINTER;
        std::size_t n = m_pos >= m_bytes.size() ? 0 : std::min<std::size_t>(cb, m_bytes.size() - m_pos);
        if (n) std::memcpy(pv, m_bytes.data() + m_pos, n);
        m_pos += n;
        if (pcbRead) *pcbRead = static_cast<ULONG>(n);
        return n == cb ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv) return E_POINTER;
        try {
            if (m_pos + cb > m_bytes.size()) m_bytes.resize(m_pos + cb);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(m_bytes.data() + m_pos, pv, cb);
        m_pos += cb;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        long long base = origin == STREAM_SEEK_CUR ? static_cast<long long>(m_pos)
                         : origin == STREAM_SEEK_END ? static_cast<long long>(m_bytes.size())
                                                     : 0;
        if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
        long long pos = base + move.QuadPart;
        if (pos < 0 || pos > (1LL << 40)) return STG_E_SEEKERROR;
        m_pos = static_cast<std::size_t>(pos);
        if (newPosition) newPosition->QuadPart = static_cast<unsigned long long>(pos);
        return S_OK;
    }

private:
    std::vector<BYTE> m_bytes;
    std::size_t m_pos = 0;
};
}  // namespace

IStream* SHCreateMemStream(const BYTE* data, UINT size) {
    try {
        std::vector<BYTE> bytes;
        if (data && size) bytes.assign(data, data + size);
        return new MemStream(std::move(bytes));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
