#include "handpix/platform/screen/Screen.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "handpix/platform/screen/NonClient.h"
#include "handpix/platform/windows/Desktop.h"
#include "handpix/platform/windows/Input.h"

namespace handpix::screen {
namespace {

// SDL2 is opened on the first Start, not linked: linking it makes every
// command of a host pay for loading its fifty-odd libraries at start-up
// (about 15 ms), windows or not. The table is filled once and never changes.
#define HANDPIX_SDL_FUNCTIONS(X) \
    X(ConvertPixels) \
    X(CreateColorCursor) \
    X(CreateRGBSurfaceWithFormatFrom) \
    X(CreateSystemCursor) \
    X(CreateWindow) \
    X(DestroyWindow) \
    X(FreeCursor) \
    X(FreeSurface) \
    X(GetCurrentVideoDriver) \
    X(GetError) \
    X(GetKeyboardFocus) \
    X(GetMouseState) \
    X(GetWindowID) \
    X(GetWindowSurface) \
    X(InitSubSystem) \
    X(LockSurface) \
    X(PollEvent) \
    X(PushEvent) \
    X(QuitSubSystem) \
    X(RaiseWindow) \
    X(RegisterEvents) \
    X(SetCursor) \
    X(SetHint) \
    X(SetWindowTitle) \
    X(ShowMessageBox) \
    X(UnlockSurface) \
    X(UpdateWindowSurfaceRects) \
    X(WaitEvent) \
    X(WaitEventTimeout) \
    X(getenv)

struct SdlApi {
#define HANDPIX_SDL_POINTER(name) decltype(&::SDL_##name) name = nullptr;
    HANDPIX_SDL_FUNCTIONS(HANDPIX_SDL_POINTER)
#undef HANDPIX_SDL_POINTER
    std::string error;  // why it could not be opened; empty when it was
};

SdlApi LoadSdl() {
    SdlApi api;
    void* lib = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* e = ::dlerror();
        api.error = std::string("SDL2 could not be loaded: ") + (e ? e : "libSDL2-2.0.so.0 not found");
        return api;
    }
#define HANDPIX_SDL_RESOLVE(name)                                                          \
    api.name = reinterpret_cast<decltype(api.name)>(::dlsym(lib, "SDL_" #name));          \
    if (!api.name && api.error.empty()) api.error = "SDL2 lacks SDL_" #name;
    HANDPIX_SDL_FUNCTIONS(HANDPIX_SDL_RESOLVE)
#undef HANDPIX_SDL_RESOLVE
    // The library stays open for the life of the process: SDL keeps threads
    // and handlers of its own once its video has started.
    return api;
}

// The process-wide table (the magic static is the lock).
const SdlApi& Sdl() {
    static const SdlApi api = LoadSdl();
    return api;
}


using Clock = std::chrono::steady_clock;
// The longest the pump runs before what it painted is presented.
constexpr std::chrono::milliseconds kFrame{16};

// Process-wide: the SDL event that wakes the pump, registered by Start, and
// whether one is already on its way (so a busy worker does not flood SDL's queue).
std::atomic<Uint32> g_wakeEvent{0};
std::atomic<bool> g_wakePending{false};

void WakePump() {
    const Uint32 type = g_wakeEvent.load();
    if (type == 0 || g_wakePending.exchange(true)) return;
    SDL_Event e{};
    e.type = type;
    Sdl().PushEvent(&e);
}

// A window of a shown tree, placed in its top-level window's coordinates.
struct Placed {
    HWND hwnd = nullptr;
    CWnd* wnd = nullptr;
    DWORD style = 0;
    CRect rect;     // the window
    CPoint client;  // its client (0, 0)
};

struct Shown {
    CWnd* top = nullptr;
    HWND hwnd = nullptr;
    SDL_Window* window = nullptr;
    Uint32 id = 0;
    int zoom = 1;
    Surface frame;  // the composed pixels of the whole window
    std::string title;
    bool full = true;  // recompose and present everything next time
    std::map<HWND, std::pair<SCROLLINFO, SCROLLINFO>> bars;  // as last drawn
    HWND focus = nullptr;    // the last window of this tree that had the desktop focus
    HWND capture = nullptr;  // buttons held: moves and releases go here
    CPoint mouse;            // last pointer position, window coordinates
    // A thumb being dragged.
    HWND dragWnd = nullptr;
    int dragBar = -1;
    int dragGrab = 0;
    int dragPos = 0;
};

bool SameBar(const SCROLLINFO& a, const SCROLLINFO& b) {
    return a.nMin == b.nMin && a.nMax == b.nMax && a.nPage == b.nPage && a.nPos == b.nPos;
}

// The tree of top, parents before their children, siblings oldest first (the
// order they are composed in, so later ones lie on top).
void Collect(HWND h, CPoint topScreen, std::vector<Placed>& out) {
    CWnd* w = CWnd::FromHandle(h);
    if (!w) return;
    Placed p;
    p.hwnd = h;
    p.wnd = w;
    p.style = w->GetStyle();
    w->GetWindowRect(&p.rect);
    p.rect.OffsetRect(-topScreen.x, -topScreen.y);
    CPoint c(0, 0);
    w->ClientToScreen(&c);
    p.client = CPoint(c.x - topScreen.x, c.y - topScreen.y);
    out.push_back(p);
    for (HWND child : GetChildWindows(h)) Collect(child, topScreen, out);
}

std::vector<Placed> Tree(CWnd* top) {
    CRect r;
    top->GetWindowRect(&r);
    std::vector<Placed> out;
    Collect(top->m_hWnd, CPoint(r.left, r.top), out);
    return out;
}

SCROLLINFO BarInfo(CWnd* w, int nBar) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    w->GetScrollInfo(nBar, &si, SIF_ALL);
    return si;
}

// Keys the windows of the library and its host know, by SDL key code.
int VirtualKey(SDL_Keycode k) {
    if (k >= SDLK_a && k <= SDLK_z) return 'A' + static_cast<int>(k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return '0' + static_cast<int>(k - SDLK_0);
    switch (k) {
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_DELETE: return VK_DELETE;
    default: return 0;
    }
}

}  // namespace

struct Screen::Impl {
    bool started = false;
    bool quit = false;
    std::thread::id thread;
    std::vector<std::unique_ptr<Shown>> shown;
    std::set<int> heldKeys;
    struct Timer {
        HWND hwnd;
        UINT id;
        int ms;
        Clock::time_point due;
    };
    std::vector<Timer> timers;
    std::map<HCURSOR, SDL_Cursor*> cursors;
    HCURSOR cursor = nullptr;

