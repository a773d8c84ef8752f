// The headless desktop's message pump. Each thread that creates windows pumps
// its own queue: sent messages from other threads first, then posted
// messages (each walked through PreTranslateMessage from the target up to its
// top-level window), then WM_PAINT for windows with an update region.
#pragma once
#include <vector>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/windows/WinDefs.h"

namespace handpix {
// Handles one message of the calling thread's windows; false when idle.
bool PumpMessage();
// Handles messages until idle; returns how many were handled.
int PumpMessages();
// Waits until the calling thread has something to handle, at most
// `milliseconds`; true when there is something.
bool WaitForMessage(int milliseconds);

// Addition for real-window backends, which wait on their own event queue:
// called from any thread, perhaps with the desktop's lock held (so it must not
// call back into the window system), whenever a message is queued, a paint
// becomes due or a sent message is answered. Null removes it.
using WakeHook = void (*)();
void SetWakeHook(WakeHook hook);
// Addition for real-window backends: the client rectangles of hwnd whose
// pixels changed since the last call, and forgets them.
std::vector<CRect> TakeDrawnRects(HWND hwnd);
// Addition: the live child windows of parent, oldest first.
std::vector<HWND> GetChildWindows(HWND parent);
}  // namespace handpix

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND hwnd);
