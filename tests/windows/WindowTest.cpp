#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "handpix/platform/core/Thread.h"
#include "handpix/platform/windows/Desktop.h"
#include "handpix/platform/windows/Input.h"
#include "handpix/platform/windows/Wnd.h"
#include "tests/support/WindowRecorder.h"

namespace {
using handpix::test::WindowRecorder;

constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::uint32_t kRed = 0x00FF0000;

// A child that logs its handlers by name and paints its update area red.
class Probe : public CWnd {
public:
    std::string log;
    BOOL swallowKeys = FALSE;

    BOOL PreTranslateMessage(MSG* m) override {
        if (m->message == WM_KEYDOWN) log += "pre ";
        return swallowKeys;
    }

protected:
    const handpix::MessageMap* GetMessageMap() const override {
        static constexpr handpix::MessageEntry entries[] = {
            handpix::msg::Create<&Probe::OnCreate>(),
            handpix::msg::Size<&Probe::OnSize>(),
            handpix::msg::Paint<&Probe::OnPaint>(),
            handpix::msg::SetCursor<&Probe::OnSetCursor>(),
            handpix::msg::LButtonDown<&Probe::OnLButtonDown>(),
            handpix::msg::KeyDown<&Probe::OnKeyDown>(),
            handpix::msg::Message<WM_USER + 1, &Probe::OnUser>(),
        };
        static constexpr handpix::MessageMap map{&CWnd::MessageMapOf, entries};
        return &map;
    }
    int OnCreate(LPCREATESTRUCT cs) {
        log += "create ";
        return CWnd::OnCreate(cs);
    }
    void OnSize(UINT, int cx, int cy) { log += "size " + std::to_string(cx) + "x" + std::to_string(cy) + " "; }
    void OnPaint() {
        CPaintDC dc(this);
        CRect all(0, 0, 4000, 4000);
        dc.FillSolidRect(&all, RGB(255, 0, 0));  // clipping keeps it inside the update region
        log += "paint ";
    }
    BOOL OnSetCursor(CWnd*, UINT hit, UINT message) {
        log += "cursor(" + std::to_string(hit) + "," + std::to_string(message) + ") ";
        return TRUE;
    }
    void OnLButtonDown(UINT flags, CPoint p) {
        log += "down(" + std::to_string(flags) + "," + std::to_string(p.x) + "," + std::to_string(p.y) + ") ";
    }
    void OnKeyDown(UINT key, UINT, UINT) { log += "key " + std::to_string(key) + " "; }
    LRESULT OnUser(WPARAM w, LPARAM l) { return static_cast<LRESULT>(w) + l; }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        handpix::ResetInput();
        handpix::PumpMessages();
    }
    void TearDown() override { handpix::PumpMessages(); }
    WindowRecorder host;
};

int CountPixels(const handpix::Surface& s, std::uint32_t px, CRect area) {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) n += s.At(x, y) == px;
    return n;
}

struct ClientCase {
    DWORD style;
    int width, height;
};

TEST_F(WindowTest, ClientAreaIsTheWindowLessBarsAndBorder) {
    const ClientCase cases[] = {
        {WS_CHILD, 300, 200},
        {WS_CHILD | WS_VSCROLL, 283, 200},
        {WS_CHILD | WS_HSCROLL, 300, 183},
        {WS_CHILD | WS_HSCROLL | WS_VSCROLL, 283, 183},
        {WS_CHILD | WS_BORDER | WS_HSCROLL | WS_VSCROLL, 281, 181},
    };
    for (const ClientCase& c : cases) {
        Probe w;
        ASSERT_TRUE(w.Create(nullptr, "", c.style, CRect(10, 20, 310, 220), &host, 7));
        CRect client, window;
        w.GetClientRect(&client);
        w.GetWindowRect(&window);
        EXPECT_EQ(client, CRect(0, 0, c.width, c.height)) << std::hex << c.style;
        EXPECT_EQ(window, CRect(110, 70, 410, 270));  // the host sits at (100, 50)
        EXPECT_EQ(w.GetSurface()->Width(), c.width);
        EXPECT_EQ(w.log, "create size " + std::to_string(c.width) + "x" + std::to_string(c.height) + " ");
        EXPECT_EQ(w.GetParent(), &host);
        EXPECT_EQ(w.GetDlgCtrlID(), 7u);
    }
}

