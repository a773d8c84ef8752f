#include "handpix/picture/Picture.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "handpix/platform/draw/ResourceTable.h"
#include "handpix/platform/ole/Resource.h"
#include "handpix/resources/Resources.h"

namespace {
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kIconSide = 99;  // bitmap 12002

// Truncation toward zero of a double, kept inside int (NaN gives 0).
int Trunc(double v) {
    if (!(v == v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

// pixels = dpi x HIMETRIC / 2540, truncated toward zero, as a 32-bit value.
int HimetricToPixels(long himetric, int dpi) {
    long long v = static_cast<long long>(dpi) * himetric / 2540;
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

int ScreenDpi(int index) {
    CDC screen;
    screen.CreateDC("DISPLAY", nullptr, nullptr, nullptr);
    return screen.GetDeviceCaps(index);
}
}  // namespace

namespace {
using HandsetBuffer = BYTE[CPicture::kHandsetPixels][3];
HandsetBuffer& HandsetBufferAt(BYTE* bytes) { return *reinterpret_cast<HandsetBuffer*>(bytes); }
}  // namespace

CPicture::CPicture()
    : m_pPicture(nullptr),
      m_hr(S_OK),
      m_AnimInfo{},
      m_FrameRGB(HandsetBufferAt(m_handsetBuffers.Bytes())),
      m_ColorKey{},
      m_bTransparent(0),
      m_ImgHeader{},
      m_ImgRGB(HandsetBufferAt(m_handsetBuffers.Bytes() + sizeof(HandsetBuffer))),
      m_pSrcImage(nullptr),
      m_pDstImage(nullptr),
      m_pImageFile(nullptr),
      m_nWidth(0),
      m_nHeight(0) {
    handpix::RegisterLibraryResources();
    AfxFindResourceHandle(MAKEINTRESOURCE(handpix::IDB_CANVAS), RT_BITMAP);
    m_bmpCanvas.LoadBitmap(handpix::IDB_CANVAS);  // shares the decoded resource until drawn into
}

CPicture::~CPicture() {
    handpix::ReleaseResizeState(*this);
    m_bmpCanvas.DeleteObject();
    Free();
}

int CPicture::Load(UINT nID) {
    Free();
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC res = FindResource(module, MAKEINTRESOURCE(nID), "IMAGE");
    if (!res) return 0;
    DWORD size = SizeofResource(module, res);
    HGLOBAL loaded = LoadResource(module, res);
    if (!loaded) return 0;
    void* bytes = LockResource(loaded);
    int result = 0;
    if (bytes) {
        CMemFile file(static_cast<BYTE*>(bytes), size);
        result = Load(file);
    }
    FreeResource(loaded);
    return result;
}

int CPicture::Load(LPCTSTR path) {
    Free();
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return 0;
    int result = Load(file);
    file.Close();
    return result;
}

int CPicture::Load(CFile& file) {
    CArchive ar(&file, CArchive::load | CArchive::bNoFlushOnDelete, 4096);
    return Load(ar);
}

int CPicture::Load(CArchive& ar) { return LoadArchive(ar, 0); }

int CPicture::LoadArchive(CArchive& ar, LONG size) {
    CArchiveStream stream(&ar);
    return LoadStream(&stream, size);
}

int CPicture::Load(IStream* pstm) { return LoadStream(pstm, 0); }

int CPicture::LoadStream(IStream* pstm, LONG size) {
    Free();
    HRESULT hr = OleLoadPicture(pstm, size, FALSE, IID_IPicture, reinterpret_cast<void**>(&m_pPicture));
    if (FAILED(hr)) {
        m_pPicture = nullptr;
        return 0;
    }
    return m_pPicture != nullptr;
}

void CPicture::Free() {
    if (m_pPicture) {
        IPicture* old = m_pPicture;
        m_pPicture = nullptr;
        old->Release();
    }
}

void CPicture::GetHIMETRICSize(long& cx, long& cy) const {
    cx = cy = 0;
    if (!m_pPicture) {
        m_hr = E_POINTER;
        return;
    }
    m_hr = m_pPicture->get_Width(&cx);
    HRESULT h = m_pPicture->get_Height(&cy);
    if (SUCCEEDED(m_hr)) m_hr = h;
}

CSize CPicture::GetImageSize(CDC* pDC) const {
    if (!m_pPicture) return CSize(0, 0);
    long cx, cy;
    GetHIMETRICSize(cx, cy);
    SIZE size{static_cast<LONG>(cx), static_cast<LONG>(cy)};
    if (pDC) {
        pDC->HIMETRICtoDP(&size);
    } else {
        CDC screen;
        screen.CreateDC("DISPLAY", nullptr, nullptr, nullptr);
        screen.HIMETRICtoDP(&size);
    }
    return CSize(size);
}

int CPicture::SetPicture(const CString& path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) {
        Free();
        return 0;
    }
    DWORD length = file.GetLength();
    int loaded;
    {
        // The whole file is the picture, so its length bounds the read; a file
        // too long for a picture goes the ordinary way, which refuses it.
        CArchive ar(&file, CArchive::load | CArchive::bNoFlushOnDelete, 4096);
        const bool bounded = length > 0 && length <= handpix::kMaxPictureStreamBytes;
        loaded = LoadArchive(ar, bounded ? static_cast<LONG>(length) : 0);
    }
    file.Close();
    if (!loaded) return 0;
    CalcPictureSize();
    return static_cast<int>(length);
}

void CPicture::CalcPictureSize() {
    if (!m_pPicture) return;  // keeps the size of the last picture
    long hmWidth = 0, hmHeight = 0;
    m_pPicture->get_Width(&hmWidth);
    m_pPicture->get_Height(&hmHeight);
    m_nWidth = HimetricToPixels(hmWidth, ScreenDpi(LOGPIXELSX));
    m_nHeight = HimetricToPixels(hmHeight, ScreenDpi(LOGPIXELSY));
}

// Only the longer side is compared with the rectangle, so a picture may
// overflow it along the shorter side; nothing is ever enlarged.
CRect CPicture::CalcPictureRect(CRect rc) {
    const int W = m_nWidth, H = m_nHeight;
    const int RW = rc.right - rc.left, RH = rc.bottom - rc.top;
    auto centred = [&] {
        int l = Trunc(RW * 0.5 - W * 0.5);
        int t = Trunc(RH * 0.5 - H * 0.5);
        return CRect(l, t, l + W, t + H);
    };
    if (W > H) {
        if (W <= RW) return centred();
        int h = Trunc(static_cast<double>(RW) * H / W);
        int t = Trunc(RH * 0.5 - h * 0.5);
        return CRect(0, t, RW, t + h);
    }
    if (H <= RH) return centred();
    int w = H == 0 ? 0 : Trunc(static_cast<double>(RH) * W / H);
    int l = Trunc(RW * 0.5 - w * 0.5);
    return CRect(l, 0, l + w, RH);
}

int CPicture::Render(CDC* pDC, CRect rc, LPCRECT prcMFBounds) {
    if (!pDC) return 1;
    CRect r;
    if (rc.IsRectNull()) {
        CSize size = GetImageSize(pDC);
        rc = CRect(0, 0, size.cx, size.cy);
        r = rc;
    } else if (m_pPicture) {
        CalcPictureSize();
        r = CalcPictureRect(rc);
    }
    long hmWidth, hmHeight;
    GetHIMETRICSize(hmWidth, hmHeight);

    // White bands around the picture: fill everything but the picture's area.
    CRect area = r;
    area.OffsetRect(rc.left, rc.top);
    if (m_pPicture) pDC->ExcludeClipRect(&area);
    CBrush white;
    white.CreateSolidBrush(kWhite);
    pDC->FillRect(&rc, &white);
    white.DeleteObject();
    pDC->SelectClipRgn(nullptr);

    if (m_pPicture)
        m_pPicture->Render(pDC->m_hDC, rc.left + r.left, rc.top + r.top, r.Width(), r.Height(), 0, hmHeight, hmWidth,
                           -hmHeight, prcMFBounds);
    return 1;
}

void CPicture::Draw(CDC* pDC, CRect rc) {
    const int RW = rc.Width(), RH = rc.Height();
    if (!pDC || RW <= 0 || RH <= 0) return;
    CDC mem;
    mem.CreateCompatibleDC(pDC);
    CBitmap bmp;
    if (!bmp.CreateCompatibleBitmap(pDC, RW, RH)) return;
    CBitmap* old = mem.SelectObject(&bmp);
    CRect all(0, 0, RW, RH);
    CBrush white(kWhite);
    mem.FillRect(&all, &white);
    RenderFitted(mem, rc);
    pDC->StretchBlt(rc.left, rc.top, RW, RH, &mem, 0, 0, RW, RH, SRCCOPY);
    mem.SelectObject(old);
    bmp.DeleteObject();
    mem.DeleteDC();
}

// The picture fitted into rc, drawn at the top-left of an off-screen DC.
void CPicture::RenderFitted(CDC& mem, CRect rc) {
    if (!m_pPicture) return;
    long hmWidth, hmHeight;
    GetHIMETRICSize(hmWidth, hmHeight);
    CRect r = CalcPictureRect(rc);
    m_pPicture->Render(mem.m_hDC, r.left, r.top, r.Width(), r.Height(), 0, hmHeight - 1, hmWidth, -hmHeight, nullptr);
}

void CPicture::DrawIcon(CDC* pDC, CRect rc) {
    const int RW = rc.Width(), RH = rc.Height();
    if (!pDC || RW <= 0 || RH <= 0) return;
    CDC mem;
    mem.CreateCompatibleDC(pDC);
    // The canvas is white; the 99 x 99 background covers its top-left corner,
    // which is all of it for the rectangles the list uses.
    CBitmap bmp;
    if (!bmp.CreateCompatibleBitmap(pDC, RW, RH)) return;
    CBitmap* old = mem.SelectObject(&bmp);
    CBitmap icon;
    AfxFindResourceHandle(MAKEINTRESOURCE(handpix::IDB_MOVIE_ICON), RT_BITMAP);
    if (icon.LoadBitmap(handpix::IDB_MOVIE_ICON)) {
        CDC iconDC;
        iconDC.CreateCompatibleDC(pDC);
        CBitmap* oldIcon = iconDC.SelectObject(&icon);
        mem.BitBlt(0, 0, kIconSide, kIconSide, &iconDC, 0, 0, SRCCOPY);
        iconDC.SelectObject(oldIcon);
        iconDC.DeleteDC();
    }
    RenderFitted(mem, rc);
    pDC->StretchBlt(rc.left, rc.top, RW, RH, &mem, 0, 0, RW, RH, SRCCOPY);
    mem.SelectObject(old);
    icon.DeleteObject();
    bmp.DeleteObject();
    mem.DeleteDC();
}
