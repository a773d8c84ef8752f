// The real-window backend: a host's top-level windows shown in SDL2 windows.
// The headless desktop still owns every window, its messages and its pixels;
// the screen presents what the desktop painted (only the rectangles that
// changed), draws the non-client parts (frame, scroll bars), and turns the
// real mouse, keyboard and window events into the desktop's injected input,
// so the windows' own handlers do all the work.
//
// One Screen per process, used on one thread: the thread that creates the
// shown windows and pumps them (SDL's video wants it to be the main thread).
// Other threads may post and invalidate as they always could; the screen
// wakes up for them. Between events the pump sleeps.
#pragma once
#include <memory>
#include <string>

#include "handpix/platform/windows/Wnd.h"

namespace handpix::screen {

class Screen {
public:
    Screen();
    ~Screen();  // closes the real windows and stops SDL's video
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Starts the video subsystem. False with the reason when there is no
    // display, or when the library was built without SDL2.
    bool Start(std::string* why);

    // Shows top, a top-level window of the calling thread, in a real window
    // of its size times zoom (nearest neighbour). The title follows the
    // window's text. Closing the real window sends WM_CLOSE to top; when top is
    // destroyed its real window goes. A resizable window resizes top.
    bool Show(CWnd* top, int zoom = 1, bool resizable = true);

    // Posts WM_TIMER (wParam id) to wnd every ms milliseconds while the screen
    // runs; setting a timer again replaces it.
    void SetTimer(CWnd* wnd, UINT id, int ms);
    void KillTimer(CWnd* wnd, UINT id);

    // One round: handles what is due, waits at most waitMs (-1: until
    // something happens) for real events, timers or desktop messages, turns
    // them into input, pumps the desktop until idle and presents what
    // changed. False once Quit was called or no shown window is left.
    bool Step(int waitMs = -1);
    void Run() {
        while (Step()) {
        }
    }
    void Quit();

    // A question in a real dialog, as MessageBox asks it (MB_OK, MB_YESNO,
    // MB_OKCANCEL; the icon bits choose the kind). Returns IDOK, IDYES, IDNO or
    // IDCANCEL. From another thread it writes "caption: text" on stderr and
    // answers the safe choice (IDOK, or IDNO / IDCANCEL). Usable as the
    // library's message-box handler.
    int Ask(const char* text, const char* caption, UINT type);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace handpix::screen
