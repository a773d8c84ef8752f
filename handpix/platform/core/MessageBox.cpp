#include "handpix/platform/core/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex& HandlerMutex() {
    static std::mutex m;
    return m;
}
handpix::MessageBoxHandler& Handler() {
    static handpix::MessageBoxHandler h;
    return h;
}
int Show(const char* text, const char* caption, UINT type) {
    handpix::MessageBoxHandler h;
    {
        std::lock_guard<std::mutex> lock(HandlerMutex());
        h = Handler();
    }
    if (h) return h(text ? text : "", caption ? caption : "", type);
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}
}  // namespace

namespace handpix {
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler h) {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    MessageBoxHandler old = std::move(Handler());
    Handler() = std::move(h);
    return old;
}
}  // namespace handpix

// The caption of AfxMessageBox is the application's title; the library has none of its own.
int AfxMessageBox(const char* text, UINT type, UINT) { return Show(text, "handpix", type); }
int MessageBox(void*, const char* text, const char* caption, UINT type) { return Show(text, caption, type); }