TEST_F(WindowTest, CoordinatesConvertThroughTheParentChain) {
    Probe mid, leaf;
    ASSERT_TRUE(mid.Create(nullptr, "", WS_CHILD | WS_BORDER, CRect(10, 10, 400, 400), &host, 1));
    ASSERT_TRUE(leaf.Create(nullptr, "", WS_CHILD, CRect(5, 6, 100, 100), &mid, 2));
    CPoint p(3, 4);
    leaf.ClientToScreen(&p);
    EXPECT_EQ(p, CPoint(100 + 10 + 1 + 5 + 3, 50 + 10 + 1 + 6 + 4));
    leaf.ScreenToClient(&p);
    EXPECT_EQ(p, CPoint(3, 4));
}

TEST_F(WindowTest, PaintingIsClippedToTheUpdateRegion) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(0, 0, 200, 100), &host, 1));
    w.ValidateRect(nullptr);
    handpix::PumpMessages();
    EXPECT_EQ(w.log.find("paint"), std::string::npos);

    CRect a(10, 10, 30, 20), b(100, 50, 110, 90);
    w.InvalidateRect(&a, FALSE);
    w.InvalidateRect(&b, FALSE);
    w.InvalidateRect(&a, FALSE);  // twice is the same region
    CRect box;
    EXPECT_TRUE(w.GetUpdateRect(&box));
    EXPECT_EQ(box, CRect(10, 10, 110, 90));
    handpix::PumpMessages();
    const handpix::Surface& s = *w.GetSurface();
    EXPECT_EQ(CountPixels(s, kRed, CRect(0, 0, 200, 100)), 20 * 10 + 10 * 40);
    EXPECT_EQ(s.At(10, 10), kRed);
    EXPECT_EQ(s.At(50, 50), kWhite);  // inside the bounding box, outside the region
    EXPECT_FALSE(w.GetUpdateRect(&box));
}

TEST_F(WindowTest, ScrollWindowMovesPixelsAndExposesOnlyTheStrip) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(0, 0, 50, 100), &host, 1));
    handpix::PumpMessages();
    handpix::Surface& s = *w.GetSurface();
    for (int y = 0; y < 100; ++y) s.Row(y)[0] = static_cast<std::uint32_t>(y);  // a ruler down column 0

    w.ScrollWindow(0, -30);  // contents move up: the bottom 30 rows are exposed
    CRect box;
    ASSERT_TRUE(w.GetUpdateRect(&box));
    EXPECT_EQ(box, CRect(0, 70, 50, 100));
    for (int y = 0; y < 70; ++y) ASSERT_EQ(s.At(0, y), static_cast<std::uint32_t>(y + 30));

    w.ValidateRect(nullptr);
    w.ScrollWindow(0, 20);
    ASSERT_TRUE(w.GetUpdateRect(&box));
    EXPECT_EQ(box, CRect(0, 0, 50, 20));
    EXPECT_EQ(s.At(0, 20), 30u);

    w.ValidateRect(nullptr);
    CRect pending(0, 40, 10, 50);
    w.InvalidateRect(&pending, FALSE);
    w.ScrollWindow(-5, 0);  // a pending update travels with the pixels
    ASSERT_TRUE(w.GetUpdateRect(&box));
    EXPECT_EQ(box, CRect(0, 0, 50, 100));
    CRect strip(45, 0, 50, 100), moved(0, 40, 5, 50);
    w.ValidateRect(&strip);
    ASSERT_TRUE(w.GetUpdateRect(&box));
    EXPECT_EQ(box, moved);
}

std::atomic<int> g_wakes{0};
void CountWake() { ++g_wakes; }

TEST_F(WindowTest, ABackendLearnsWhatWasDrawnAndIsWokenByOtherThreads) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(0, 0, 200, 100), &host, 1));
    auto drawn = [&w] {
        CRect box;
        for (const CRect& r : handpix::TakeDrawnRects(w.m_hWnd)) box.UnionRect(box, r);
        return box;
    };
    handpix::PumpMessages();
    EXPECT_EQ(drawn(), CRect(0, 0, 200, 100));
    CRect a(10, 10, 30, 20);
    w.InvalidateRect(&a, FALSE);
    EXPECT_EQ(drawn(), CRect());  // nothing changes before the paint
    handpix::PumpMessages();
    EXPECT_EQ(drawn(), a);
    w.ScrollWindow(0, -30);
    EXPECT_EQ(drawn(), CRect(0, 0, 200, 70));  // the moved pixels; the strip comes with its paint
    handpix::PumpMessages();
    EXPECT_EQ(drawn(), CRect(0, 70, 200, 100));
    w.MoveWindow(0, 0, 120, 80, FALSE);
    EXPECT_EQ(drawn(), CRect(0, 0, 120, 80));  // a new surface
    EXPECT_EQ(handpix::GetChildWindows(host.m_hWnd), std::vector<HWND>{w.m_hWnd});

    handpix::SetWakeHook(&CountWake);
    std::thread([&w] { w.PostMessage(WM_USER + 1); }).join();
    handpix::SetWakeHook(nullptr);
    w.PostMessage(WM_USER + 1);
    EXPECT_EQ(g_wakes.load(), 1);
}

