// Construction, copying and destruction of CJpeg: every owned buffer is
// copied so that each copy can be loaded, saved and destroyed on its own.
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/jpegcodec/JpegKernels.h"

namespace {

template <typename T>
T* CloneArray(const T* src, std::size_t n) {
    if (!src) return nullptr;
    T* p = new (std::nothrow) T[n ? n : 1];
    if (p && n) std::memcpy(p, src, n * sizeof(T));
    return p;
}

}  // namespace

void handpix::jpeg::AdviseLargePages(void* p, std::size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLarge = std::uintptr_t(1) << 21;
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kLarge - 1);
    if (p && end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

CJpeg::CJpeg() {
    // Everything starts cleared: unlike the fields the interface names, the
    // rest are never read before they are written, but zeros cost nothing.
    std::memset(static_cast<void*>(m_QT), 0, sizeof m_QT);
    std::memset(static_cast<void*>(m_HT), 0, sizeof m_HT);
    std::memset(m_Block, 0, sizeof m_Block);
    std::memset(m_sCoef, 0, sizeof m_sCoef);
    m_wRestartInterval = 0;
    m_nWidth = m_nHeight = 0;
    m_pScan = nullptr;
    m_nBitCount = 0;
    m_pYPlane = m_pCbPlane = m_pCrPlane = nullptr;
    m_pMCU = nullptr;
    m_byMaxH = m_byMaxV = 0;
    m_pRGB = nullptr;
    m_pBuf = nullptr;
    m_nPos = 0;
    m_wFrameHeight = m_wFrameWidth = 0;
    m_byFrameComps = 0;
    for (int i = 0; i < 3; ++i) {
        m_byCompID[i] = m_byH[i] = m_byV[i] = m_byTq[i] = 0;
        m_byScanID[i] = m_byTd[i] = m_byTa[i] = 0;
        m_sDCPred[i] = 0;
    }
    m_byScanComps = 0;
    m_bySs = m_bySe = m_byAh = m_byAl = 0;
    m_eStatus = handpix::Status::ok;
    m_nRGBSize = m_nBufSize = m_nScanPos = 0;
    m_qwBits = 0;
    m_nBits = 0;
    m_nPadWidth = m_nPadHeight = 0;
    m_bScanDone = false;
    m_pSamples = nullptr;
    m_nSamplesSize = 0;
    m_nMcuRow = 0;
    m_pPending = nullptr;
    for (int i = 0; i < 3; ++i) {
        m_nPlaneOffset[i] = 0;
        m_nPlaneStride[i] = 0;
    }
}

CJpeg::CJpeg(const CJpeg& other) : CJpeg() { CopyFrom(other); }

CJpeg& CJpeg::operator=(const CJpeg& other) {
    if (this != &other) {
        Release();
        CopyFrom(other);
    }
    return *this;
}

CJpeg::~CJpeg() { Release(); }

void CJpeg::FreeHuffSlot(int slot) {
    HuffTable& t = m_HT[slot];
    delete[] t.pCode;
    delete[] t.pSize;
    delete[] t.pValue;
    delete[] t.pValueIndex;
    t.pCode = nullptr;
    t.pSize = nullptr;
    t.pValue = nullptr;
    t.pValueIndex = nullptr;
    t.bUsed = 0;
    t.nCount = 0;
}

void CJpeg::Release() {
    for (int i = 0; i < 20; ++i) FreeHuffSlot(i);
    delete[] m_pRGB;
    delete[] m_pBuf;
    delete[] m_pMCU;
    delete[] m_pYPlane;
    delete[] m_pCbPlane;
    delete[] m_pCrPlane;
    delete[] m_pSamples;
    delete[] m_pPending;
    m_pSamples = nullptr;
    m_pPending = nullptr;
    m_nSamplesSize = 0;
    m_pRGB = m_pBuf = m_pMCU = m_pScan = nullptr;
    m_pYPlane = m_pCbPlane = m_pCrPlane = nullptr;
    m_nRGBSize = m_nBufSize = 0;
}

void CJpeg::CopyFrom(const CJpeg& o) {
    // The plain fields first, then a fresh copy of every buffer. The working
    // buffers of a load or save (MCU, planes) exist only inside those calls,
    // so a copy never needs them.
    std::memcpy(m_QT, o.m_QT, sizeof m_QT);
    std::memcpy(m_Block, o.m_Block, sizeof m_Block);
    m_wRestartInterval = o.m_wRestartInterval;
    m_nWidth = o.m_nWidth;
    m_nHeight = o.m_nHeight;
    m_nBitCount = o.m_nBitCount;
    m_byMaxH = o.m_byMaxH;
    m_byMaxV = o.m_byMaxV;
    m_nPos = o.m_nPos;
    m_wFrameHeight = o.m_wFrameHeight;
    m_wFrameWidth = o.m_wFrameWidth;
    m_byFrameComps = o.m_byFrameComps;
    m_byScanComps = o.m_byScanComps;
    for (int i = 0; i < 3; ++i) {
        m_byCompID[i] = o.m_byCompID[i];
        m_byH[i] = o.m_byH[i];
        m_byV[i] = o.m_byV[i];
        m_byTq[i] = o.m_byTq[i];
        m_byScanID[i] = o.m_byScanID[i];
        m_byTd[i] = o.m_byTd[i];
        m_byTa[i] = o.m_byTa[i];
        m_sDCPred[i] = o.m_sDCPred[i];
    }
    m_bySs = o.m_bySs;
    m_bySe = o.m_bySe;
    m_byAh = o.m_byAh;
    m_byAl = o.m_byAl;
    m_eStatus = o.m_eStatus;
    m_nScanPos = o.m_nScanPos;
    m_qwBits = o.m_qwBits;
    m_nBits = o.m_nBits;
    m_nPadWidth = o.m_nPadWidth;
    m_nPadHeight = o.m_nPadHeight;
    m_bScanDone = o.m_bScanDone;

    for (int i = 0; i < 20; ++i) {
        const HuffTable& s = o.m_HT[i];
        HuffTable& d = m_HT[i];
        std::memcpy(static_cast<void*>(&d), &s, sizeof d);
        d.pCode = CloneArray(s.pCode, s.nCount);
        d.pSize = CloneArray(s.pSize, s.nCount + 1);
        d.pValue = CloneArray(s.pValue, s.nCount);
        d.pValueIndex = CloneArray(s.pValueIndex, 251);
        if (s.bUsed && (!d.pCode || !d.pSize || !d.pValue)) FreeHuffSlot(i);
    }
    m_pRGB = CloneArray(o.m_pRGB, o.m_nRGBSize);
    m_nRGBSize = m_pRGB ? o.m_nRGBSize : 0;
    m_pBuf = CloneArray(o.m_pBuf, o.m_nBufSize);
    m_nBufSize = m_pBuf ? o.m_nBufSize : 0;
    m_pScan = (m_pBuf && o.m_pScan) ? m_pBuf + (o.m_pScan - o.m_pBuf) : nullptr;
}
