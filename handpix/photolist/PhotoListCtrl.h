// CPhotoListCtrl: the thumbnail list window. A grid of 100 x 135 tiles with a
// 120 x 155 pitch and a 25-pixel margin, scrolling both ways, a selection,
// and four messages to the parent. A worker thread fills it (InitPhotoList,
// PhotoListBuild.cpp; the worker, PhotoListWorker.cpp); everything else runs
// on the window's thread.
//
// Coordinates: client coordinates are the window's; list coordinates are
// those of the unscrolled grid, the client point plus (m_nHPos, m_nVPos).
// Item rectangles are in list coordinates.
//
// Threads: m_lock (recursive) guards the item list, the selection, the layout
// fields and m_pCurItem. The worker holds it while it appends or empties;
// painting holds it while it walks the items. It is never held while this
// window waits on another thread (UpdateWindow, SendMessage to the parent).
// The rule for hosts: GetSelectedList() hands out the list itself, and the
// worker empties it and deletes the items it points at whenever a build
// starts. Walk it, and use its items, only while holding LockItems(), and do
// not wait for the worker meanwhile.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "handpix/photolist/PhotoItem.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/List.h"
#include "handpix/platform/core/Thread.h"
#include "handpix/platform/windows/Input.h"
#include "handpix/platform/windows/Wnd.h"

// The kind of files a list shows. Fixed to int, so a host that passes another
// value gets the documented refusal rather than undefined behaviour.
enum _IMG_FORMAT : int { IMG_JPEG = 0, IMG_MPEG = 1 };

// Messages to the parent window.
constexpr UINT WM_PHOTOLIST_CLICK = 0x0BD1;   // posted; wParam: the item pressed, or 0
constexpr UINT WM_PHOTOLIST_RCLICK = 0x0BD2;  // posted; wParam: the item newly selected, or 0; lParam: screen point
constexpr UINT WM_PHOTOLIST_DRAG = 0x0BD3;    // posted
constexpr UINT WM_PHOTOLIST_DELETE = 0x084F;  // sent

// Process-wide, shared by every list: -1 when idle. The paint counter is
// raised by a paint's item pass and while a worker empties a list; the build
// counter while a worker builds. Defined with the worker.
extern std::atomic<int> g_nPaintCounter;
extern std::atomic<int> g_nBuildCounter;

// The worker: pParam is the CPhotoListCtrl. Returns 0.
UINT PhotoListThreadProc(LPVOID pParam);

namespace handpix {
// Addition: the previous thumbnail list file as the build reads it, keyed by
// thumbnail name followed by the size digits; the value is the thumbnail name
// and the information text (UTF-8). A line whose name is not a plain file name
// or whose size is not a decimal number is dropped, so its thumbnail is remade.
// Addition: a still picture's line ends in a turn field, "?o" and the source's
// EXIF orientation (1 for none), then "n" when the thumbnail was left unturned
// because turning was off; readers that split at '?' see it as a fourth piece.
// turn holds it ("o6n"), empty for lines written before it existed.
struct ThumbListEntry {
    std::string thumb;
    std::string info;
    std::string turn;
};
using ThumbListTable = std::map<std::string, ThumbListEntry>;
ThumbListTable ParseThumbList(std::string_view bytes);
// A name the cache folder may hold: not empty, ".", "..", no '/', '\\' or NUL.
bool IsPlainCacheName(std::string_view name);
// Fix: a name a list line may give, one the build could have made for a
// thumbnail: a plain name holding ".jpg" in any case. So a planted line never
// names the list files, their temporaries or anything outside the folder.
bool IsThumbnailName(std::string_view name);
// Addition: the information text is cut to this many bytes when a list line
// is read (on a character boundary); the builder's own texts are far shorter.
inline constexpr std::size_t kMaxListInfoBytes = 256;

// Addition: how far a build has come, reported from the worker after every file
// and once more with finished set when the build ends.
struct PhotoListProgress {
    int done = 0;    // files listed so far
    int total = 0;   // files of the list's kind in the folder
    int made = 0;    // thumbnails made (still pictures)
    int reused = 0;  // thumbnails taken from the cache
    bool finished = false;
};
}  // namespace handpix

class CPhotoListCtrl : public CWnd {
public:
    // Grid geometry.
    static constexpr int kPitchX = 120;
    static constexpr int kPitchY = 155;
    static constexpr int kMargin = 25;
    static constexpr int kLine = 120;  // one scroll line, both bars
    static constexpr int kDragSlop = 5;

    explicit CPhotoListCtrl(_IMG_FORMAT type = IMG_JPEG);
    // Raises the stop request, destroys the window (releasing a worker that
    // waits on it), joins the workers, then frees the brush and the items.
    ~CPhotoListCtrl() override;