TEST_F(WindowTest, ScrollPositionsAreClampedToRangeLessPage) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD | WS_VSCROLL, CRect(0, 0, 100, 300), &host, 1));
    struct Case {
        int max;
        UINT page;
        int pos, expect;
    } cases[] = {{489, 300, 500, 190}, {489, 300, 189, 189}, {489, 0, 489, 489}, {0, 0, 5, 0}, {100, 20, -3, 0}};
    for (const Case& c : cases) {
        SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, c.max, c.page, c.pos, 0};
        EXPECT_EQ(w.SetScrollInfo(SB_VERT, &si), c.expect);
        SCROLLINFO out{};
        ASSERT_TRUE(w.GetScrollInfo(SB_VERT, &out));
        EXPECT_EQ(out.nMax, c.max);
        EXPECT_EQ(out.nPage, c.page);
        EXPECT_EQ(out.nPos, c.expect);
        EXPECT_EQ(w.SetScrollPos(SB_VERT, c.pos), c.expect);
    }
}

TEST_F(WindowTest, MessageMapHandlesInOrderAndFallsBackToDefault) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(0, 0, 100, 100), &host, 1));
    EXPECT_EQ(w.SendMessage(WM_USER + 1, 40, 2), 42);
    EXPECT_EQ(w.SendMessage(WM_USER + 2, 40, 2), 0);  // no entry: DefWindowProc
    EXPECT_TRUE(w.PostMessage(WM_USER + 1, 1, 1));
    handpix::PumpMessages();
}

// Handles WM_PAINT without painting or validating.
class Lazy : public CWnd {
public:
    int paints = 0;

protected:
    const handpix::MessageMap* GetMessageMap() const override {
        static constexpr handpix::MessageEntry entries[] = {handpix::msg::Paint<&Lazy::OnPaint>()};
        static constexpr handpix::MessageMap map{&CWnd::MessageMapOf, entries};
        return &map;
    }
    void OnPaint() { ++paints; }
};

TEST_F(WindowTest, APaintHandlerThatValidatesNothingIsAskedOnce) {
    Lazy w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(0, 0, 100, 100), &host, 1));
    EXPECT_EQ(handpix::PumpMessages(), 1);
    EXPECT_EQ(w.paints, 1);
    EXPECT_FALSE(w.GetUpdateRect(nullptr));
}

TEST_F(WindowTest, InjectedInputArrivesAsWindowsDeliversIt) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(20, 30, 220, 230), &host, 1));
    handpix::PumpMessages();
    w.log.clear();

    handpix::SetKeyState(VK_CONTROL, true);
    handpix::PostMouse(&w, WM_LBUTTONDOWN, CPoint(15, 25));
    handpix::PumpMessages();
    EXPECT_EQ(w.log, "cursor(1,513) down(9,15,25) ");  // MK_LBUTTON | MK_CONTROL
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_EQ(CPoint(cursor), CPoint(100 + 20 + 15, 50 + 30 + 25));

    host.Clear();
    handpix::PostWheel(&w, -360, CPoint(1, 2));  // unhandled: goes up to the parent
    handpix::PumpMessages();
    auto wheel = host.Of(WM_MOUSEWHEEL);
    ASSERT_EQ(wheel.size(), 1u);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel[0].wParam), -360);
    EXPECT_EQ(GET_X_LPARAM(wheel[0].lParam), 121);  // screen coordinates
    EXPECT_EQ(GET_Y_LPARAM(wheel[0].lParam), 82);

    w.log.clear();
    handpix::PostKey(&w, 'A', true);
    handpix::PumpMessages();
    EXPECT_EQ(w.log, "pre key 65 ");
    w.swallowKeys = TRUE;
    w.log.clear();
    handpix::PostKey(&w, 'A', true);
    handpix::PumpMessages();
    EXPECT_EQ(w.log, "pre ");
    EXPECT_NE(GetKeyState('A') & 0x8000, 0);
    EXPECT_NE(GetAsyncKeyState(VK_CONTROL) & 0x8000, 0);
    handpix::ResetInput();
    EXPECT_EQ(GetAsyncKeyState(VK_CONTROL), 0);
}

