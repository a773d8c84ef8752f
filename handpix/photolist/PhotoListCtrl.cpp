#include "handpix/photolist/PhotoListCtrl.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "handpix/platform/core/File.h"
#include "handpix/platform/windows/Shell.h"
#include "handpix/resources/Resources.h"

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;

constexpr UINT kHandCursorId = 12001;

bool CtrlDown(SHORT state) { return (state & 0x8000) != 0; }

template <class F>
void ForEachItem(CObList& list, F&& f) {
    for (POSITION pos = list.GetHeadPosition(); pos;) f(static_cast<CPhotoItem*>(list.GetNext(pos)));
}
}  // namespace

CPhotoListCtrl::CPhotoListCtrl(_IMG_FORMAT type) : m_imgType(type) {
    m_pBkBrush = new CBrush(RGB(255, 255, 255));
    handpix::RegisterLibraryResources();
    m_hHandCursor = LoadCursor(AfxFindResourceHandle(MAKEINTRESOURCE(kHandCursorId), RT_GROUP_CURSOR),
                               MAKEINTRESOURCE(kHandCursorId));
    m_hArrowCursor = LoadCursor(nullptr, IDC_ARROW);
}

CPhotoListCtrl::~CPhotoListCtrl() {
    m_bClosing = true;
    m_nThreadStop = 1;
    // A worker waiting for this window to answer is released before we wait for it.
    DestroyWindow();
    JoinWorkers();
    delete m_pBkBrush;
    m_pBkBrush = nullptr;
    Lock lock(m_lock);
    ForEachItem(m_listItems, [](CPhotoItem* item) { delete item; });
    m_listItems.RemoveAll();
    m_listSelected.RemoveAll();
}

void CPhotoListCtrl::JoinWorkers() {
    std::vector<std::unique_ptr<CWinThread>> workers;
    {
        std::lock_guard<std::mutex> lock(m_workersMutex);
        workers.swap(m_workers);
    }
    workers.clear();  // each joins as it goes
}

const handpix::MessageMap* CPhotoListCtrl::GetMessageMap() const {
    namespace msg = handpix::msg;
    static constexpr handpix::MessageEntry entries[] = {
        msg::Create<&CPhotoListCtrl::OnCreate>(),
        msg::VScroll<&CPhotoListCtrl::OnVScroll>(),
        msg::Size<&CPhotoListCtrl::OnSize>(),
        msg::Paint<&CPhotoListCtrl::OnPaint>(),
        msg::SetCursor<&CPhotoListCtrl::OnSetCursor>(),
        msg::HScroll<&CPhotoListCtrl::OnHScroll>(),
        msg::LButtonDown<&CPhotoListCtrl::OnLButtonDown>(),
        msg::RButtonDown<&CPhotoListCtrl::OnRButtonDown>(),
        msg::MouseMove<&CPhotoListCtrl::OnMouseMove>(),
        msg::MouseWheel<&CPhotoListCtrl::OnMouseWheel>(),
    };
    static constexpr handpix::MessageMap map{&CWnd::MessageMapOf, entries};
    return &map;
}

// ---- layout ----

CRect CPhotoListCtrl::GetItemRect(int i) {
    int column = (i - 1) % m_nColumns, row = (i - 1) / m_nColumns;
    int left = column * kPitchX + kMargin, top = row * kPitchY + kMargin;
    return CRect(left, top, left + handpix::kTileWidth, top + handpix::kTileHeight);
}

void CPhotoListCtrl::InitVirtualSpace() {
    Lock lock(m_lock);
    CRect window;
    GetWindowRect(&window);
    int ww = window.Width(), wh = window.Height();
    m_cxVirtual = std::min(m_nItems, m_nColumns) * kPitchX + kMargin;
    int rows = static_cast<int>(static_cast<double>(m_nItems) / m_nColumns) + (m_nItems % m_nColumns ? 1 : 0);
    m_cyVirtual = rows * kPitchY + kMargin;
    // The window size (bars included) against the grid: the cap is one pixel
    // short of what the scroll handlers allow.
    if (wh < m_cyVirtual) {
        m_nVPage = wh;
        m_nVPos = std::min(m_nVPos, m_cyVirtual - wh - 1);
    } else {
        m_nVPage = 0;
        m_nVPos = 0;
    }
    if (ww < m_cxVirtual) {
        m_nHPage = ww;
        m_nHPos = std::min(m_nHPos, m_cxVirtual - ww - 1);
    } else {
        m_nHPage = 0;
        m_nHPos = 0;
    }
}

