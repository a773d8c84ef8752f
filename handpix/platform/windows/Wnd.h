// CWnd: a window of the headless desktop. Every window has a backing surface
// of its client area that a CDC can attach to; messages reach WindowProc,
// which calls the handlers of the message map in order (DefWindowProc when no
// entry matches). Operations that other threads may call (PostMessage,
// SendMessage, InvalidateRect, the geometry and scroll-bar queries and
// setters) are safe from any thread; handlers always run on the thread that
// created the window.
#pragma once
#include <atomic>
#include <memory>
#include <vector>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/List.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/draw/DC.h"
#include "handpix/platform/windows/MessageMap.h"
#include "handpix/platform/windows/WinDefs.h"

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
};

class CScrollBar;

namespace handpix {
struct WindowRecord;
}

class CWnd : public CObject {
public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Written on the window's thread only (creation, destruction), and read
    // there. Other threads use the member functions (GetSafeHwnd included),
    // which read an atomic copy, so a worker posting to a window that is
    // being destroyed sees the handle or null, never a torn value.
    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hLive.load(); }
    // The object of a live window, else null.
    static CWnd* FromHandle(HWND h);

    // rect is in the parent's client coordinates (screen coordinates without a
    // parent). Sends WM_CREATE, then WM_SIZE, and leaves the client area to be
    // painted. FALSE when WM_CREATE answers -1 (the window is then destroyed).
    virtual BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, void* pContext = nullptr);
    virtual BOOL CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle,
                          const RECT& rect, CWnd* pParentWnd, UINT nID, void* lpParam = nullptr);
    // Sends WM_DESTROY, destroys the children, drops the window's queued
    // messages and releases threads waiting on a SendMessage to it.
    virtual BOOL DestroyWindow();

    CWnd* GetParent() const;
    UINT GetDlgCtrlID() const;
    DWORD GetStyle() const;
    void SetWindowText(LPCTSTR text);
    CString GetWindowText() const;
    void GetWindowText(CString& text) const { text = GetWindowText(); }

    // The window less a 1-pixel WS_BORDER frame and 17-pixel scroll bars where
    // the style has them; the scroll bars are always shown.
    void GetClientRect(LPRECT rc) const;
    void GetWindowRect(LPRECT rc) const;  // screen coordinates
    void ClientToScreen(LPPOINT p) const;
    void ClientToScreen(LPRECT rc) const;
    void ScreenToClient(LPPOINT p) const;
    void ScreenToClient(LPRECT rc) const;
    // Moves and sizes the window (parent client coordinates); sends WM_SIZE
    // when the client size changes.
    void MoveWindow(int x, int y, int width, int height, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT rc, BOOL bRepaint = TRUE) {
        MoveWindow(rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top, bRepaint);
    }

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Runs the handler now on the window's thread; from another thread the call
    // waits until the window's thread has handled it (0 when it is destroyed first).
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    void Invalidate(BOOL bErase = TRUE);
    void InvalidateRect(LPCRECT rc, BOOL bErase = TRUE);  // null: the whole client area
    void ValidateRect(LPCRECT rc);                         // null: the whole client area
    // Bounding box of the update region in client coordinates; FALSE when empty.
    BOOL GetUpdateRect(LPRECT rc, BOOL bErase = FALSE);
    // Sends WM_PAINT at once when the update region is not empty.
    void UpdateWindow();
    CDC* BeginPaint(PAINTSTRUCT* ps);
    void EndPaint(PAINTSTRUCT* ps);
    // Moves the client pixels by (dx, dy) and invalidates the uncovered strip.
    // lpRect limits what scrolls, lpClip where pixels may land (null: client area).
    void ScrollWindow(int dx, int dy, LPCRECT lpRect = nullptr, LPCRECT lpClip = nullptr);

    // Positions are kept within [nMin, nMax - max(nPage - 1, 0)], as Windows does.
    int SetScrollInfo(int nBar, LPSCROLLINFO info, BOOL bRedraw = TRUE);
    BOOL GetScrollInfo(int nBar, LPSCROLLINFO info, UINT nMask = SIF_ALL) const;
    int SetScrollPos(int nBar, int nPos, BOOL bRedraw = TRUE);
    int GetScrollPos(int nBar) const;

    CWnd* SetFocus();
    static CWnd* GetFocus();

    // Called by the message pump for every posted message to this window or a
    // descendant before it is dispatched; TRUE swallows the message.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // DefWindowProc of the message being handled (MFC's Default()).
    LRESULT Default();

    // Addition: the backing surface of the client area (pixels the host can read).
    std::shared_ptr<handpix::Surface> GetSurface() const;

    static const handpix::MessageMap* MessageMapOf();

protected:
    virtual const handpix::MessageMap* GetMessageMap() const { return MessageMapOf(); }
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // Default handlers: each hands the current message to DefWindowProc.
    int OnCreate(LPCREATESTRUCT) { return static_cast<int>(Default()); }
    void OnDestroy() { Default(); }
    void OnSize(UINT, int, int) { Default(); }
    void OnPaint() { Default(); }
    BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
    BOOL OnSetCursor(CWnd*, UINT, UINT) { return static_cast<BOOL>(Default()); }
    void OnHScroll(UINT, UINT, CScrollBar*) { Default(); }
    void OnVScroll(UINT, UINT, CScrollBar*) { Default(); }
    void OnLButtonDown(UINT, CPoint) { Default(); }
    void OnLButtonUp(UINT, CPoint) { Default(); }
    void OnRButtonDown(UINT, CPoint) { Default(); }
    void OnRButtonUp(UINT, CPoint) { Default(); }
    void OnMouseMove(UINT, CPoint) { Default(); }
    BOOL OnMouseWheel(UINT, short, CPoint) { return static_cast<BOOL>(Default()); }
    void OnKeyDown(UINT, UINT, UINT) { Default(); }
    void OnKeyUp(UINT, UINT, UINT) { Default(); }

private:
    friend struct handpix::WindowRecord;
    friend LRESULT DispatchToWindow(CWnd* wnd, const MSG& msg);
    std::shared_ptr<handpix::WindowRecord> Record() const;

    std::atomic<HWND> m_hLive{nullptr};               // m_hWnd for other threads
    std::shared_ptr<handpix::WindowRecord> m_record;  // set at creation under the desktop lock, kept until the object dies
    MSG m_current{};                                   // the message being handled, for Default()
    CDC m_paintDC;                                      // BeginPaint's DC
    std::vector<CRect> m_paintRegion;                   // what BeginPaint validated
    friend class CPaintDC;
    friend class CClientDC;
};

// CPaintDC: BeginPaint in the constructor, EndPaint in the destructor. Draws
// into the window's surface, clipped to the update region.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

private:
    CWnd* m_pWnd;
};

// CClientDC: the whole client area, no clipping.
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
};

// Addition: hands a message to the window's WindowProc on the calling thread,
// remembering it for Default(). The pump and SendMessage use it.
LRESULT DispatchToWindow(CWnd* wnd, const MSG& msg);
