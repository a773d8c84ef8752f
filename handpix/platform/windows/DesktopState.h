// Private to the window system: the one desktop of the process. A single
// mutex guards the window records, the queues, focus and cursor; handlers
// are never called while it is held.
#pragma once
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "handpix/platform/core/RectList.h"
#include "handpix/platform/draw/Surface.h"
#include "handpix/platform/windows/Input.h"
#include "handpix/platform/windows/Wnd.h"

namespace handpix {

struct WindowRecord {
    HWND hwnd = nullptr;
    std::thread::id owner;
    CWnd* wnd = nullptr;  // null once destroyed
    HWND parent = nullptr;
    UINT id = 0;
    DWORD style = 0;
    CString text;
    CRect rect;                 // in the parent's client coordinates; screen for top-level windows
    SCROLLINFO bars[2]{};       // SB_HORZ, SB_VERT
    std::vector<CRect> update;  // disjoint client rectangles
    std::vector<CRect> drawn;   // client rectangles whose pixels changed since a backend last took them
    bool erase = false;
    std::shared_ptr<Surface> surface;  // the client area

    CRect ClientRect() const;  // client size at (0, 0)
    CPoint ClientOrigin() const;  // client (0, 0) in the parent's client (or screen) coordinates
};

// A SendMessage from another thread, waiting for the owner to answer.
struct SentMessage {
    MSG msg{};
    LRESULT result = 0;
    bool done = false;
};

struct ThreadQueue {
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::deque<MSG> posted;
};

class Desktop {
public:
    static Desktop& Get();

    std::mutex mu;
    std::condition_variable cv;  // a queue grew, a paint became due, or a sent message was answered
    std::map<HWND, std::shared_ptr<WindowRecord>> windows;
    std::map<std::thread::id, ThreadQueue> queues;
    std::uintptr_t nextHandle = 0x100;
    HWND focus = nullptr;
    CPoint cursorPos;
    HCURSOR cursor = nullptr;
    std::map<UINT, std::unique_ptr<Cursor>> cursors;  // loaded resource cursors, never freed

    // With mu held:
    WindowRecord* Find(HWND h);
    CPoint ScreenOrigin(const WindowRecord& r);  // client (0, 0) on the screen
    void AddUpdate(WindowRecord& r, CRect rc, bool erase);
    void SubtractUpdate(WindowRecord& r, const CRect& rc);
    bool HasWork(std::thread::id t);
    // Pixels of the client area changed (painted, scrolled, resized).
    void NoteDrawn(WindowRecord& r, const CRect& rc);
    // Wakes threads waiting on the desktop and calls the wake hook.
    void Wake();
};

// The pump hands each posted input message here as it delivers it, so that
// GetKeyState answers for the message being handled, as on Windows.
void NoteDelivered(const MSG& m);

}  // namespace handpix
