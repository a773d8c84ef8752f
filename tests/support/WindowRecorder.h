// A top-level host window for window tests: records every message that
// reaches it, in order, and answers each with 0.
#pragma once
#include <vector>

#include "handpix/platform/windows/Wnd.h"

namespace handpix::test {

class WindowRecorder : public CWnd {
public:
    // A top-level window at (left, top) on the screen.
    explicit WindowRecorder(CRect rect = CRect(100, 50, 1000, 750));
    ~WindowRecorder() override;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::vector<MSG> messages;
    // The messages with this number, in arrival order.
    std::vector<MSG> Of(UINT message) const;
    void Clear() { messages.clear(); }
};

}  // namespace handpix::test