    Shown* ById(Uint32 id) {
        for (auto& s : shown)
            if (s->id == id) return s.get();
        return nullptr;
    }

    // ---- input ----

    // The desktop has one focus; each real window remembers the last window of
    // its own tree that had it, so keys go back there when it is active again.
    static bool InTree(HWND h, HWND top) {
        for (CWnd* w = CWnd::FromHandle(h); w; w = w->GetParent())
            if (w->m_hWnd == top) return true;
        return false;
    }
    static HWND DesktopFocus() {
        CWnd* f = CWnd::GetFocus();
        return f ? f->m_hWnd : nullptr;
    }
    static void NoteFocus(Shown& s) {
        if (HWND f = DesktopFocus(); InTree(f, s.hwnd)) s.focus = f;
    }
    HWND KeyTarget(Shown& s) {
        NoteFocus(s);
        return InTree(s.focus, s.hwnd) ? s.focus : s.hwnd;
    }

    void Key(Shown& s, const SDL_KeyboardEvent& k) {
        const int vk = VirtualKey(k.keysym.sym);
        if (!vk) return;
        const bool down = k.type == SDL_KEYDOWN;
        if (down) heldKeys.insert(vk);
        else heldKeys.erase(vk);
        if (CWnd* w = CWnd::FromHandle(KeyTarget(s))) PostKey(w, vk, down);
    }

    // Keys held when the keyboard goes elsewhere would stay down for good.
    void ReleaseKeys(Shown& s) {
        CWnd* w = CWnd::FromHandle(KeyTarget(s));
        for (int vk : heldKeys)
            if (w) PostKey(w, vk, false);
            else SetKeyState(vk, false);
        heldKeys.clear();
    }

    // The innermost window of the tree under p, or null.
    static const Placed* Under(const std::vector<Placed>& tree, CPoint p) {
        for (auto it = tree.rbegin(); it != tree.rend(); ++it)
            if (it->rect.PtInRect(p)) return &*it;
        return nullptr;
    }

