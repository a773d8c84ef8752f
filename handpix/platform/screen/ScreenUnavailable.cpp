// The screen of a build without SDL2: nothing can be shown, and Start says why.
#include <cstdio>

#include "handpix/platform/screen/Screen.h"

namespace handpix::screen {

struct Screen::Impl {};

Screen::Screen() = default;
Screen::~Screen() = default;

bool Screen::Start(std::string* why) {
    if (why) *why = "this handpix was built without SDL2 (install libsdl2-dev and build again)";
    return false;
}
bool Screen::Show(CWnd*, int, bool) { return false; }
void Screen::SetTimer(CWnd*, UINT, int) {}
void Screen::KillTimer(CWnd*, UINT) {}
bool Screen::Step(int) { return false; }
void Screen::Quit() {}

int Screen::Ask(const char* text, const char* caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

}  // namespace handpix::screen
