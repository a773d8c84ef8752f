// The cells of the thumbnail list: CPhotoItem holds a source file, its
// thumbnail picture and two caption lines, and paints itself as a 100 x 135
// tile composed off screen. CPictureItem makes its own thumbnail from a still
// picture; CMotionPictureItem points at one the host makes and can paint an
// icon tile.
#pragma once
#include <sys/stat.h>

#include <string>

#include "handpix/picture/Picture.h"
#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/List.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/draw/DC.h"

namespace handpix {
inline constexpr int kTileWidth = 100;
inline constexpr int kTileHeight = 135;
inline constexpr COLORREF kTileSelected = RGB(178, 180, 191);
inline constexpr COLORREF kTileNormal = RGB(255, 255, 255);

// Addition: the size text of a file of n bytes ("0 KB", "1 KB", "1,465 KB"):
// kilobytes rounded up, digits grouped by three.
CString SizeText(int bytes);
// Index of the last '/' or '\\' of a path, or -1.
int LastSeparator(const CString& path);
// Addition: ASCII letters of a file name in lower case.
std::string LowerName(std::string name);
// Addition: true for an entry of the folder dirFd that is a regular file or a
// link to one, with its status in st. Anything else (a folder, FIFO, socket,
// device or dangling link named like a picture) is never listed.
bool IsListableFile(int dirFd, const char* name, struct stat& st);
// Addition: the name of a source file's thumbnail in the cache folder (for a
// motion picture, without its ".jpg"): the name in lower case, unless another
// file of the folder differs from it only in case (caseTwin) or the lower-case
// name cannot serve (it cannot be written as a list line, or holds ".bmp",
// which the resizer would take for a BMP target). Such a file gets a name of
// its own, whose capitals keep it apart from every lower-case name.
std::string CacheName(const std::string& name, bool caseTwin, bool motion);
}  // namespace handpix

class CPhotoItem : public CObject {
public:
    CPhotoItem();
    ~CPhotoItem() override;

    void ToggleSelected() { m_bSelect = !m_bSelect; }
    void SetSelect(bool b) { m_bSelect = b; }
    bool GetSelect() { return m_bSelect; }
    void SetCheck(bool b) { m_bCheck = b; }
    bool GetCheck() { return m_bCheck; }
    void SetDrawn(bool b) { m_bDrawn = b; }
    bool GetDrawn() { return m_bDrawn; }
    CRect GetRect() { return m_rect; }
    // Changed: names the thumbnail file and reads nothing. The file is read
    // and decoded when the tile is drawn, through a small cache shared by all
    // items (DecodedThumbnails.h), so a list of any length holds no pixels
    // but those near the view. m_picture is emptied, its size set to 0 x 0.
    void SetPictureFile(CString& path);
    // Addition: the file SetPictureFile named (empty when none).
    const CString& GetPictureFile() const { return m_strPictureFile; }

    virtual void SetRect(CRect rc);
    virtual void Draw(CDC* pDC);
    // A blank tile: a new bitmap copied unpainted (white here).
    virtual void PseudoDraw(CDC* pDC);
    virtual void DrawIcon(CDC* pDC, CPicture* pIcon);
    // Storage for hosts that subclass items; the list never calls them.
    virtual void LButtonDown(CPoint point);
    virtual void LButtonUp(CPoint point);
    virtual void MouseMove(CPoint point);
    virtual void DrawPreView(CDC* pDC, CPicture* pPicture, const CRect& rc, const CString& path);

    CString m_strPath;   // source file
    CString m_strName;   // m_strPath after its last '/' or '\\'; the first caption line
    CString m_strThumb;  // thumbnail file in the cache folder
    bool m_bCheck;
    bool m_bSelect;
    CString m_strInfo;   // second caption line
    // Changed: holds the thumbnail only while the tile is drawn, and keeps its
    // size from then on. With no file named (SetPictureFile never called) it
    // is drawn as the host left it.
    CPicture m_picture;
    POSITION m_posSelected;
    CRect m_rect;        // cell in list coordinates
    bool m_bDrawn;

protected:
    virtual void DrawPicture(CDC* pDC);
    virtual void DrawText(CDC* pDC);
    virtual void SetPicture(CString& path);
    // Composes the tile: background, then the icon picture over the icon
    // background (pIcon) or the item's own picture, then the captions; copies
    // it to the cell in one block.
    void ComposeTile(CDC* pDC, CPicture* pIcon, bool useIcon);

private:
    CString m_strPictureFile;  // addition: what SetPictureFile named
};

class CPictureItem : public CPhotoItem {
public:
    CPictureItem();
    explicit CPictureItem(CString path);

    // m_strInfo = "W×H(size text)" with the picture's pixel size.
    void SetImageInfo(CPicture* pPicture, int nFileSize);
    // Writes the thumbnail into strCacheDir with pPicture (the list's working
    // picture), sets the information text and loads the new thumbnail.
    void MakeThumbNail(CPicture* pPicture, CString& strCacheDir);
    // Loads and renders the source file itself into rc.
    void DrawPreView(CDC* pDC, CPicture* pPicture, const CRect& rc, const CString& path) override;
};

class CMotionPictureItem : public CPhotoItem {
public:
    CMotionPictureItem();
    explicit CMotionPictureItem(CString path);

    // Only names the thumbnail, strCacheDir/<name>.jpg; the host makes the file.
    void MakeThumbNail(CString& strCacheDir);
    // The tile with pIcon drawn over the library's icon background instead of the thumbnail.
    void DrawIcon(CDC* pDC, CPicture* pIcon) override;

protected:
    void SetMediaInfo(int nFileSize);
};