    static bool InClient(const Placed& w, CPoint p) {
        CRect c;
        w.wnd->GetClientRect(&c);
        c.OffsetRect(w.client.x, w.client.y);
        return c.PtInRect(p);
    }

    // A press on a scroll bar: pages, or starts dragging the thumb.
    void PressBar(Shown& s, const Placed& w, CPoint p) {
        for (int nBar : {SB_HORZ, SB_VERT}) {
            BarGeometry g;
            const SCROLLINFO si = BarInfo(w.wnd, nBar);
            const CPoint local(p.x - w.rect.left, p.y - w.rect.top);
            if (!BarOf(w.style, w.rect.Size(), nBar, si, g)) continue;
            const int code = HitBar(g, local);
            if (code < 0) continue;
            const UINT message = nBar == SB_VERT ? WM_VSCROLL : WM_HSCROLL;
            if (code == static_cast<int>(SB_THUMBTRACK)) {
                s.dragWnd = w.hwnd;
                s.dragBar = nBar;
                s.dragGrab = g.vertical ? local.y - g.thumb.top : local.x - g.thumb.left;
                s.dragPos = si.nPos;
            } else {
                w.wnd->PostMessage(message, MAKEWPARAM(code, 0), 0);
            }
            return;
        }
    }

    void DragThumb(Shown& s, CPoint p, bool release) {
        CWnd* w = CWnd::FromHandle(s.dragWnd);
        if (!w) {
            s.dragWnd = nullptr;
            return;
        }
        CRect r;
        w->GetWindowRect(&r);
        CRect top;
        s.top->GetWindowRect(&top);
        const CPoint local(p.x - (r.left - top.left), p.y - (r.top - top.top));
        const SCROLLINFO si = BarInfo(w, s.dragBar);
        BarGeometry g;
        if (!BarOf(w->GetStyle(), r.Size(), s.dragBar, si, g)) return;
        const int edge = g.vertical ? local.y - s.dragGrab - g.track.top : local.x - s.dragGrab - g.track.left;
        const int pos = PositionForThumb(g, si, edge);
        const UINT message = s.dragBar == SB_VERT ? WM_VSCROLL : WM_HSCROLL;
        // The message carries 16 bits of position, as on Windows.
        if (pos != s.dragPos) w->PostMessage(message, MAKEWPARAM(SB_THUMBTRACK, std::min(pos, 0xFFFF)), 0);
        s.dragPos = pos;
        if (release) {
            w->PostMessage(message, MAKEWPARAM(SB_THUMBPOSITION, std::min(pos, 0xFFFF)), 0);
            w->PostMessage(message, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
            s.dragWnd = nullptr;
        }
    }

    void PostTo(const Placed& w, UINT message, CPoint p) {
        PostMouse(w.wnd, message, CPoint(p.x - w.client.x, p.y - w.client.y));
    }

    void Button(Shown& s, const SDL_MouseButtonEvent& b) {
        if (b.button != SDL_BUTTON_LEFT && b.button != SDL_BUTTON_RIGHT) return;
        const bool left = b.button == SDL_BUTTON_LEFT, down = b.type == SDL_MOUSEBUTTONDOWN;
        const CPoint p(b.x / s.zoom, b.y / s.zoom);
        s.mouse = p;
        if (s.dragWnd) {
            if (left && !down) DragThumb(s, p, true);
            return;
        }
        const std::vector<Placed> tree = Tree(s.top);
        const Placed* target = nullptr;
        for (const Placed& w : tree)
            if (w.hwnd == s.capture) target = &w;
        if (!target) target = Under(tree, p);
        if (!target) return;
        if (down && !s.capture && !InClient(*target, p)) {
            if (left) PressBar(s, *target, p);
            return;
        }
        UINT message = left ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP) : (down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
        if (left && down && b.clicks >= 2) {
            // The second press of a double click, as Windows reports it to
            // classes that want double clicks; the button is down all the same.
            SetKeyState(VK_LBUTTON, true);
            message = WM_LBUTTONDBLCLK;
        }
        PostTo(*target, message, p);
        const Uint32 buttons = Sdl().GetMouseState(nullptr, nullptr);
        s.capture = down ? target->hwnd : (buttons & (SDL_BUTTON_LMASK | SDL_BUTTON_RMASK)) ? s.capture : nullptr;
    }

    void Motion(Shown& s, const SDL_MouseMotionEvent& m) {
        const CPoint p(m.x / s.zoom, m.y / s.zoom);
        s.mouse = p;
        if (s.dragWnd) {
            DragThumb(s, p, false);
            return;
        }
        const std::vector<Placed> tree = Tree(s.top);
        for (const Placed& w : tree)
            if (w.hwnd == s.capture) return PostTo(w, WM_MOUSEMOVE, p);
        if (const Placed* w = Under(tree, p)) {
            if (InClient(*w, p)) PostTo(*w, WM_MOUSEMOVE, p);
            else ::SetCursor(LoadCursor(nullptr, IDC_ARROW));
        }
    }

    void Wheel(Shown& s, const SDL_MouseWheelEvent& e) {
        int steps = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.y : e.y;
        const std::vector<Placed> tree = Tree(s.top);
        const Placed* w = Under(tree, s.mouse);
        if (!w) return;
        // One message a notch, up positive, as a wheel mouse reports on Windows.
        for (; steps != 0; steps += steps > 0 ? -1 : 1) PostWheel(w->wnd, steps > 0 ? WHEEL_DELTA : -WHEEL_DELTA,
                                                                   CPoint(s.mouse.x - w->client.x, s.mouse.y - w->client.y));
    }

    void WindowEvent(Shown& s, const SDL_WindowEvent& e) {
        switch (e.event) {
        case SDL_WINDOWEVENT_CLOSE: s.top->PostMessage(WM_CLOSE); break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            CRect r;
            s.top->GetWindowRect(&r);
            const int w = std::max(e.data1 / s.zoom, 1), h = std::max(e.data2 / s.zoom, 1);
            if (w != r.Width() || h != r.Height()) s.top->MoveWindow(r.left, r.top, w, h);
            s.full = true;
            break;
        }
        case SDL_WINDOWEVENT_EXPOSED: s.full = true; break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            if (CWnd* f = CWnd::FromHandle(KeyTarget(s))) f->SetFocus();
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST: ReleaseKeys(s); break;
        default: break;
        }
    }

