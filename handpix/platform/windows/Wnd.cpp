#include "handpix/platform/windows/Wnd.h"

#include <algorithm>
#include <cstring>

#include "handpix/platform/windows/Desktop.h"
#include "handpix/platform/windows/DesktopState.h"

using handpix::Desktop;
using handpix::WindowRecord;

namespace {
constexpr std::uint32_t kWhitePixel = 0x00FFFFFF;

int ClampPos(const SCROLLINFO& si, int pos) {
    int page = static_cast<int>(si.nPage);
    int hi = si.nMax - std::max(page - 1, 0);
    if (pos > hi) pos = hi;
    if (pos < si.nMin) pos = si.nMin;
    return pos;
}

void ResizeSurface(WindowRecord& r) {
    CRect c = r.ClientRect();
    int w = std::max<int>(c.Width(), 1), h = std::max<int>(c.Height(), 1);
    if (r.surface && r.surface->Width() == w && r.surface->Height() == h) return;
    auto s = std::make_shared<handpix::Surface>();
    s->Reset(w, h, kWhitePixel);
    if (r.surface) {
        // Keep what was painted where it still fits, as a window keeps its pixels.
        int cw = std::min(w, r.surface->Width()), ch = std::min(h, r.surface->Height());
        for (int y = 0; y < ch; ++y) std::copy_n(r.surface->Row(y), cw, s->Row(y));
    }
    r.surface = std::move(s);
    r.drawn.assign(1, CRect(0, 0, w, h));
}
}  // namespace

CWnd* handpix::detail::WndFromHandle(HWND h) { return CWnd::FromHandle(h); }

CWnd::CWnd() = default;

CWnd::~CWnd() {
    // The derived part is gone: WM_DESTROY reaches CWnd's own handling only.
    if (m_hWnd) DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND h) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    WindowRecord* r = d.Find(h);
    return r ? r->wnd : nullptr;
}

std::shared_ptr<WindowRecord> CWnd::Record() const { return m_record; }

const handpix::MessageMap* CWnd::MessageMapOf() {
    static constexpr handpix::MessageMap map{nullptr, {}};
    return &map;
}

BOOL CWnd::Create(LPCTSTR cls, LPCTSTR name, DWORD style, const RECT& rect, CWnd* parent, UINT nID, void*) {
    return CreateEx(0, cls, name, style, rect, parent, nID, nullptr);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCTSTR cls, LPCTSTR name, DWORD style, const RECT& rect, CWnd* parent,
                    UINT nID, void* lpParam) {
    if (m_hWnd) return FALSE;
    if ((style & WS_CHILD) && (!parent || !parent->m_hWnd)) return FALSE;
    auto rec = std::make_shared<WindowRecord>();
    Desktop& d = Desktop::Get();
    {
        std::lock_guard<std::mutex> lock(d.mu);
        rec->hwnd = reinterpret_cast<HWND>(d.nextHandle++);
        rec->owner = std::this_thread::get_id();
        rec->wnd = this;
        rec->parent = parent ? parent->m_hWnd : nullptr;
        rec->id = nID;
        rec->style = style;
        rec->text = name;
        rec->rect = CRect(rect);
        rec->rect.NormalizeRect();
        for (SCROLLINFO& si : rec->bars) si.cbSize = sizeof(SCROLLINFO);
        ResizeSurface(*rec);
        d.windows[rec->hwnd] = rec;
        d.queues[rec->owner];
        m_record = rec;  // under the lock: the other threads' calls read it there
    }
    m_hWnd = rec->hwnd;
    m_hLive = rec->hwnd;

    CREATESTRUCT cs{lpParam, nullptr, nullptr, rec->parent, rect.bottom - rect.top, rect.right - rect.left,
                    rect.top, rect.left, static_cast<LONG>(style), name, cls, exStyle};
    if (SendMessage(WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow();
        return FALSE;
    }
    CRect client;
    GetClientRect(&client);
    SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.Width(), client.Height()));
    Invalidate(TRUE);
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    HWND self = m_hWnd;
    SendMessage(WM_DESTROY);
    // From here other threads find no window: their posts and sends fail.
    m_hLive = nullptr;
    // Children go after their parent has heard WM_DESTROY, as on Windows.
    std::vector<CWnd*> children;
    Desktop& d = Desktop::Get();
    {
        std::lock_guard<std::mutex> lock(d.mu);
        for (auto& [h, r] : d.windows)
            if (r->parent == self && r->wnd) children.push_back(r->wnd);
    }
    for (CWnd* c : children) c->DestroyWindow();
    {
        std::lock_guard<std::mutex> lock(d.mu);
        auto it = d.windows.find(self);
        if (it != d.windows.end()) {
            it->second->wnd = nullptr;
            it->second->update.clear();
            d.windows.erase(it);
        }
        if (d.focus == self) d.focus = nullptr;
        for (auto& [t, q] : d.queues) {
            std::erase_if(q.posted, [self](const MSG& m) { return m.hwnd == self; });
            for (auto& s : q.sent)
                if (s->msg.hwnd == self) s->done = true;
            std::erase_if(q.sent, [self](const auto& s) { return s->msg.hwnd == self; });
        }
    }
    d.Wake();
    m_hWnd = nullptr;
    return TRUE;
}