void CPhotoListCtrl::InitScrollSize() {
    Lock lock(m_lock);
    CRect client;
    GetClientRect(&client);
    InitVirtualSpace();
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    if (client.Width() < m_cxVirtual) {
        si.nMax = m_cxVirtual - 1;
        m_nHPage = client.Width();
    }
    si.nPage = static_cast<UINT>(m_nHPage);
    si.nPos = m_nHPos;
    SetScrollInfo(SB_HORZ, &si, TRUE);
    // The vertical page stays the window height that InitVirtualSpace chose.
    si.nMax = client.Height() < m_cyVirtual ? m_cyVirtual - 1 : 0;
    si.nPage = static_cast<UINT>(m_nVPage);
    si.nPos = m_nVPos;
    SetScrollInfo(SB_VERT, &si, TRUE);
}

void CPhotoListCtrl::UpdateItem() {
    if (g_nPaintCounter.load() != -1) return;
    {
        Lock lock(m_lock);
        int i = 0;
        m_cells.clear();
        ForEachItem(m_listItems, [&](CPhotoItem* item) {
            item->SetRect(GetItemRect(++i));
            m_cells.push_back(Cell{item->m_rect, item});
        });
    }
    Invalidate(FALSE);
}

void CPhotoListCtrl::Redraw(BOOL bIfColumnsChanged) {
    Lock lock(m_lock);
    if (bIfColumnsChanged && m_nPrevColumns == m_nColumns) {
        InitScrollSize();
        return;
    }
    m_nPrevColumns = m_nColumns;
    UpdateItem();
    InitScrollSize();
}

// ---- items ----

bool CPhotoListCtrl::AddTail(CPhotoItem* pItem) {
    if (!pItem) return false;
    Lock lock(m_lock);
    ++m_nItems;
    pItem->SetRect(GetItemRect(m_nItems));
    m_listItems.AddTail(pItem);
    m_cells.push_back(Cell{pItem->m_rect, pItem});
    InitScrollSize();
    return true;
}

void CPhotoListCtrl::DropFromSelection(CPhotoItem* pItem) {
    if (POSITION pos = m_listSelected.Find(pItem)) m_listSelected.RemoveAt(pos);
    if (m_pCurItem == pItem) m_pCurItem = nullptr;
}

bool CPhotoListCtrl::DeleteItem(CPhotoItem* pItem) {
    if (!pItem) return false;
    Lock lock(m_lock);
    POSITION pos = m_listItems.Find(pItem);
    if (!pos) return false;
    m_listItems.RemoveAt(pos);
    m_cells.erase(std::find_if(m_cells.begin(), m_cells.end(), [pItem](const Cell& c) { return c.item == pItem; }));
    DropFromSelection(pItem);
    delete pItem;
    --m_nItems;
    return true;
}

void CPhotoListCtrl::DeleteAllItems() {
    {
        Lock lock(m_lock);
        ForEachItem(m_listItems, [](CPhotoItem* item) { delete item; });
        m_listItems.RemoveAll();
        m_cells.clear();
        m_listSelected.RemoveAll();
        m_pCurItem = nullptr;
        m_nItems = 0;
        InitScrollSize();
    }
    Invalidate(TRUE);
}

long CPhotoListCtrl::GetItemCount() {
    Lock lock(m_lock);
    return m_listItems.GetCount();
}

CPhotoItem* CPhotoListCtrl::GetClickItem(CPoint pt) {
    Lock lock(m_lock);
    for (const Cell& cell : m_cells)
        if (cell.rect.PtInRect(pt)) return cell.item;
    return nullptr;
}

void CPhotoListCtrl::ItemSelected(CPhotoItem* pItem) {
    Lock lock(m_lock);
    ForEachItem(m_listItems, [pItem](CPhotoItem* item) {
        if (item->GetSelect()) item->SetCheck(true);
        item->SetSelect(item == pItem);
    });
}

void CPhotoListCtrl::SelectOnly(CPhotoItem* pItem) {
    ItemSelected(pItem);
    m_listSelected.RemoveAll();
    pItem->m_posSelected = m_listSelected.AddTail(pItem);
}

int CPhotoListCtrl::SelectAll() {
    int count = 0;
    {
        Lock lock(m_lock);
        m_listSelected.RemoveAll();
        ForEachItem(m_listItems, [this](CPhotoItem* item) {
            item->SetSelect(true);
            m_listSelected.AddTail(item);
        });
        count = m_listSelected.GetCount();
        Redraw(FALSE);
    }
    return count;
}

void CPhotoListCtrl::RemoveCheckItem() {
    Lock lock(m_lock);
    ForEachItem(m_listItems, [](CPhotoItem* item) { item->SetCheck(false); });
}

void CPhotoListCtrl::SetImgType(_IMG_FORMAT type) {
    Lock lock(m_lock);
    m_imgType = type;
}

