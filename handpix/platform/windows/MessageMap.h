// Message maps: a window class lists (message, handler) pairs in order and
// names its base class's map; WindowProc walks the chain and calls the first
// handler of the message. Each entry maker below cracks wParam/lParam into the
// arguments of the MFC handler signature for its message.
//
//   const handpix::MessageMap* CMyWnd::GetMessageMap() const {
//       static constexpr handpix::MessageEntry entries[] = {
//           handpix::msg::Paint<&CMyWnd::OnPaint>(),
//           handpix::msg::Size<&CMyWnd::OnSize>(),
//       };
//       static constexpr handpix::MessageMap map{&CWnd::MessageMapOf, entries};
//       return &map;
//   }
#pragma once
#include <cstddef>
#include <span>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/windows/WinDefs.h"

class CWnd;
class CDC;
class CScrollBar;

namespace handpix {

using MessageThunk = LRESULT (*)(CWnd* wnd, WPARAM wParam, LPARAM lParam);

struct MessageEntry {
    UINT message;
    MessageThunk thunk;
};

struct MessageMap {
    const MessageMap* (*base)();  // the base class's map, or null at the root
    std::span<const MessageEntry> entries;
};

namespace detail {
template <class T>
struct MemberOf;
template <class C, class F>
struct MemberOf<F C::*> {
    using type = C;
};
template <auto F>
using ClassOf = typename MemberOf<decltype(F)>::type;

template <auto F>
ClassOf<F>* Self(CWnd* w) {
    return static_cast<ClassOf<F>*>(w);
}
CWnd* WndFromHandle(HWND h);  // CWnd::FromHandle, without needing its class here
inline CPoint PointOf(LPARAM lp) { return CPoint(GET_X_LPARAM(lp), GET_Y_LPARAM(lp)); }
}  // namespace detail

namespace msg {

// int OnCreate(LPCREATESTRUCT)
template <auto F>
constexpr MessageEntry Create() {
    return {WM_CREATE, [](CWnd* w, WPARAM, LPARAM l) -> LRESULT {
                return (detail::Self<F>(w)->*F)(reinterpret_cast<LPCREATESTRUCT>(l));
            }};
}
// void OnDestroy()
template <auto F>
constexpr MessageEntry Destroy() {
    return {WM_DESTROY, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                (detail::Self<F>(w)->*F)();
                return 0;
            }};
}
// void OnSize(UINT nType, int cx, int cy)
template <auto F>
constexpr MessageEntry Size() {
    return {WM_SIZE, [](CWnd* w, WPARAM wp, LPARAM l) -> LRESULT {
                (detail::Self<F>(w)->*F)(static_cast<UINT>(wp), LOWORD(static_cast<std::uintptr_t>(l)),
                                         HIWORD(static_cast<std::uintptr_t>(l)));
                return 0;
            }};
}
// void OnPaint()
template <auto F>
constexpr MessageEntry Paint() {
    return {WM_PAINT, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                (detail::Self<F>(w)->*F)();
                return 0;
            }};
}
// BOOL OnEraseBkgnd(CDC*)
template <auto F>
constexpr MessageEntry EraseBkgnd() {
    return {WM_ERASEBKGND, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {
                return (detail::Self<F>(w)->*F)(reinterpret_cast<CDC*>(wp));
            }};
}
// BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message)
template <auto F>
constexpr MessageEntry SetCursor() {
    return {WM_SETCURSOR, [](CWnd* w, WPARAM wp, LPARAM l) -> LRESULT {
                auto bits = static_cast<std::uintptr_t>(l);
                return (detail::Self<F>(w)->*F)(detail::WndFromHandle(reinterpret_cast<HWND>(wp)), LOWORD(bits),
                                                HIWORD(bits));
            }};
}
// void OnHScroll / OnVScroll(UINT nSBCode, UINT nPos, CScrollBar*)
template <UINT Id, auto F>
constexpr MessageEntry Scroll() {
    return {Id, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {
                (detail::Self<F>(w)->*F)(LOWORD(wp), HIWORD(wp), nullptr);
                return 0;
            }};
}
template <auto F>
constexpr MessageEntry HScroll() {
    return Scroll<WM_HSCROLL, F>();
}
template <auto F>
constexpr MessageEntry VScroll() {
    return Scroll<WM_VSCROLL, F>();
}
// void OnXButtonYyy(UINT nFlags, CPoint point) and OnMouseMove
template <UINT Id, auto F>
constexpr MessageEntry Mouse() {
    return {Id, [](CWnd* w, WPARAM wp, LPARAM l) -> LRESULT {
                (detail::Self<F>(w)->*F)(static_cast<UINT>(wp), detail::PointOf(l));
                return 0;
            }};
}
template <auto F>
constexpr MessageEntry LButtonDown() {
    return Mouse<WM_LBUTTONDOWN, F>();
}
template <auto F>
constexpr MessageEntry LButtonUp() {
    return Mouse<WM_LBUTTONUP, F>();
}
template <auto F>
constexpr MessageEntry RButtonDown() {
    return Mouse<WM_RBUTTONDOWN, F>();
}
template <auto F>
constexpr MessageEntry RButtonUp() {
    return Mouse<WM_RBUTTONUP, F>();
}
template <auto F>
constexpr MessageEntry MouseMove() {
    return Mouse<WM_MOUSEMOVE, F>();
}
// BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt); pt in screen coordinates
template <auto F>
constexpr MessageEntry MouseWheel() {
    return {WM_MOUSEWHEEL, [](CWnd* w, WPARAM wp, LPARAM l) -> LRESULT {
                return (detail::Self<F>(w)->*F)(GET_KEYSTATE_WPARAM(wp), GET_WHEEL_DELTA_WPARAM(wp),
                                                detail::PointOf(l));
            }};
}
// void OnKeyDown / OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags)
template <UINT Id, auto F>
constexpr MessageEntry Key() {
    return {Id, [](CWnd* w, WPARAM wp, LPARAM l) -> LRESULT {
                auto bits = static_cast<std::uintptr_t>(l);
                (detail::Self<F>(w)->*F)(static_cast<UINT>(wp), LOWORD(bits), HIWORD(bits));
                return 0;
            }};
}
template <auto F>
constexpr MessageEntry KeyDown() {
    return Key<WM_KEYDOWN, F>();
}
template <auto F>
constexpr MessageEntry KeyUp() {
    return Key<WM_KEYUP, F>();
}
// LRESULT OnMessage(WPARAM, LPARAM): any message, user-defined ones included
template <UINT Id, auto F>
constexpr MessageEntry Message() {
    return {Id, [](CWnd* w, WPARAM wp, LPARAM l) -> LRESULT { return (detail::Self<F>(w)->*F)(wp, l); }};
}

}  // namespace msg
}  // namespace handpix