CWnd* CWnd::GetParent() const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record || !m_record->wnd) return nullptr;
    WindowRecord* p = d.Find(m_record->parent);
    return p ? p->wnd : nullptr;
}

UINT CWnd::GetDlgCtrlID() const { return m_record ? m_record->id : 0; }

DWORD CWnd::GetStyle() const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    return m_record ? m_record->style : 0;
}

void CWnd::SetWindowText(LPCTSTR text) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (m_record) m_record->text = text ? text : "";
}

CString CWnd::GetWindowText() const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    return m_record ? m_record->text : CString();
}

void CWnd::GetClientRect(LPRECT rc) const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    *rc = m_record ? m_record->ClientRect() : CRect();
}

void CWnd::GetWindowRect(LPRECT rc) const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) {
        *rc = CRect();
        return;
    }
    CRect w = m_record->rect;
    if (WindowRecord* p = d.Find(m_record->parent)) {
        CPoint o = d.ScreenOrigin(*p);
        w.OffsetRect(o.x, o.y);
    }
    *rc = w;
}

void CWnd::ClientToScreen(LPPOINT p) const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) return;
    CPoint o = d.ScreenOrigin(*m_record);
    p->x += o.x;
    p->y += o.y;
}

void CWnd::ClientToScreen(LPRECT rc) const {
    CPoint a(rc->left, rc->top), b(rc->right, rc->bottom);
    ClientToScreen(&a);
    ClientToScreen(&b);
    *rc = CRect(a.x, a.y, b.x, b.y);
}

void CWnd::ScreenToClient(LPPOINT p) const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) return;
    CPoint o = d.ScreenOrigin(*m_record);
    p->x -= o.x;
    p->y -= o.y;
}

void CWnd::ScreenToClient(LPRECT rc) const {
    CPoint a(rc->left, rc->top), b(rc->right, rc->bottom);
    ScreenToClient(&a);
    ScreenToClient(&b);
    *rc = CRect(a.x, a.y, b.x, b.y);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL bRepaint) {
    Desktop& d = Desktop::Get();
    bool resized = false;
    CRect client;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        if (!m_record || !m_record->wnd) return;
        CRect before = m_record->ClientRect();
        m_record->rect = CRect(x, y, x + std::max(width, 0), y + std::max(height, 0));
        client = m_record->ClientRect();
        resized = !(client == before);
        if (resized) ResizeSurface(*m_record);
        if (bRepaint) d.AddUpdate(*m_record, client, true);
    }
    d.Wake();
    if (resized) SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.Width(), client.Height()));
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(GetSafeHwnd(), message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessage(GetSafeHwnd(), message, wParam, lParam);
}

void CWnd::Invalidate(BOOL bErase) { InvalidateRect(nullptr, bErase); }

void CWnd::InvalidateRect(LPCRECT rc, BOOL bErase) {
    Desktop& d = Desktop::Get();
    {
        std::lock_guard<std::mutex> lock(d.mu);
        if (!m_record || !m_record->wnd) return;
        d.AddUpdate(*m_record, rc ? CRect(*rc) : m_record->ClientRect(), bErase != FALSE);
    }
    d.Wake();
}

void CWnd::ValidateRect(LPCRECT rc) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) return;
    if (!rc) {
        m_record->update.clear();
        m_record->erase = false;
        return;
    }
    d.SubtractUpdate(*m_record, CRect(*rc));
}