    // False for null. Gives the item the next cell and appends it; the scroll
    // bars follow. Nothing is invalidated.
    bool AddTail(CPhotoItem* pItem);
    // False for null or an item not in the list. Deletes it and drops it from
    // the selection (and from m_pCurItem); no relayout, no repaint.
    bool DeleteItem(CPhotoItem* pItem);
    // Deletes every item, empties the selection, and repaints the empty grid.
    void DeleteAllItems();
    long GetItemCount();
    // The selection itself: hold LockItems() while using it (see the top of this file).
    CObList* GetSelectedList() { return &m_listSelected; }
    // Addition: holds the item lock for the host, keeping builds from emptying the list meanwhile.
    std::unique_lock<std::recursive_mutex> LockItems() { return std::unique_lock<std::recursive_mutex>(m_lock); }
    // pt in list coordinates: the first item whose cell holds it, else null.
    CPhotoItem* GetClickItem(CPoint pt);
    int SelectAll();
    void RemoveCheckItem();
    void Redraw(BOOL bIfColumnsChanged);
    void SetPath(CString path);
    // Sets the kind of the next build.
    void SetImgType(_IMG_FORMAT type);
    void SetThreadStop(int nStop);
    int GetThreadStop();
    void InitPhotoList();
    // Deletes the selected items and then their files (for good, no recycle bin).
    void DeleteProc();
    // The folder of the running executable with a trailing '/', into buf (260 bytes).
    char* GetRunDirectory(char* buf);
    // Delete and Ctrl+A as documented; addition: Page Up, Page Down, Home and
    // End scroll the list vertically by a page or to either end.
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Addition: the folder that holds FolderList.ini and the numbered cache
    // folders, for hosts that cannot write beside their executable. Empty (the
    // default) means GetRunDirectory() + "Cache".
    void SetCacheRoot(CString root);
    CString GetCacheRoot();
    // Addition: called on the worker thread as the build goes (see PhotoListProgress).
    void SetBuildProgress(std::function<void(const handpix::PhotoListProgress&)> progress);

    // ---- fields ----
    CObList m_listItems{10};     // all items, in display order; owned
    CObList m_listSelected{10};  // selected items, in selection order; not owned
    int m_nItems = 0;
    int m_nColumns = 3;
    int m_nPrevColumns = 0;
    int m_cyVirtual = 0;
    int m_cxVirtual = 0;
    int m_nHPos = 0;
    int m_nHPage = 0;
    int m_nVPos = 0;
    int m_nVPage = 0;
    CBrush* m_pBkBrush = nullptr;
    CPicture m_picResize;  // the working picture thumbnails are made with
    CPhotoItem* m_pCurItem = nullptr;
    CString m_strPath;
    HCURSOR m_hHandCursor = nullptr;
    HCURSOR m_hArrowCursor = nullptr;
    _IMG_FORMAT m_imgType;
    std::atomic<int> m_nThreadStop{0};
    // Raised by the destructor. Unlike m_nThreadStop no build clears it, so a
    // build that starts as the list goes ends at once, window or none.
    std::atomic<bool> m_bClosing{false};
    CPoint m_ptDown;
    bool m_bPtDownSet = false;  // m_ptDown is taken from the first press until then

    // Guards the items, the selection, the layout fields and m_pCurItem.
    std::recursive_mutex m_lock;
    // Workers started by SetPath; deleting one joins it. Those that have
    // returned are listed in m_finishedWorkers and reaped by the next SetPath.
    std::mutex m_workersMutex;
    std::vector<std::unique_ptr<CWinThread>> m_workers;
    std::vector<const CWinThread*> m_finishedWorkers;
    // Additions, guarded by m_workersMutex: the cache root and the progress
    // callback; the window SetPath saw, so a build notices the window is gone.
    CString m_strCacheRoot;
    std::function<void(const handpix::PhotoListProgress&)> m_buildProgress;
    HWND m_hBuildWnd = nullptr;

protected:
    const handpix::MessageMap* GetMessageMap() const override;

    void InitVirtualSpace();
    void InitScrollSize();
    // Cell of the 1-based index i.
    CRect GetItemRect(int i);
    void ItemSelected(CPhotoItem* pItem);
    void UpdateItem();

    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnSize(UINT nType, int cx, int cy);
    void OnPaint();
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);

private:
    // Addition: every item's cell as the list last gave it, in list order, so
    // that a paint or a hit test scans one flat array instead of visiting
    // 100,000 items. Items join and leave it only through AddTail, DeleteItem
    // and DeleteAllItems; a relayout refreshes it. Guarded by m_lock.
    struct Cell {
        CRect rect;
        CPhotoItem* item;
    };
    std::vector<Cell> m_cells;

    // One scroll request on one bar (SB_HORZ or SB_VERT).
    void Scroll(int nBar, UINT nSBCode, UINT nPos);
    void DropFromSelection(CPhotoItem* pItem);
    void SelectOnly(CPhotoItem* pItem);
    void JoinWorkers();
};