    void Handle(const SDL_Event& e) {
        if (e.type == g_wakeEvent.load()) return;  // the pump runs after every batch anyway
        if (e.type == SDL_QUIT) {
            for (auto& s : shown) ::PostMessage(s->hwnd, WM_CLOSE, 0, 0);
            return;
        }
        Uint32 id = 0;
        switch (e.type) {
        case SDL_WINDOWEVENT: id = e.window.windowID; break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: id = e.key.windowID; break;
        case SDL_MOUSEMOTION: id = e.motion.windowID; break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: id = e.button.windowID; break;
        case SDL_MOUSEWHEEL: id = e.wheel.windowID; break;
        default: return;
        }
        Shown* s = ById(id);
        if (!s || !IsWindow(s->hwnd)) return;
        switch (e.type) {
        case SDL_WINDOWEVENT: WindowEvent(*s, e.window); break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: Key(*s, e.key); break;
        case SDL_MOUSEMOTION: Motion(*s, e.motion); break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: Button(*s, e.button); break;
        case SDL_MOUSEWHEEL: Wheel(*s, e.wheel); break;
        default: break;
        }
    }

    // ---- timers ----

    void FireTimers() {
        const Clock::time_point now = Clock::now();
        for (Timer& t : timers)
            if (t.due <= now) {
                ::PostMessage(t.hwnd, WM_TIMER, t.id, 0);
                t.due = std::max(t.due + std::chrono::milliseconds(t.ms), now);
            }
        std::erase_if(timers, [](const Timer& t) { return !IsWindow(t.hwnd); });
    }

    int UntilNextTimer(int waitMs) {
        const Clock::time_point now = Clock::now();
        for (const Timer& t : timers) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count();
            const int ms = static_cast<int>(std::max<long long>(left, 0));
            waitMs = waitMs < 0 ? ms : std::min(waitMs, ms);
        }
        return waitMs;
    }

    // ---- presenting ----

