#include "handpix/platform/windows/Desktop.h"

#include <atomic>
#include <chrono>

#include "handpix/platform/windows/DesktopState.h"

namespace handpix {

CRect WindowRecord::ClientRect() const {
    int frame = (style & WS_BORDER) ? 2 : 0;
    int w = rect.Width() - frame - ((style & WS_VSCROLL) ? kScrollBarSize : 0);
    int h = rect.Height() - frame - ((style & WS_HSCROLL) ? kScrollBarSize : 0);
    return CRect(0, 0, w > 0 ? w : 0, h > 0 ? h : 0);
}

CPoint WindowRecord::ClientOrigin() const {
    int border = (style & WS_BORDER) ? 1 : 0;
    return CPoint(rect.left + border, rect.top + border);
}

Desktop& Desktop::Get() {
    static Desktop desktop;
    return desktop;
}

WindowRecord* Desktop::Find(HWND h) {
    if (!h) return nullptr;
    auto it = windows.find(h);
    return it == windows.end() ? nullptr : it->second.get();
}

CPoint Desktop::ScreenOrigin(const WindowRecord& r) {
    CPoint o = r.ClientOrigin();
    // Parent chains are short and acyclic: a parent exists before its children.
    for (WindowRecord* p = Find(r.parent); p; p = Find(p->parent)) o = o + p->ClientOrigin();
    return o;
}

void Desktop::AddUpdate(WindowRecord& r, CRect rc, bool erase) {
    if (!rc.IntersectRect(rc, r.ClientRect())) return;
    AddDisjoint(r.update, rc);
    r.erase = r.erase || erase;
}

void Desktop::SubtractUpdate(WindowRecord& r, const CRect& rc) {
    std::vector<CRect> next;
    for (const CRect& u : r.update) SubtractRect(u, rc, next);
    r.update.swap(next);
    if (r.update.empty()) r.erase = false;
}

void Desktop::NoteDrawn(WindowRecord& r, const CRect& rc) {
    CRect c;
    if (c.IntersectRect(rc, r.ClientRect())) AddDisjoint(r.drawn, c);
}

namespace {
std::atomic<WakeHook> g_wakeHook{nullptr};  // process-wide: the one backend of the process
}

void SetWakeHook(WakeHook hook) { g_wakeHook.store(hook); }

void Desktop::Wake() {
    cv.notify_all();
    if (WakeHook hook = g_wakeHook.load()) hook();
}

std::vector<CRect> TakeDrawnRects(HWND hwnd) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    std::vector<CRect> out;
    if (WindowRecord* r = d.Find(hwnd)) out.swap(r->drawn);
    return out;
}

std::vector<HWND> GetChildWindows(HWND parent) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    std::vector<HWND> out;
    for (auto& [h, r] : d.windows)  // handles grow with creation, so the map is in creation order
        if (r->parent == parent && r->wnd) out.push_back(h);
    return out;
}

bool Desktop::HasWork(std::thread::id t) {
    auto q = queues.find(t);
    if (q != queues.end() && (!q->second.sent.empty() || !q->second.posted.empty())) return true;
    for (auto& [h, r] : windows)
        if (r->owner == t && !r->update.empty()) return true;
    return false;
}

