// CPicture: loads, measures, fits and draws pictures; carries the state of the
// handset formats (IMG, SNI, EBA) and of thumbnail resizing; names file
// formats by content. Its operations are spread over Picture*.cpp by concern.
#pragma once
#include <cstddef>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/core/Types.h"
#include "handpix/platform/draw/DC.h"
#include "handpix/platform/ole/Archive.h"
#include "handpix/platform/ole/File.h"
#include "handpix/platform/ole/OlePicture.h"

struct _IplImage;
typedef struct _IplImage IplImage;
class CImageEdit;

// The 150-byte header of SNI and EBA files (multi-byte fields little-endian in
// the file; the record holds the bytes as read).
struct tagANIMATION_INFO_T {
    char abSignature[3];       // "SNI" or "ANI"
    BYTE abReserved3;
    std::int16_t nWidth;
    std::int16_t nHeight;
    BYTE abReserved8[2];
    BYTE byBitCount;           // 1, 2, 8, 16 or 24
    signed char byPalette;     // non-zero: the file ends in a 256-entry palette
    WORD wTransColor;          // 8-bit: index (256 = none); 16-bit: RGB 5-6-5
    BYTE abReserved14[2];
    BYTE byTransparent;        // 16-bit pictures: transparency on
    BYTE abReserved17[31];
    BYTE byFrameCount;         // at most 50
    BYTE abReserved49[101];    // kept for the host
};
static_assert(sizeof(tagANIMATION_INFO_T) == 150);
static_assert(offsetof(tagANIMATION_INFO_T, wTransColor) == 12);
static_assert(offsetof(tagANIMATION_INFO_T, byFrameCount) == 48);

namespace handpix {
// Zero-filled memory for a picture's two handset buffers, in pages the system
// zeroes on first touch, so a picture that never uses them never pays for
// them. Blocks come from large mappings that are shared out and given back
// whole, so making and deleting many pictures costs few system calls.
class ZeroPages {
public:
    static constexpr std::size_t kBytes = 2 * 178 * 160 * 3;
    ZeroPages();
    ~ZeroPages();
    ZeroPages(const ZeroPages&) = delete;
    ZeroPages& operator=(const ZeroPages&) = delete;
    BYTE* Bytes() const { return m_bytes; }

private:
    BYTE* m_bytes;
    bool m_pooled;
};
}  // namespace handpix

class CPicture {
public:
    // The handset screen: 178 x 160 pixels.
    static constexpr int kHandsetPixels = 178 * 160;

private:
    // Both handset buffers: most pictures (every thumbnail) never touch them.
    handpix::ZeroPages m_handsetBuffers;
    static_assert(handpix::ZeroPages::kBytes == 2 * sizeof(BYTE[kHandsetPixels][3]));

public:

    CPicture();
    ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // ---- loading and drawing (Picture.cpp) ----
    // Non-zero on success (1 for the stream form), 0 on failure; every form
    // releases the previous picture first, and a failed load holds none.
    int Load(UINT nID);
    int Load(LPCTSTR path);
    int Load(CFile& file);
    int Load(CArchive& ar);
    int Load(IStream* pstm);
    void Free();
    operator IPicture*() { return m_pPicture; }
    void GetHIMETRICSize(long& cx, long& cy) const;
    CSize GetImageSize() { return CSize(m_nWidth, m_nHeight); }
    CSize GetImageSize(CDC* pDC) const;
    // The file's length in bytes when it loads, else 0.
    int SetPicture(const CString& path);
    void CalcPictureSize();
    int Render(CDC* pDC, CRect rc, LPCRECT prcMFBounds);
    void Draw(CDC* pDC, CRect rc);
    void DrawIcon(CDC* pDC, CRect rc);

    // ---- format detection by content (PictureDetect.cpp) ----
    // Both read the first 20 bytes of pHeader.
    static CString GetExtension(BYTE* pHeader);
    // Addition: a name ending in ".jpeg" keeps it, as one ending in a dot and three characters does.
    static void ApplyExtension(CString& name, BYTE* pHeader, int nKind);

    // ---- IMG handset pictures (PictureImg.cpp) ----
    bool GetIMG(CString path);
    int DisplayIMG(const CString& path, CDC* pDC, CRect rc);

    // ---- EBA animations (PictureEba.cpp) ----
    bool GetEBAHeader(CString path);
    bool GetEBAData(CString path, int frame);
    bool DisplayEBA(const CString& path, CDC* dc, CRect rect, int frame);

    // ---- SNI containers (PictureSni.cpp) ----
    tagANIMATION_INFO_T* GetAnimationInfo();
    bool IsSNIFile();
    bool GetSNIHeader(CString path);
    bool GetSNIData(CString path, int frame);

    // ---- resizing (PictureResize.cpp) ----
    // Additions: names ending in ".jpeg" or ".jpe" are JPEG sources too; a JPEG
    // source with an EXIF orientation of 2 to 8 gives an upright copy (see
    // handpix::SetAutoOrient), and the size the aspect-keeping form records
    // is then the upright one.
    void ResizingImage(CString& path);
    void ResizingImage(CString& source, CString& target);
    void ResizingImage(CString& target, int width, int height, BYTE* pixels);
    void CalculateThumbSize(int* size);

    // Data, in the documented order. Public so that the host and the format
    // code of the other files reach them as members.
    IPicture* m_pPicture;
    mutable HRESULT m_hr;                   // last get_Width/get_Height result
    tagANIMATION_INFO_T m_AnimInfo;
    // The two handset buffers are arrays held by reference, zero until written.
    BYTE (&m_FrameRGB)[kHandsetPixels][3];  // red, green, blue; rows at the picture's own width
    BYTE m_ColorKey[3];                     // red, green, blue
    CBitmap m_bmpCanvas;                    // bitmap 12000, 192 x 160
    BOOL m_bTransparent;
    BYTE m_ImgHeader[48];
    BYTE (&m_ImgRGB)[kHandsetPixels][3];    // red, green, blue; top row first
    IplImage* m_pSrcImage;
    IplImage* m_pDstImage;
    CImageEdit* m_pImageFile;
    int m_nWidth;                           // screen pixels, from CalcPictureSize (or resizing)
    int m_nHeight;

protected:
    CRect CalcPictureRect(CRect rc);
    bool OpenResizingFile(CString& path);
    bool SaveResizingFile(CString& path);
    void BeginIP(long width, long height);
    void EndIP();

private:
    void RenderFitted(CDC& mem, CRect rc);  // shared by Draw and DrawIcon
    // The stream forms of Load; a known size (> 0) lets the loader read the
    // bytes at once instead of in chunks.
    int LoadArchive(CArchive& ar, LONG size);
    int LoadStream(IStream* pstm, LONG size);
};

namespace handpix {
// Releases the image headers and file wrapper a resize left in the picture
// (addition: shared by the resize forms and the destructor).
void ReleaseResizeState(CPicture& picture);
}  // namespace handpix
