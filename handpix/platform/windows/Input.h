// Cursors, keyboard state and input for the headless desktop. A host (or a
// test) injects input here; each call posts the messages Windows would
// deliver, with client coordinates for buttons and moves and screen
// coordinates for the wheel. A real-window backend would call the same
// functions from its event loop.
#pragma once
#include <memory>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/draw/Gdi.h"
#include "handpix/platform/draw/ResourceTable.h"
#include "handpix/platform/windows/WinDefs.h"

class CWnd;

// ---- cursors ----
inline const char* const IDC_ARROW = MAKEINTRESOURCE(32512);
inline const char* const IDC_HAND = MAKEINTRESOURCE(32649);
inline const char* const RT_GROUP_CURSOR = MAKEINTRESOURCE(12);

namespace handpix {
// A loaded cursor: the system arrow (no image) or one of the cursor resources.
struct Cursor {
    UINT id = 0;
    std::shared_ptr<const ResourceImage> image;
};
}  // namespace handpix

// With a null instance: the system cursors (IDC_ARROW, IDC_HAND). Otherwise a
// cursor resource by number; null when none is registered. The same cursor
// gives the same handle every time.
HCURSOR LoadCursor(HINSTANCE hInstance, LPCTSTR name);
HCURSOR SetCursor(HCURSOR cursor);  // returns the previous one
HCURSOR GetCursor();
BOOL GetCursorPos(LPPOINT p);  // screen coordinates
BOOL SetCursorPos(int x, int y);

// ---- keyboard state ----
// High bit set while the key is down: now (GetAsyncKeyState), or as of the
// input message being handled (GetKeyState).
SHORT GetAsyncKeyState(int vk);
SHORT GetKeyState(int vk);

namespace handpix {
// Sets a key (or mouse button, VK_LBUTTON ...) up or down at once, for both
// queries, without posting anything.
void SetKeyState(int vk, bool down);
// Every key and button up; the cursor back to the arrow at (0, 0).
void ResetInput();

// Posts WM_MOUSEMOVE or a button message (WM_LBUTTONDOWN ... WM_RBUTTONUP) to
// target at its client point, after updating the button state and the cursor
// position; wParam carries the MK_ flags of the buttons, Ctrl and Shift.
// The pump sends WM_SETCURSOR before it delivers each of them.
void PostMouse(CWnd* target, UINT message, CPoint client);
// Posts WM_MOUSEWHEEL with the delta and the point converted to screen coordinates.
void PostWheel(CWnd* target, int delta, CPoint client);
// Posts WM_KEYDOWN or WM_KEYUP (repeat count 1); GetAsyncKeyState sees the
// key at once, GetKeyState when the message is delivered.
void PostKey(CWnd* target, int vk, bool down);
}  // namespace handpix
