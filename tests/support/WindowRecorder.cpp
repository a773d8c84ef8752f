#include "tests/support/WindowRecorder.h"

namespace handpix::test {

WindowRecorder::WindowRecorder(CRect rect) { CreateEx(0, nullptr, "host", WS_OVERLAPPED | WS_VISIBLE, rect, nullptr, 0); }

WindowRecorder::~WindowRecorder() { DestroyWindow(); }

LRESULT WindowRecorder::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    messages.push_back(MSG{m_hWnd, message, wParam, lParam, 0, {0, 0}});
    if (message == WM_PAINT) ValidateRect(nullptr);
    return 0;
}

std::vector<MSG> WindowRecorder::Of(UINT message) const {
    std::vector<MSG> out;
    for (const MSG& m : messages)
        if (m.message == message) out.push_back(m);
    return out;
}

}  // namespace handpix::test