    // Adds the rectangles of a shown window whose pixels changed.
    void Damage(Shown& s, const std::vector<Placed>& tree, std::vector<CRect>& dirty) {
        for (const Placed& w : tree) {
            for (CRect r : TakeDrawnRects(w.hwnd)) {
                r.OffsetRect(w.client.x, w.client.y);
                dirty.push_back(r);
            }
            if (!(w.style & (WS_HSCROLL | WS_VSCROLL | WS_BORDER))) continue;
            auto bars = std::make_pair(BarInfo(w.wnd, SB_HORZ), BarInfo(w.wnd, SB_VERT));
            auto it = s.bars.find(w.hwnd);
            if (it != s.bars.end() && SameBar(it->second.first, bars.first) &&
                SameBar(it->second.second, bars.second) && !s.full)
                continue;
            s.bars[w.hwnd] = bars;
            CRect strips[kMaxNonClientRects];
            for (int i = 0, n = NonClientRects(w.style, w.rect.Size(), strips); i < n; ++i) {
                strips[i].OffsetRect(w.rect.left, w.rect.top);
                dirty.push_back(strips[i]);
            }
        }
    }

    static void Compose(Surface& frame, const std::vector<Placed>& tree, const CRect& dirty) {
        for (const Placed& w : tree) {
            std::shared_ptr<Surface> surface = w.wnd->GetSurface();
            CRect client;
            w.wnd->GetClientRect(&client);
            client.OffsetRect(w.client.x, w.client.y);
            CRect area;
            if (surface && area.IntersectRect(client, dirty) &&
                area.IntersectRect(area, CRect(0, 0, frame.Width(), frame.Height()))) {
                const int sx = area.left - w.client.x, sy = area.top - w.client.y;
                const int width = std::min(area.Width(), surface->Width() - sx);
                for (int y = 0; y < area.Height() && sy + y < surface->Height() && width > 0; ++y)
                    std::memcpy(frame.Row(area.top + y) + area.left, surface->Row(sy + y) + sx,
                                static_cast<std::size_t>(width) * 4);
            }
            if (w.style & (WS_HSCROLL | WS_VSCROLL | WS_BORDER)) {
                const SCROLLINFO bars[2] = {BarInfo(w.wnd, SB_HORZ), BarInfo(w.wnd, SB_VERT)};
                DrawNonClient(frame, w.rect.TopLeft(), w.style, w.rect.Size(), bars);
            }
        }
    }

    // Copies rc of the composed frame to the real window's surface, zoomed.
    // Our pixels are SDL's RGB888 in memory, so mostly this is a row copy.
    static void Copy(const Surface& frame, SDL_Surface* out, const CRect& rc, int zoom) {
        const bool same = out->format->format == SDL_PIXELFORMAT_RGB888 || out->format->format == SDL_PIXELFORMAT_ARGB8888;
        std::vector<std::uint32_t> wide;
        if (zoom > 1) wide.resize(static_cast<std::size_t>(rc.Width()) * zoom);
        const int width = rc.Width() * zoom, bytes = width * 4;
        for (int y = rc.top; y < rc.bottom; ++y) {
            const std::uint32_t* row = frame.Row(y) + rc.left;
            if (zoom > 1) {
                std::uint32_t* w = wide.data();
                for (int x = 0; x < rc.Width(); ++x) w = std::fill_n(w, zoom, row[x]);
                row = wide.data();
            }
            for (int k = 0; k < zoom; ++k) {
                const int ty = y * zoom + k;
                if (ty >= out->h) return;
                auto* dst = static_cast<std::uint8_t*>(out->pixels) + static_cast<std::ptrdiff_t>(ty) * out->pitch +
                            static_cast<std::ptrdiff_t>(rc.left) * zoom * out->format->BytesPerPixel;
                if (same) std::memcpy(dst, row, static_cast<std::size_t>(bytes));
                else Sdl().ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB888, row, bytes, out->format->format, dst, out->pitch);
            }
        }
    }

