// CJpeg: a self-contained baseline sequential JPEG decoder and encoder.
// Every member is public, as hosts of the original class expect. The
// decoder leaves a bottom-up, 4-byte-aligned B-G-R picture in m_pRGB.
// Fixes: LoadJPG opens its file read-only, so read-only pictures load; a scan
// that does not carry every component of the frame fails (0) instead of
// decoding as a grey picture; a frame above the process-wide picture-size
// limit, or larger than its file's data could describe, fails before any
// allocation. SaveJPG replaces its file only once the whole file is written.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/platform/core/Status.h"

enum EnumYUVType {
    YUV_TYPE_NONE = 0,
    YUV_TYPE_444 = 1,
    YUV_TYPE_422 = 2,
    YUV_TYPE_420 = 3,
};

struct HuffTable {
    std::uint32_t bUsed;
    std::uint32_t nCount;
    std::uint16_t* pCode;   // HUFFCODE, nCount entries
    std::uint8_t* pSize;    // HUFFSIZE, nCount + 1 entries (terminating 0)
    std::uint8_t* pValue;   // HUFFVAL, nCount entries
    std::uint16_t wMaxCode[17];
    std::uint16_t wMinCode[17];
    std::int32_t nValPtr[17];
    std::int32_t* pValueIndex;  // encoder: 251 entries, symbol -> index or -9999
    // Addition: decoding shortcut for codes of up to kFastBits bits, indexed
    // by the next kFastBits bits: (length << 8) | symbol, 0 for a longer
    // code, 0xFFFF for a code that selects no symbol.
    static constexpr int kFastBits = 10;
    std::uint16_t wLookup[1 << kFastBits];
    // Addition, AC tables only: when the next kFastBits bits hold a whole
    // code and its extra bits, (value << 8) | (run << 4) | bits used;
    // otherwise 0.
    std::int16_t sFastAc[1 << kFastBits];
};

class CJpeg {
public:
    CJpeg();
    CJpeg(const CJpeg& other);
    CJpeg& operator=(const CJpeg& other);
    virtual ~CJpeg();

    // Decoder.
    int LoadJPG(char* path);
    void FindSOI(void);
    void FindETC(void);
    void FindDHT(void);
    void FindDQT(void);
    void FindSOF(void);
    void FindSOS(void);
    unsigned char NextByte(void);
    unsigned short NextBit(void);
    unsigned char hDecode(int slot);
    unsigned short Receive(unsigned char n);
    short Extend(unsigned short v, unsigned char t);
    void DecodeDC(int slot);
    void DecodeAC(int slot);
    void DecodeDU(int comp);
    void Zigzag(void);
    void IDCT(void);
    void DecodeMCU(int mcuX, int mcuY);
    void Decode(void);
    void ConvertYUV2RGB(void);
    int GetWidth(void);
    int GetHeight(void);
    EnumYUVType GetYUVType(void);

    // Encoder. Returns 1 when the file was written, 0 otherwise.
    int SaveJPG(char* path, int width, int height, unsigned char* pixels);
    void PutSOI(int hFile);
    void PutEOI(int hFile);
    void PutDQT(int hFile);
    void PutDHT(int hFile);
    void PutSOF(int hFile, int width, int height);
    void PutSOS(int hFile);
    void DCT(short* block, int stride, int chroma);
    void Zigzag2(void);
    unsigned char GetCategory(short v);
    void hEncode(int width, int height);
    void EncodeDU(short* block, int chroma, int stride);
    void ChargeCode(unsigned short code, int length);
    void ShotBit(unsigned char bit);

    // Addition: decodes a JPEG file held in memory, exactly as LoadJPG does
    // with a file's contents (LoadJPG reads the file and calls this).
    int LoadJPGFromMemory(const unsigned char* data, std::size_t size);