void CPhotoListCtrl::DeleteProc() {
    std::string names;  // each name ended by a zero, one more zero after the last
    {
        Lock lock(m_lock);
        std::vector<CPhotoItem*> selected;
        ForEachItem(m_listSelected, [&](CPhotoItem* item) { selected.push_back(item); });
        for (CPhotoItem* item : selected) {
            names.append(item->m_strPath.c_str(), static_cast<std::size_t>(item->m_strPath.GetLength()));
            names += '\0';
            DeleteItem(item);
        }
    }
    if (!names.empty()) {
        names += '\0';
        CWnd* owner = AfxGetThread()->GetMainWnd();
        SHFILEOPSTRUCTA op{owner ? owner->GetSafeHwnd() : nullptr,
                           FO_DELETE,
                           names.c_str(),
                           nullptr,
                           static_cast<WORD>(FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR),
                           FALSE,
                           nullptr,
                           ""};
        SHFileOperationA(&op);
    }
    Lock lock(m_lock);
    m_listSelected.RemoveAll();
    Redraw(FALSE);
}

char* CPhotoListCtrl::GetRunDirectory(char* buf) {
    CString dir = handpix::GetModuleDirectory();
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(dir.GetLength()), _MAX_PATH - 1);
    std::memcpy(buf, dir.c_str(), n);
    buf[n] = '\0';
    return buf;
}

// ---- messages ----

int CPhotoListCtrl::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CWnd::OnCreate(lpCreateStruct) == -1) return -1;
    InitVirtualSpace();
    return 0;
}

void CPhotoListCtrl::OnSize(UINT nType, int cx, int cy) {
    CWnd::OnSize(nType, cx, cy);
    Lock lock(m_lock);
    CRect client;
    GetClientRect(&client);
    m_nColumns = client.Width() / kPitchX;
    if (m_nColumns < 2) m_nColumns = 1;
    Redraw(TRUE);
}

void CPhotoListCtrl::Scroll(int nBar, UINT nSBCode, UINT nPos) {
    Lock lock(m_lock);
    bool horz = nBar == SB_HORZ;
    int& pos = horz ? m_nHPos : m_nVPos;
    int page = horz ? m_nHPage : m_nVPage;
    int virtualSize = horz ? m_cxVirtual : m_cyVirtual;
    int d = 0;
    switch (nSBCode) {
    case SB_LINEUP: d = -kLine; break;
    case SB_LINEDOWN: d = kLine; break;
    case SB_PAGEUP: d = -page; break;
    case SB_PAGEDOWN: d = page; break;
    case SB_THUMBTRACK: d = static_cast<int>(nPos) - pos; break;
    default: return;  // SB_THUMBPOSITION included: the track already moved the view
    }
    if (pos + d < 0) d = -pos;
    else if (pos + d > virtualSize - page) d = virtualSize - page - pos;
    if (d == 0) return;
    pos += d;
    SetScrollPos(nBar, pos, TRUE);
    if (horz) ScrollWindow(-d, 0);
    else ScrollWindow(0, -d);
}

void CPhotoListCtrl::OnVScroll(UINT nSBCode, UINT nPos, CScrollBar*) { Scroll(SB_VERT, nSBCode, nPos); }

void CPhotoListCtrl::OnHScroll(UINT nSBCode, UINT nPos, CScrollBar*) { Scroll(SB_HORZ, nSBCode, nPos); }

BOOL CPhotoListCtrl::OnMouseWheel(UINT, short zDelta, CPoint) {
    // One line per wheel message, whatever its delta.
    SendMessage(WM_VSCROLL, zDelta >= 0 ? SB_LINEUP : SB_LINEDOWN, 0);
    return TRUE;
}

void CPhotoListCtrl::OnPaint() {
    CPaintDC dc(this);
    Lock lock(m_lock);
    dc.SetWindowOrg(m_nHPos, m_nVPos);
    CRect client, update = dc.m_ps.rcPaint;
    GetClientRect(&client);
    update.OffsetRect(m_nHPos, m_nVPos);

    CDC mem;
    CBitmap bmp;
    mem.CreateCompatibleDC(&dc);
    bmp.CreateCompatibleBitmap(&dc, client.Width(), client.Height());
    CBitmap* old = mem.SelectObject(&bmp);
    mem.FillRect(&client, m_pBkBrush);
    mem.SetWindowOrg(m_nHPos, m_nVPos);
    // While a list is being emptied (or another pass runs) only the background
    // is shown: the items may be going away.
    int expected = -1;
    if (g_nPaintCounter.compare_exchange_strong(expected, 0)) {
        for (const Cell& cell : m_cells) {
            CRect meet;
            if (meet.IntersectRect(cell.rect, update)) cell.item->Draw(&mem);
        }
        g_nPaintCounter.fetch_sub(1);
    }
    dc.BitBlt(update.left, update.top, update.Width(), update.Height(), &mem, update.left, update.top, SRCCOPY);
    mem.SelectObject(old);
    bmp.DeleteObject();
    mem.DeleteDC();
}