    void Present(Shown& s) {
        const CString text = s.top->GetWindowText();
        if (s.title != text.c_str()) {
            s.title = text.c_str();
            Sdl().SetWindowTitle(s.window, s.title.c_str());
        }
        CRect r;
        s.top->GetWindowRect(&r);
        if (s.frame.Width() != r.Width() || s.frame.Height() != r.Height()) {
            s.frame.Reset(std::max(r.Width(), 1), std::max(r.Height(), 1), 0xFFFFFF);
            s.full = true;
        }
        const std::vector<Placed> tree = Tree(s.top);
        std::vector<CRect> dirty;
        Damage(s, tree, dirty);
        if (s.full) dirty.assign(1, CRect(0, 0, s.frame.Width(), s.frame.Height()));
        s.full = false;
        SDL_Surface* out = Sdl().GetWindowSurface(s.window);
        if (dirty.empty() || !out) return;
        std::vector<SDL_Rect> rects;
        if (SDL_MUSTLOCK(out)) Sdl().LockSurface(out);
        const CRect bounds(0, 0, std::min(s.frame.Width(), out->w / s.zoom), std::min(s.frame.Height(), out->h / s.zoom));
        for (CRect rc : dirty) {
            if (!rc.IntersectRect(rc, bounds)) continue;
            Compose(s.frame, tree, rc);
            Copy(s.frame, out, rc, s.zoom);
            rects.push_back(SDL_Rect{rc.left * s.zoom, rc.top * s.zoom, rc.Width() * s.zoom, rc.Height() * s.zoom});
        }
        if (SDL_MUSTLOCK(out)) Sdl().UnlockSurface(out);
        if (!rects.empty()) Sdl().UpdateWindowSurfaceRects(s.window, rects.data(), static_cast<int>(rects.size()));
    }

    SDL_Cursor* CursorFor(HCURSOR c) {
        auto it = cursors.find(c);
        if (it != cursors.end()) return it->second;
        SDL_Cursor* made = nullptr;
        if (c && c->image) {
            const ResourceImage& img = *c->image;
            // Cursor pixels carry alpha in the top byte: ARGB8888 in memory.
            SDL_Surface* surface = Sdl().CreateRGBSurfaceWithFormatFrom(
                const_cast<std::uint32_t*>(img.pixels.data()), img.width, img.height, 32, img.width * 4,
                SDL_PIXELFORMAT_ARGB8888);
            if (surface) {
                made = Sdl().CreateColorCursor(surface, img.hotX, img.hotY);
                Sdl().FreeSurface(surface);
            }
        } else if (c && c->id == 32649) {
            made = Sdl().CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
        }
        if (!made) made = Sdl().CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
        cursors[c] = made;
        return made;
    }

    // Pumps the desktop until idle, or for a frame's time while a worker keeps
    // it busy, then shows what it did. True when work was left for next time.
    bool Settle() {
        FireTimers();
        g_wakePending.store(false);  // a post from now on wakes the next wait
        bool more = false;
        for (const Clock::time_point end = Clock::now() + kFrame; (more = PumpMessage()) && Clock::now() < end;) {
        }
        std::erase_if(shown, [](const std::unique_ptr<Shown>& s) {
            if (IsWindow(s->hwnd)) return false;
            Sdl().DestroyWindow(s->window);
            return true;
        });
        for (auto& s : shown) {
            NoteFocus(*s);
            Present(*s);
        }
        const HCURSOR c = GetCursor();
        if (c != cursor) {
            cursor = c;
            if (SDL_Cursor* sc = CursorFor(c)) Sdl().SetCursor(sc);
        }
        return more;
    }
};

Screen::Screen() : m(std::make_unique<Impl>()) {}

Screen::~Screen() {
    if (!m->started) return;
    SetWakeHook(nullptr);
    g_wakeEvent.store(0);
    for (auto& s : m->shown) Sdl().DestroyWindow(s->window);
    for (auto& [c, sc] : m->cursors) Sdl().FreeCursor(sc);
    Sdl().QuitSubSystem(SDL_INIT_VIDEO);
}