    std::uint16_t m_wRestartInterval;
    std::int32_t m_nWidth;
    std::int32_t m_nHeight;
    std::uint8_t* m_pScan;
    std::uint32_t m_nBitCount;
    std::int16_t* m_pYPlane;
    std::int16_t* m_pCbPlane;
    std::int16_t* m_pCrPlane;
    std::uint8_t* m_pMCU;
    std::uint8_t m_byMaxH;
    std::uint8_t m_byMaxV;
    std::uint8_t* m_pRGB;
    std::uint8_t* m_pBuf;
    std::uint32_t m_nPos;
    std::uint8_t m_QT[20][64];
    HuffTable m_HT[20];
    std::int16_t m_Block[64];
    std::uint16_t m_wFrameHeight;
    std::uint16_t m_wFrameWidth;
    std::uint8_t m_byFrameComps;
    std::uint8_t m_byCompID[3];
    std::uint8_t m_byH[3];
    std::uint8_t m_byV[3];
    std::uint8_t m_byTq[3];
    std::uint8_t m_byScanComps;
    std::uint8_t m_byScanID[3];
    std::uint8_t m_byTd[3];
    std::uint8_t m_byTa[3];
    std::uint8_t m_bySs;
    std::uint8_t m_bySe;
    std::uint8_t m_byAh;
    std::uint8_t m_byAl;
    std::int16_t m_sDCPred[3];

    // Additions. The bit reader's and bit writer's state lives in the object,
    // so separate objects may run on separate threads.
    handpix::Status m_eStatus;     // first failure of the current load or save
    std::size_t m_nRGBSize;        // bytes owned by m_pRGB
    std::size_t m_nBufSize;        // bytes owned by m_pBuf (decoder: the file)
    std::size_t m_nScanPos;        // reader: next byte to fetch (may run past the end);
                                   // it runs up to 16 bytes ahead of the bits consumed
    std::uint64_t m_qwBits;        // reader/writer: bits not yet consumed / emitted
    std::uint32_t m_nBits;         // number of valid bits in m_qwBits
    std::int32_t m_nPadWidth;      // padded frame size, not limited to 16 bits
    std::int32_t m_nPadHeight;
    bool m_bScanDone;              // a scan was decoded by this load
    // The decoder works one MCU row at a time: DecodeMCU fills the current
    // row's samples, one plane per scan component at its own resolution, and
    // ConvertYUV2RGB turns that row into its rows of the new picture, which
    // replaces m_pRGB only when the whole scan has decoded.
    std::uint8_t* m_pSamples;
    std::size_t m_nSamplesSize;
    std::size_t m_nPlaneOffset[3];  // per scan component: plane start in m_pSamples
    std::int32_t m_nPlaneStride[3]; // and its row length in samples
    std::int32_t m_nMcuRow;         // the MCU row held in m_pSamples
    std::uint8_t* m_pPending;       // the picture being decoded
    alignas(32) std::int16_t m_sCoef[64];  // decoder: one data unit's coefficients, zero between units

private:
    void Release();
    void CopyFrom(const CJpeg& other);
    void FreeHuffSlot(int slot);
    void Fail(handpix::Status s);
    bool Failed() const { return m_eStatus != handpix::Status::ok; }
    bool MarkerIs(std::uint8_t marker) const;
    bool SegmentLength(std::uint32_t& length);
    int WalkMarkers(bool ownsFile);
    bool CheckScan();
    void BuildHuffTable(int slot, const std::uint8_t* bits, const std::uint8_t* values, int count);
    void FillBits();
    int DecodeSymbol(const HuffTable& t);
    unsigned ReceiveBits(unsigned n);
    template <typename Cursor, typename Put>
    bool DecodeAcInto(Cursor& bits, const HuffTable& ac, Put put);
    bool DecodeBlock(int comp, std::uint8_t* dst, std::ptrdiff_t stride);
    void DecodeScan();
    void FreeSamples();
    struct SymbolCodes;
    struct BitSink;
    bool BuildValueIndex();
    bool MakeSymbolCodes(SymbolCodes& codes);
    bool EncodeBlock(const std::int16_t* c, std::uint64_t nonzero, const SymbolCodes& codes, int t,
                     BitSink& sink);
    bool SinkRoom(BitSink& sink);
    void EncodeStripes(int width, int height, const std::uint8_t* pixels);
    bool GrowOutput(std::size_t extra);
    void PutBits(std::uint32_t code, int length);
    void WriteOut(int hFile, const void* data, std::size_t size);
};