BOOL CWnd::GetUpdateRect(LPRECT rc, BOOL) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    CRect box;
    if (m_record)
        for (const CRect& r : m_record->update) box.UnionRect(box, r);
    if (rc) *rc = box;
    return !box.IsRectEmpty();
}

void CWnd::UpdateWindow() {
    if (GetUpdateRect(nullptr)) SendMessage(WM_PAINT);
}

CDC* CWnd::BeginPaint(PAINTSTRUCT* ps) {
    Desktop& d = Desktop::Get();
    std::vector<CRect> region;
    bool erase = false;
    std::shared_ptr<handpix::Surface> surface;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        if (m_record) {
            region.swap(m_record->update);
            erase = m_record->erase;
            m_record->erase = false;
            surface = m_record->surface;
        }
    }
    m_paintDC.AttachSurface(surface);
    CRgn rgn;
    CRect box;
    for (const CRect& r : region) {
        rgn.AddRect(r);
        box.UnionRect(box, r);
    }
    m_paintDC.SelectClipRgn(&rgn);
    m_paintRegion = std::move(region);
    ps->hdc = &m_paintDC;
    ps->rcPaint = box;
    // fErase tells the painter that the background still needs erasing.
    ps->fErase = FALSE;
    if (erase && !box.IsRectEmpty())
        ps->fErase = SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(&m_paintDC)) ? FALSE : TRUE;
    return &m_paintDC;
}

void CWnd::EndPaint(PAINTSTRUCT*) {
    {
        Desktop& d = Desktop::Get();
        std::lock_guard<std::mutex> lock(d.mu);
        if (m_record)
            for (const CRect& r : m_paintRegion) d.NoteDrawn(*m_record, r);
    }
    m_paintDC.DeleteDC();
    m_paintRegion.clear();
}

void CWnd::ScrollWindow(int dx, int dy, LPCRECT lpRect, LPCRECT lpClip) {
    Desktop& d = Desktop::Get();
    {
        std::lock_guard<std::mutex> lock(d.mu);
        if (!m_record || !m_record->wnd || !m_record->surface) return;
        WindowRecord& r = *m_record;
        CRect client = r.ClientRect();
        CRect from = lpRect ? CRect(*lpRect) : client;
        CRect clip = lpClip ? CRect(*lpClip) : client;
        from.IntersectRect(from, client);
        clip.IntersectRect(clip, client);
        // Pixels of `from` land on `to`; what of `clip` they do not cover is exposed.
        CRect to = from;
        to.OffsetRect(dx, dy);
        CRect landed;
        landed.IntersectRect(to, clip);
        handpix::Surface& s = *r.surface;
        d.NoteDrawn(r, landed);
        if (!landed.IsRectEmpty()) {
            std::size_t bytes = static_cast<std::size_t>(landed.Width()) * 4;
            for (int k = 0; k < landed.Height(); ++k) {
                int y = dy > 0 ? landed.bottom - 1 - k : landed.top + k;
                std::memmove(s.Row(y) + landed.left, s.Row(y - dy) + landed.left - dx, bytes);
            }
        }
        // The pending update region travels with the pixels.
        std::vector<CRect> moved;
        for (CRect u : r.update) {
            u.OffsetRect(dx, dy);
            if (u.IntersectRect(u, client)) moved.push_back(u);
        }
        r.update.clear();
        for (const CRect& u : moved) d.AddUpdate(r, u, false);
        std::vector<CRect> exposed;
        handpix::SubtractRect(clip.IntersectRect(clip, from) ? clip : CRect(), landed, exposed);
        for (const CRect& e : exposed) d.AddUpdate(r, e, true);
    }
    d.Wake();
}

int CWnd::SetScrollInfo(int nBar, LPSCROLLINFO info, BOOL) {
    if (nBar != SB_HORZ && nBar != SB_VERT) return 0;
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) return 0;
    SCROLLINFO& si = m_record->bars[nBar];
    if (info->fMask & SIF_RANGE) {
        si.nMin = info->nMin;
        si.nMax = std::max(info->nMin, info->nMax);
    }
    if (info->fMask & SIF_PAGE) si.nPage = std::min<UINT>(info->nPage, static_cast<UINT>(si.nMax - si.nMin + 1));
    if (info->fMask & SIF_POS) si.nPos = info->nPos;
    si.nPos = ClampPos(si, si.nPos);
    return si.nPos;
}

