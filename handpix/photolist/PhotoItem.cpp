#include "handpix/photolist/PhotoItem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "handpix/photolist/DecodedThumbnails.h"
#include "handpix/platform/core/FileFind.h"

namespace {
const CRect kTile(0, 0, handpix::kTileWidth, handpix::kTileHeight);
const CRect kPictureArea(1, 1, 99, 99);
const CRect kNameLine(0, 105, 100, 135);
const CRect kInfoLine(0, 120, 100, 135);
constexpr UINT kCaptionFormat = DT_CENTER | DT_END_ELLIPSIS;

}  // namespace

int handpix::LastSeparator(const CString& path) { return std::max(path.ReverseFind('/'), path.ReverseFind('\\')); }

std::string handpix::LowerName(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

bool handpix::IsListableFile(int dirFd, const char* name, struct stat& st) {
    return ::fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

std::string handpix::CacheName(const std::string& name, bool caseTwin, bool motion) {
    std::string lower = LowerName(name);
    const bool unwritable = lower.find_first_of("?\\\r\n") != std::string::npos;
    if (!(caseTwin && lower != name) && !unwritable && lower.find(".bmp") == std::string::npos) return lower;
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ULL;
    char buf[40];
    std::snprintf(buf, sizeof buf, "X%016llX%s", static_cast<unsigned long long>(h), motion ? ".MPEG" : ".JPG");
    return buf;
}

namespace {
// True when another file the build lists has the same name in lower case:
// the build then names this file's thumbnail apart.
bool HasCaseTwin(const std::string& folder, const std::string& name) {
    const std::string lower = handpix::LowerName(name);
    if (lower == name) return false;
    auto twin = [&](std::string_view other) { return other != name && handpix::LowerName(std::string(other)) == lower; };
    for (const handpix::FolderEntry& e : handpix::ListFolder(folder, twin))
        if (e.file) return true;
    return false;
}
}  // namespace

CString handpix::SizeText(int bytes) {
    long long k = bytes < 1024 ? (bytes != 0 ? 1 : 0) : bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
    std::string digits = std::to_string(k), grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return CString(grouped + " KB");
}

// ---- CPhotoItem ----

CPhotoItem::CPhotoItem()
    : m_bCheck(false), m_bSelect(false), m_posSelected(nullptr), m_rect(0, 0, 0, 0), m_bDrawn(false) {}

CPhotoItem::~CPhotoItem() = default;

void CPhotoItem::SetPictureFile(CString& path) {
    m_strPictureFile = path;
    m_picture.Free();
    m_picture.m_nWidth = m_picture.m_nHeight = 0;
}

void CPhotoItem::SetRect(CRect rc) { m_rect = rc; }

void CPhotoItem::SetPicture(CString& path) {
    m_strPath = path;
    int sep = handpix::LastSeparator(path);
    m_strName = sep >= 0 ? path.Mid(sep + 1) : path;
}

void CPhotoItem::ComposeTile(CDC* pDC, CPicture* pIcon, bool useIcon) {
    CDC mem;
    CBitmap bmp;
    mem.CreateCompatibleDC(pDC);
    bmp.CreateCompatibleBitmap(pDC, handpix::kTileWidth, handpix::kTileHeight);
    CBitmap* old = mem.SelectObject(&bmp);
    CBrush brush(m_bSelect ? handpix::kTileSelected : handpix::kTileNormal);
    mem.FillRect(&kTile, &brush);
    brush.DeleteObject();
    if (!useIcon) DrawPicture(&mem);
    else if (pIcon) pIcon->DrawIcon(&mem, kPictureArea);
    DrawText(&mem);
    pDC->BitBlt(m_rect.left, m_rect.top, handpix::kTileWidth, handpix::kTileHeight, &mem, 0, 0, SRCCOPY);
    mem.SelectObject(old);
    bmp.DeleteObject();
    mem.DeleteDC();
}

void CPhotoItem::Draw(CDC* pDC) { ComposeTile(pDC, nullptr, false); }

void CPhotoItem::PseudoDraw(CDC* pDC) {
    CDC mem;
    CBitmap bmp;
    mem.CreateCompatibleDC(pDC);
    bmp.CreateCompatibleBitmap(pDC, handpix::kTileWidth, handpix::kTileHeight);
    CBitmap* old = mem.SelectObject(&bmp);
    pDC->BitBlt(m_rect.left, m_rect.top, handpix::kTileWidth, handpix::kTileHeight, &mem, 0, 0, SRCCOPY);
    mem.SelectObject(old);
    bmp.DeleteObject();
    mem.DeleteDC();
}

void CPhotoItem::DrawIcon(CDC*, CPicture*) {}
void CPhotoItem::LButtonDown(CPoint) {}
void CPhotoItem::LButtonUp(CPoint) {}
void CPhotoItem::MouseMove(CPoint) {}
void CPhotoItem::DrawPreView(CDC*, CPicture*, const CRect&, const CString&) {}

void CPhotoItem::DrawPicture(CDC* pDC) {
    if (m_strPictureFile.IsEmpty()) {
        m_picture.Draw(pDC, kPictureArea);
        return;
    }
    handpix::LoadDecodedThumbnail(m_strPictureFile, m_picture);
    m_picture.Draw(pDC, kPictureArea);
    m_picture.Free();  // the pixels live on in the shared cache, within its budget
}

void CPhotoItem::DrawText(CDC* pDC) {
    CFont font;
    font.CreateFont(12, 0, 0, 0, FW_LIGHT, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0x10, "굴림");
    CFont* oldFont = pDC->SelectObject(&font);
    COLORREF oldBk = pDC->SetBkColor(m_bSelect ? handpix::kTileSelected : handpix::kTileNormal);
    CRect name = kNameLine, info = kInfoLine;
    pDC->DrawText(m_strName, &name, kCaptionFormat);
    pDC->DrawText(m_strInfo, &info, kCaptionFormat);
    pDC->SetBkColor(oldBk);
    if (oldFont) pDC->SelectObject(oldFont);
    font.DeleteObject();
}

// ---- CPictureItem ----

CPictureItem::CPictureItem() = default;

CPictureItem::CPictureItem(CString path) { SetPicture(path); }

void CPictureItem::SetImageInfo(CPicture* pPicture, int nFileSize) {
    CSize size = pPicture->GetImageSize();
    m_strInfo.Format("%d×%d(%s)", static_cast<int>(size.cx), static_cast<int>(size.cy),
                     handpix::SizeText(nFileSize).c_str());
}

void CPictureItem::DrawPreView(CDC* pDC, CPicture* pPicture, const CRect& rc, const CString& path) {
    pPicture->Load(path.c_str());
    pPicture->Render(pDC, rc, nullptr);
}

// ---- CMotionPictureItem ----

CMotionPictureItem::CMotionPictureItem() = default;

CMotionPictureItem::CMotionPictureItem(CString path) { SetPicture(path); }

void CMotionPictureItem::SetMediaInfo(int nFileSize) { m_strInfo = handpix::SizeText(nFileSize); }

// Named as the build names it, so the build finds what the host makes here.
void CMotionPictureItem::MakeThumbNail(CString& strCacheDir) {
    const int sep = handpix::LastSeparator(m_strPath);
    if (sep < 0) return;
    const std::string name = m_strName.str();
    const bool twin = HasCaseTwin(m_strPath.Left(sep).str(), name);
    m_strThumb = strCacheDir + "/" + CString(handpix::CacheName(name, twin, true)) + ".jpg";
}

void CMotionPictureItem::DrawIcon(CDC* pDC, CPicture* pIcon) { ComposeTile(pDC, pIcon, true); }