bool Screen::Start(std::string* why) {
    if (m->started) return true;
    if (!Sdl().error.empty()) {
        if (why) *why = Sdl().error;
        return false;
    }
    // The window system's own framebuffer (shared memory on X11): SDL would
    // otherwise put a GL texture between us and the window, recreating the
    // window for it and uploading the whole of it on every present.
    Sdl().SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // The click that focuses a window is a click on the list too.
    Sdl().SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (Sdl().InitSubSystem(SDL_INIT_VIDEO) != 0) {
        if (why) *why = Sdl().GetError();
        return false;
    }
    // Without a display SDL settles for windows nobody can see; unless that
    // was asked for, there is no screen.
    const char* driver = Sdl().GetCurrentVideoDriver();
    const char* asked = Sdl().getenv("SDL_VIDEODRIVER");
    if (driver && (!std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy")) && !(asked && *asked)) {
        if (why) *why = "no display (DISPLAY or WAYLAND_DISPLAY is not set)";
        Sdl().QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    const Uint32 wake = Sdl().RegisterEvents(1);
    if (wake == static_cast<Uint32>(-1)) {
        if (why) *why = "no SDL event left for waking";
        Sdl().QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    g_wakeEvent.store(wake);
    SetWakeHook(&WakePump);
    m->started = true;
    m->thread = std::this_thread::get_id();
    return true;
}

bool Screen::Show(CWnd* top, int zoom, bool resizable) {
    if (!m->started || !top || !top->m_hWnd) return false;
    zoom = std::clamp(zoom, 1, 16);
    CRect r;
    top->GetWindowRect(&r);
    Uint32 flags = SDL_WINDOW_SHOWN | (resizable ? SDL_WINDOW_RESIZABLE : 0);
    SDL_Window* window = Sdl().CreateWindow(top->GetWindowText().c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          r.Width() * zoom, r.Height() * zoom, flags);
    if (!window) return false;
    auto s = std::make_unique<Shown>();
    s->top = top;
    s->hwnd = top->m_hWnd;
    s->window = window;
    s->id = Sdl().GetWindowID(window);
    s->zoom = zoom;
    s->title = top->GetWindowText().c_str();
    s->focus = Impl::InTree(Impl::DesktopFocus(), s->hwnd) ? Impl::DesktopFocus() : s->hwnd;
    m->shown.push_back(std::move(s));
    Sdl().RaiseWindow(window);
    // The framebuffer is made now, while a worker may already be filling the
    // window, rather than on the first present.
    Sdl().GetWindowSurface(window);
    return true;
}

void Screen::SetTimer(CWnd* wnd, UINT id, int ms) {
    KillTimer(wnd, id);
    ms = std::max(ms, 1);
    m->timers.push_back(Impl::Timer{wnd->m_hWnd, id, ms, Clock::now() + std::chrono::milliseconds(ms)});
}

void Screen::KillTimer(CWnd* wnd, UINT id) {
    std::erase_if(m->timers, [&](const Impl::Timer& t) { return t.hwnd == wnd->m_hWnd && t.id == id; });
}

bool Screen::Step(int waitMs) {
    if (!m->started) return false;
    const bool more = m->Settle();
    if (m->quit || m->shown.empty()) return false;
    const int wait = more ? 0 : m->UntilNextTimer(waitMs);
    SDL_Event e;
    const bool got = wait < 0 ? Sdl().WaitEvent(&e) != 0 : Sdl().WaitEventTimeout(&e, wait) != 0;
    if (got) {
        m->Handle(e);
        while (Sdl().PollEvent(&e)) m->Handle(e);
    }
    m->Settle();
    return !m->quit && !m->shown.empty();
}

void Screen::Quit() { m->quit = true; }

int Screen::Ask(const char* text, const char* caption, UINT type) {
    const UINT buttons = type & 0x0F;
    const int no = buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
    if (!m->started || std::this_thread::get_id() != m->thread) {
        std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
        return no;
    }
    std::vector<SDL_MessageBoxButtonData> list;
    if (buttons == MB_YESNO) {
        list.push_back({SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"});
        list.push_back({SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"});
    } else if (buttons == MB_OKCANCEL) {
        list.push_back({SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDOK, "OK"});
        list.push_back({SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDCANCEL, "Cancel"});
    } else {
        list.push_back({SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK, "OK"});
    }
    const UINT icon = type & 0xF0;
    const Uint32 kind = icon == MB_ICONERROR ? SDL_MESSAGEBOX_ERROR
                        : icon == MB_ICONWARNING || icon == MB_ICONQUESTION ? SDL_MESSAGEBOX_WARNING
                                                                            : SDL_MESSAGEBOX_INFORMATION;
    SDL_Window* parent = Sdl().GetKeyboardFocus();
    if (!parent && !m->shown.empty()) parent = m->shown.front()->window;
    const SDL_MessageBoxData data{kind, parent, caption ? caption : "", text ? text : "",
                                  static_cast<int>(list.size()), list.data(), nullptr};
    int answer = no;
    if (Sdl().ShowMessageBox(&data, &answer) != 0 || answer < 0) return no;
    // The dialog ate the releases of the keys that answered it.
    for (auto& s : m->shown) m->ReleaseKeys(*s);
    return answer;
}

}  // namespace handpix::screen