// The other thread goes on posting through the object while the window's
// thread destroys it: the handle it reads is the window's or null.
TEST_F(WindowTest, OtherThreadsPostAndSendThroughTheOwnersPumpUntilTheWindowGoes) {
    Probe w;
    ASSERT_TRUE(w.Create(nullptr, "", WS_CHILD, CRect(0, 0, 100, 100), &host, 1));
    handpix::PumpMessages();
    std::atomic<LRESULT> sent{-1};
    std::atomic<bool> pumped{false};
    std::thread other([&] {
        w.PostMessage(WM_USER + 1, 1, 2);
        CRect r(0, 0, 10, 10);
        w.InvalidateRect(&r, FALSE);
        sent = w.SendMessage(WM_USER + 1, 5, 6);  // waits for our pump
        while (!pumped) std::this_thread::yield();  // posts from here would keep the pump busy for ever
        while (w.PostMessage(WM_USER + 1, 0, 0)) std::this_thread::yield();
    });
    while (sent.load() == -1) {
        handpix::WaitForMessage(50);
        handpix::PumpMessages();
    }
    pumped = true;
    w.DestroyWindow();
    other.join();
    EXPECT_EQ(sent.load(), 11);
    EXPECT_NE(w.log.find("paint"), std::string::npos);
}

TEST_F(WindowTest, DestroyReleasesWaitingSendersAndDropsQueuedMessages) {
    auto* w = new Probe;
    ASSERT_TRUE(w->Create(nullptr, "", WS_CHILD, CRect(0, 0, 100, 100), &host, 1));
    HWND h = w->m_hWnd;
    std::atomic<bool> started{false};
    std::atomic<LRESULT> sent{-1};
    std::thread other([&] {
        started = true;
        sent = ::SendMessage(h, WM_USER + 1, 5, 6);
    });
    while (!started) std::this_thread::yield();
    w->PostMessage(WM_USER + 1, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    delete w;  // destroys the window while the other thread waits
    other.join();
    EXPECT_TRUE(sent.load() == 0 || sent.load() == 11);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(::PostMessage(h, WM_USER, 0, 0));
    handpix::PumpMessages();
}

TEST_F(WindowTest, ChildrenDieWithTheirParentAndMainWindowIsPerThread) {
    auto* parent = new Probe;
    Probe child;
    ASSERT_TRUE(parent->Create(nullptr, "", WS_CHILD, CRect(0, 0, 100, 100), &host, 1));
    ASSERT_TRUE(child.Create(nullptr, "", WS_CHILD, CRect(0, 0, 50, 50), parent, 2));
    delete parent;
    EXPECT_EQ(child.m_hWnd, nullptr);

    AfxGetThread()->m_pMainWnd = &host;
    EXPECT_EQ(AfxGetThread()->GetMainWnd(), &host);
    CWnd* seen = &host;
    std::thread([&] { seen = AfxGetThread()->GetMainWnd(); }).join();
    EXPECT_EQ(seen, nullptr);
    AfxGetThread()->m_pMainWnd = nullptr;
}

TEST_F(WindowTest, CursorsLoadOnceAndSetReturnsThePrevious) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursor(nullptr, IDC_ARROW), arrow);
    EXPECT_EQ(LoadCursor(AfxGetResourceHandle(), MAKEINTRESOURCE(54321)), nullptr);
    handpix::ResourceImage img;
    img.width = img.height = 2;
    img.pixels.assign(4, 0xFF000000u);
    handpix::RegisterResourceImage(RT_CURSOR, 54321, img);
    HCURSOR mine = LoadCursor(AfxGetResourceHandle(), MAKEINTRESOURCE(54321));
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(LoadCursor(AfxGetResourceHandle(), MAKEINTRESOURCE(54321)), mine);
    EXPECT_EQ(SetCursor(mine), arrow);  // ResetInput left the arrow
    EXPECT_EQ(GetCursor(), mine);
}

}  // namespace