BOOL CPhotoListCtrl::OnSetCursor(CWnd*, UINT, UINT) {
    POINT pt;
    if (!GetCursorPos(&pt)) return static_cast<BOOL>(Default());
    ScreenToClient(&pt);
    CPoint list(pt);
    {
        Lock lock(m_lock);
        list.Offset(m_nHPos, m_nVPos);
    }
    HCURSOR wanted = GetClickItem(list) ? m_hHandCursor : m_hArrowCursor;
    if (GetCursor() != wanted) SetCursor(wanted);
    return TRUE;
}

void CPhotoListCtrl::OnLButtonDown(UINT nFlags, CPoint point) {
    CPhotoItem* clicked = nullptr;
    {
        Lock lock(m_lock);
        if (!m_bPtDownSet) {
            m_ptDown = point;
            m_bPtDownSet = true;
        }
        m_pCurItem = clicked = GetClickItem(CPoint(point.x + m_nHPos, point.y + m_nVPos));
        bool ctrl = CtrlDown(GetAsyncKeyState(VK_CONTROL));
        if (clicked) {
            bool wasSelected = clicked->GetSelect();
            if (wasSelected) m_ptDown = point;
            if (ctrl) {
                // Ctrl toggles the item; SelectAll leaves no stored position, so search.
                clicked->ToggleSelected();
                if (clicked->GetSelect()) clicked->m_posSelected = m_listSelected.AddTail(clicked);
                else if (POSITION pos = m_listSelected.Find(clicked)) m_listSelected.RemoveAt(pos);
            } else if (wasSelected) {
                return;  // a press on the selection may start a drag: nothing changes
            } else {
                SelectOnly(clicked);
            }
        } else if (!ctrl) {
            ItemSelected(nullptr);
            m_listSelected.RemoveAll();
        }
    }
    Invalidate(FALSE);
    UpdateWindow();
    if (CWnd* parent = GetParent()) parent->PostMessage(WM_PHOTOLIST_CLICK, reinterpret_cast<WPARAM>(clicked), 0);
    CWnd::OnLButtonDown(nFlags, point);
}

void CPhotoListCtrl::OnRButtonDown(UINT nFlags, CPoint point) {
    WPARAM wParam = 0;
    {
        Lock lock(m_lock);
        CPhotoItem* item = GetClickItem(CPoint(point.x + m_nHPos, point.y + m_nVPos));
        if (item && !item->GetSelect()) {
            m_pCurItem = item;
            SelectOnly(item);
            wParam = reinterpret_cast<WPARAM>(item);
        }
    }
    Invalidate(FALSE);
    UpdateWindow();
    CPoint screen = point;
    ClientToScreen(&screen);
    // Posted, so the point travels by value in lParam.
    if (CWnd* parent = GetParent()) parent->PostMessage(WM_PHOTOLIST_RCLICK, wParam, MAKELPARAM(screen.x, screen.y));
    CWnd::OnRButtonDown(nFlags, point);
}

void CPhotoListCtrl::OnMouseMove(UINT nFlags, CPoint point) {
    if (!(nFlags & MK_LBUTTON)) return;
    CPoint down;
    {
        Lock lock(m_lock);
        down = m_ptDown;
    }
    if (std::abs(point.x - down.x) > kDragSlop || std::abs(point.y - down.y) > kDragSlop)
        if (CWnd* parent = GetParent()) parent->PostMessage(WM_PHOTOLIST_DRAG, 0, 0);
    CWnd::OnMouseMove(nFlags, point);
}

BOOL CPhotoListCtrl::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN) {
        if (pMsg->wParam == VK_DELETE) {
            if (CWnd* parent = GetParent()) parent->SendMessage(WM_PHOTOLIST_DELETE, 0, 0);
        } else if (pMsg->wParam == 'A' && CtrlDown(GetKeyState(VK_CONTROL))) {
            SelectAll();
        }
        switch (pMsg->wParam) {
        case VK_PRIOR: Scroll(SB_VERT, SB_PAGEUP, 0); break;
        case VK_NEXT: Scroll(SB_VERT, SB_PAGEDOWN, 0); break;
        case VK_HOME: Scroll(SB_VERT, SB_THUMBTRACK, 0); break;
        case VK_END: Scroll(SB_VERT, SB_THUMBTRACK, static_cast<UINT>(INT_MAX)); break;  // clamped to the end
        default: break;
        }
    }
    return CWnd::PreTranslateMessage(pMsg);
}