namespace {

bool IsMouseMessage(UINT m) { return m >= WM_MOUSEMOVE && m <= WM_RBUTTONUP; }

// Answers one message sent from another thread; the lock is released while the handler runs.
void AnswerSent(Desktop& d, std::unique_lock<std::mutex>& lock, std::shared_ptr<SentMessage> s) {
    WindowRecord* r = d.Find(s->msg.hwnd);
    CWnd* w = r ? r->wnd : nullptr;
    lock.unlock();
    LRESULT result = w ? DispatchToWindow(w, s->msg) : 0;
    lock.lock();
    s->result = result;
    s->done = true;
    d.Wake();
}

// A posted message: the cursor question for mouse input, then
// PreTranslateMessage from the target up to its top-level window, then the target.
void Deliver(MSG m) {
    NoteDelivered(m);
    if (IsMouseMessage(m.message))
        ::SendMessage(m.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(m.hwnd), MAKELPARAM(HTCLIENT, m.message));
    for (HWND h = m.hwnd; h;) {
        CWnd* w = CWnd::FromHandle(h);
        if (!w) break;
        if (w->PreTranslateMessage(&m)) return;
        CWnd* parent = w->GetParent();
        h = parent ? parent->GetSafeHwnd() : nullptr;
    }
    if (CWnd* target = CWnd::FromHandle(m.hwnd)) DispatchToWindow(target, m);
}

}  // namespace

bool PumpMessage() {
    Desktop& d = Desktop::Get();
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(d.mu);
    ThreadQueue& q = d.queues[self];
    if (!q.sent.empty()) {
        auto s = q.sent.front();
        q.sent.pop_front();
        AnswerSent(d, lock, std::move(s));
        return true;
    }
    if (!q.posted.empty()) {
        MSG m = q.posted.front();
        q.posted.pop_front();
        lock.unlock();
        Deliver(m);
        return true;
    }
    // WM_PAINT comes last, when nothing else waits, and never from the queue.
    for (auto& [h, r] : d.windows)
        if (r->owner == self && r->wnd && !r->update.empty()) {
            CWnd* w = r->wnd;
            std::shared_ptr<WindowRecord> keep = r;
            std::vector<CRect> before = r->update;
            MSG m{h, WM_PAINT, 0, 0, 0, {0, 0}};
            lock.unlock();
            DispatchToWindow(w, m);
            // A handler that neither paints nor validates would be asked
            // forever; its region is dropped instead.
            lock.lock();
            if (keep->update == before) {
                keep->update.clear();
                keep->erase = false;
            }
            return true;
        }
    return false;
}

int PumpMessages() {
    int n = 0;
    while (PumpMessage()) ++n;
    return n;
}

bool WaitForMessage(int milliseconds) {
    Desktop& d = Desktop::Get();
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(d.mu);
    return d.cv.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return d.HasWork(self); });
}

}  // namespace handpix

using handpix::Desktop;
using handpix::WindowRecord;

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Desktop& d = Desktop::Get();
    {
        std::lock_guard<std::mutex> lock(d.mu);
        WindowRecord* r = d.Find(hwnd);
        if (!r || !r->wnd) return FALSE;
        d.queues[r->owner].posted.push_back(MSG{hwnd, message, wParam, lParam, 0, {d.cursorPos.x, d.cursorPos.y}});
    }
    d.Wake();
    return TRUE;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Desktop& d = Desktop::Get();
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(d.mu);
    WindowRecord* r = d.Find(hwnd);
    if (!r || !r->wnd) return 0;
    MSG m{hwnd, message, wParam, lParam, 0, {d.cursorPos.x, d.cursorPos.y}};
    if (r->owner == self) {
        CWnd* w = r->wnd;
        lock.unlock();
        return DispatchToWindow(w, m);
    }
    // Another thread's window: its thread runs the handler; meanwhile answer
    // what is sent to us, so two threads sending to each other never deadlock.
    auto s = std::make_shared<handpix::SentMessage>();
    s->msg = m;
    d.queues[r->owner].sent.push_back(s);
    d.Wake();
    while (!s->done) {
        handpix::ThreadQueue& mine = d.queues[self];
        if (!mine.sent.empty()) {
            auto other = mine.sent.front();
            mine.sent.pop_front();
            handpix::AnswerSent(d, lock, std::move(other));
            continue;
        }
        d.cv.wait(lock);
    }
    return s->result;
}

BOOL IsWindow(HWND hwnd) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    WindowRecord* r = d.Find(hwnd);
    return r && r->wnd ? TRUE : FALSE;
}
