// Message boxes go to one replaceable handler. The host sets it; the default
// prints "caption: text" on stderr and answers OK. Tests install a recorder.
// A folder build reports from its worker threads while the window thread may
// report too, so a handler can be called from several threads at once.
#pragma once
#include <functional>

#include "handpix/platform/core/Types.h"

namespace handpix {
using MessageBoxHandler = std::function<int(const char* text, const char* caption, UINT type)>;
// Installs h (an empty function restores the default) and returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler h);
}  // namespace handpix

int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
int MessageBox(void* hwnd, const char* text, const char* caption, UINT type);
