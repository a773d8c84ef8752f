// The headless desktop's message pump. Each thread that creates windows pumps
// its own queue: sent messages from other threads first, then posted
// messages (each walked through PreTranslateMessage from the target up to its
// top-level window), then WM_PAINT for windows with an update region.
#pragma once
#include "handpix/platform/windows/WinDefs.h"

namespace handpix {
// Handles one message of the calling thread's windows; false when idle.
bool PumpMessage();
// Handles messages until idle; returns how many were handled.
int PumpMessages();
// Waits until the calling thread has something to handle, at most
// `milliseconds`; true when there is something.
bool WaitForMessage(int milliseconds);
}  // namespace handpix

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND hwnd);