BOOL CWnd::GetScrollInfo(int nBar, LPSCROLLINFO info, UINT nMask) const {
    if (nBar != SB_HORZ && nBar != SB_VERT) return FALSE;
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) return FALSE;
    const SCROLLINFO& si = m_record->bars[nBar];
    if (nMask & SIF_RANGE) {
        info->nMin = si.nMin;
        info->nMax = si.nMax;
    }
    if (nMask & SIF_PAGE) info->nPage = si.nPage;
    if (nMask & SIF_POS) info->nPos = si.nPos;
    if (nMask & SIF_TRACKPOS) info->nTrackPos = si.nTrackPos;
    info->fMask = nMask;
    return TRUE;
}

int CWnd::SetScrollPos(int nBar, int nPos, BOOL) {
    if (nBar != SB_HORZ && nBar != SB_VERT) return 0;
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (!m_record) return 0;
    SCROLLINFO& si = m_record->bars[nBar];
    int old = si.nPos;
    si.nPos = ClampPos(si, nPos);
    return old;
}

int CWnd::GetScrollPos(int nBar) const {
    if (nBar != SB_HORZ && nBar != SB_VERT) return 0;
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    return m_record ? m_record->bars[nBar].nPos : 0;
}

CWnd* CWnd::SetFocus() {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    WindowRecord* old = d.Find(d.focus);
    if (m_record && m_record->wnd) d.focus = m_record->hwnd;
    return old ? old->wnd : nullptr;
}

CWnd* CWnd::GetFocus() {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    WindowRecord* r = d.Find(d.focus);
    return r ? r->wnd : nullptr;
}

std::shared_ptr<handpix::Surface> CWnd::GetSurface() const {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    return m_record ? m_record->surface : nullptr;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    for (const handpix::MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr)
        for (const handpix::MessageEntry& e : map->entries)
            if (e.message == message) {
                *pResult = e.thunk(this, wParam, lParam);
                return TRUE;
            }
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::Default() { return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam); }

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(&ps);
        EndPaint(&ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        // The class background is white.
        CDC* dc = reinterpret_cast<CDC*>(wParam);
        CRect box;
        if (dc && dc->GetClipBox(&box) != NULLREGION) dc->FillSolidRect(&box, RGB(255, 255, 255));
        return 1;
    }
    case WM_SETCURSOR: {
        // A child asks its parent first; then the class cursor, the arrow, in the client area.
        if (CWnd* parent = GetParent())
            if (parent->SendMessage(WM_SETCURSOR, wParam, lParam)) return TRUE;
        if (LOWORD(static_cast<std::uintptr_t>(lParam)) == HTCLIENT) {
            ::SetCursor(LoadCursor(nullptr, IDC_ARROW));
            return TRUE;
        }
        return FALSE;
    }
    case WM_MOUSEWHEEL:
        // Unhandled wheel turns go up to the parent.
        if (CWnd* parent = GetParent()) return parent->SendMessage(message, wParam, lParam);
        return 0;
    case WM_CLOSE:
        DestroyWindow();
        return 0;
    default: return 0;
    }
}

LRESULT DispatchToWindow(CWnd* wnd, const MSG& msg) {
    MSG saved = wnd->m_current;
    wnd->m_current = msg;
    LRESULT r = wnd->WindowProc(msg.message, msg.wParam, msg.lParam);
    wnd->m_current = saved;
    return r;
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_pWnd(pWnd) {
    CDC* dc = pWnd->BeginPaint(&m_ps);
    // Draw through this object, on the same surface and clipped to the same region.
    AttachSurface(dc->GetSurface());
    CRgn rgn;
    for (const CRect& r : pWnd->m_paintRegion) rgn.AddRect(r);
    SelectClipRgn(&rgn);
    m_ps.hdc = this;
}

CPaintDC::~CPaintDC() { m_pWnd->EndPaint(&m_ps); }

CClientDC::CClientDC(CWnd* pWnd) {
    AttachSurface(pWnd->GetSurface());
    // Drawing may land anywhere in the client area.
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    if (auto r = pWnd->Record()) d.NoteDrawn(*r, r->ClientRect());
}
