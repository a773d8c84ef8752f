#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "handpix/photolist/DecodedThumbnails.h"
#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/windows/Desktop.h"
#include "tests/enhance/Recorder.h"
#include "tests/picture/Canvas.h"
#include "tests/support/DrawSamples.h"
#include "tests/support/WindowRecorder.h"

namespace {
namespace fs = std::filesystem;
using handpix::test::WindowRecorder;

constexpr std::uint32_t kWhitePx = 0x00FFFFFF;
const std::uint32_t kSelectedPx = handpix::PixelOf(RGB(178, 180, 191));
constexpr DWORD kBars = WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL;

struct CountingItem : CPhotoItem {
    int draws = 0;
    void Draw(CDC* pDC) override {
        ++draws;
        CPhotoItem::Draw(pDC);
    }
};

// The list sits at (10, 10) in a host window at (100, 50) on the screen.
class ListTest : public ::testing::Test {
protected:
    void SetUp() override { handpix::ResetInput(); }
    void TearDown() override {
        list.reset();
        handpix::PumpMessages();
        handpix::ResetInput();
    }

    void Make(int width, int height, int items, DWORD style = kBars) {
        list = std::make_unique<CPhotoListCtrl>();
        ASSERT_TRUE(list->Create(nullptr, "", style, CRect(10, 10, 10 + width, 10 + height), &host, 100));
        for (int i = 0; i < items; ++i) {
            auto* item = new CountingItem;
            item->m_strName.Format("photo%d.jpg", i + 1);
            list->AddTail(item);
            this->items.push_back(item);
        }
        list->Invalidate(FALSE);
        Pump();
        host.Clear();
    }
    void Pump() { handpix::PumpMessages(); }
    // Client point at the middle of item i (1-based) with the view unscrolled.
    CPoint Mid(int i) const { return items[static_cast<std::size_t>(i - 1)]->GetRect().CenterPoint(); }
    void Press(UINT message, CPoint p) {
        handpix::PostMouse(list.get(), message, p);
        Pump();
    }
    void Click(CPoint p, bool ctrl = false) {
        handpix::SetKeyState(VK_CONTROL, ctrl);
        Press(WM_LBUTTONDOWN, p);
        Press(WM_LBUTTONUP, p);
        handpix::SetKeyState(VK_CONTROL, false);
    }
    int Selected() const {
        int n = 0;
        for (CountingItem* it : items) n += it->GetSelect();
        return n;
    }
    void ResetDraws() {
        for (CountingItem* it : items) it->draws = 0;
    }
    SCROLLINFO Bar(int bar) const {
        SCROLLINFO si{};
        list->GetScrollInfo(bar, &si);
        return si;
    }
    void Scroll(UINT message, UINT code, int pos = 0) {
        list->PostMessage(message, MAKEWPARAM(static_cast<int>(code), pos), 0);
        Pump();
    }

    WindowRecorder host;
    std::unique_ptr<CPhotoListCtrl> list;
    std::vector<CountingItem*> items;  // owned by the list
};

// Seven items in three columns; client 363 x 283.
class Grid : public ListTest {
protected:
    void SetUp() override {
        ListTest::SetUp();
        Make(380, 300, 7);
    }
};

TEST_F(ListTest, ColumnsFollowTheClientWidth) {
    Make(480, 300, 5, WS_CHILD | WS_VISIBLE);
    for (auto [width, columns] : {std::pair{119, 1}, {239, 1}, {240, 2}, {480, 4}, {359, 2}, {360, 3}}) {
        list->MoveWindow(10, 10, width, 300);
        Pump();
        EXPECT_EQ(list->m_nColumns, columns) << width;
        EXPECT_EQ(items[4]->GetRect().left, (4 % columns) * 120 + 25) << width;
    }
}

TEST_F(Grid, SevenItemsInThreeColumns) {
    EXPECT_EQ(list->m_nColumns, 3);
    EXPECT_EQ(list->m_cxVirtual, 385);
    EXPECT_EQ(list->m_cyVirtual, 490);
    EXPECT_EQ(items[4]->GetRect(), CRect(145, 180, 245, 315));
    EXPECT_EQ(items[6]->GetRect(), CRect(25, 335, 125, 470));
    EXPECT_EQ(Bar(SB_VERT).nMax, 489);
    EXPECT_EQ(Bar(SB_VERT).nPage, 300u);  // the window height, bars included
    EXPECT_EQ(Bar(SB_HORZ).nMax, 384);
    EXPECT_EQ(Bar(SB_HORZ).nPage, 363u);  // the client width
    EXPECT_EQ(list->GetItemCount(), 7);
}

TEST_F(Grid, RelayoutCapsOnePixelShortOfWhatScrollingAllows) {
    Scroll(WM_VSCROLL, SB_THUMBTRACK, 400);
    EXPECT_EQ(list->m_nVPos, 190);
    list->Redraw(TRUE);
    EXPECT_EQ(list->m_nVPos, 189);
}

TEST_F(ListTest, ZeroPageLetsLinesReachTheFullGridHeight) {
    Make(380, 500, 7);  // window 500 >= grid 490, client 483 < 490
    EXPECT_EQ(list->m_nVPage, 0);
    EXPECT_EQ(Bar(SB_VERT).nMax, 489);
    Scroll(WM_VSCROLL, SB_PAGEDOWN);
    EXPECT_EQ(list->m_nVPos, 0);
    for (int e : {120, 240, 360, 480, 490, 490}) {
        Scroll(WM_VSCROLL, SB_LINEDOWN);
        EXPECT_EQ(list->m_nVPos, e);
    }
}

TEST_F(ListTest, ScrollRequestsMoveAndClamp) {
    Make(260, 300, 7);  // two columns: grid 265 x 645; client 243 x 283
    struct Step {
        UINT message, code;
        int pos, hpos, vpos;
    } steps[] = {
        {WM_VSCROLL, SB_THUMBPOSITION, 100, 0, 0},  // does not move the view
        {WM_VSCROLL, SB_THUMBTRACK, 100, 0, 100},
        {WM_VSCROLL, SB_PAGEDOWN, 0, 0, 345},       // virtual 645 less page 300
        {WM_VSCROLL, SB_PAGEUP, 0, 0, 45},
        {WM_VSCROLL, SB_LINEUP, 0, 0, 0},
        {WM_VSCROLL, SB_LINEUP, 0, 0, 0},
        {WM_VSCROLL, 8 /* SB_ENDSCROLL */, 0, 0, 0},
        {WM_HSCROLL, SB_LINEDOWN, 0, 22, 0},        // 265 less page 243
        {WM_HSCROLL, SB_LINEUP, 0, 0, 0},
    };
    for (const Step& s : steps) {
        Scroll(s.message, s.code, s.pos);
        EXPECT_EQ(list->m_nHPos, s.hpos) << s.code;
        EXPECT_EQ(list->m_nVPos, s.vpos) << s.code;
    }
    EXPECT_EQ(list->GetScrollPos(SB_HORZ), 0);
}

TEST_F(Grid, OneWheelMessageIsOneLineWhateverItsDelta) {
    for (auto [delta, vpos] : {std::pair{-360, 120}, std::pair{30, 0}}) {
        handpix::PostWheel(list.get(), delta, CPoint(50, 50));
        Pump();
        EXPECT_EQ(list->m_nVPos, vpos);
    }
    EXPECT_TRUE(host.Of(WM_MOUSEWHEEL).empty());
}

TEST_F(Grid, LeftPressSelectsOnlyTheItemAndChecksThePrevious) {
    Click(Mid(2));
    Click(Mid(3), true);  // Ctrl adds item 3
    host.Clear();
    Click(Mid(4));
    EXPECT_EQ(Selected(), 1);
    EXPECT_TRUE(items[3]->GetSelect());
    EXPECT_TRUE(items[1]->GetCheck());
    EXPECT_TRUE(items[2]->GetCheck());
    EXPECT_FALSE(items[0]->GetCheck());
    ASSERT_EQ(list->GetSelectedList()->GetCount(), 1);
    EXPECT_EQ(list->GetSelectedList()->GetAt(items[3]->m_posSelected), items[3]);
    auto clicks = host.Of(WM_PHOTOLIST_CLICK);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].wParam, reinterpret_cast<WPARAM>(items[3]));
    list->RemoveCheckItem();
    EXPECT_FALSE(items[1]->GetCheck());
}

TEST_F(Grid, PressOnTheSelectionArmsADragBeyondFivePixels) {
    Click(Mid(5));
    host.Clear();
    CPoint p = Mid(5) + CPoint(3, 3);
    Press(WM_LBUTTONDOWN, p);
    EXPECT_TRUE(host.Of(WM_PHOTOLIST_CLICK).empty());
    EXPECT_EQ(list->m_ptDown, p);
    const struct {
        CPoint offset;
        bool drag;
    } moves[] = {{{5, 0}, false}, {{0, -5}, false}, {{5, 5}, false}, {{6, 0}, true}, {{0, -6}, true}};
    for (const auto& m : moves) {
        host.Clear();
        Press(WM_MOUSEMOVE, p + m.offset);
        EXPECT_EQ(host.Of(WM_PHOTOLIST_DRAG).size(), m.drag ? 1u : 0u) << m.offset.x << "," << m.offset.y;
    }
    Press(WM_LBUTTONUP, p);
    host.Clear();
    Press(WM_MOUSEMOVE, p + CPoint(50, 0));  // no button: nothing
    EXPECT_TRUE(host.Of(WM_PHOTOLIST_DRAG).empty());
}

TEST_F(Grid, PressOnEmptySpaceClearsUnlessCtrlAndAlwaysTells) {
    for (bool ctrl : {true, false}) {
        Click(Mid(1));
        host.Clear();
        Click(CPoint(10, 10), ctrl);
        EXPECT_EQ(Selected(), ctrl ? 1 : 0);
        EXPECT_EQ(list->GetSelectedList()->GetCount(), ctrl ? 1 : 0);
        auto clicks = host.Of(WM_PHOTOLIST_CLICK);
        ASSERT_EQ(clicks.size(), 1u);
        EXPECT_EQ(clicks[0].wParam, 0u);
        EXPECT_EQ(list->m_pCurItem, nullptr);
    }
}

TEST_F(Grid, CtrlPressTogglesEvenAfterSelectAll) {
    Click(Mid(3), true);
    Click(Mid(6), true);
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 2);
    Click(Mid(3), true);
    EXPECT_FALSE(items[2]->GetSelect());
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 1);
    EXPECT_EQ(list->SelectAll(), 7);
    Click(Mid(1), true);
    EXPECT_FALSE(items[0]->GetSelect());
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 6);
    EXPECT_FALSE(list->GetSelectedList()->Find(items[0]));
    EXPECT_EQ(host.Of(WM_PHOTOLIST_CLICK).size(), 4u);
}

TEST_F(Grid, RightPressSelectsAnUnselectedItemAndSendsTheScreenPoint) {
    const struct {
        CPoint at;
        int item;        // 0: empty space
        bool selectsIt;  // the press makes it the single selection
    } cases[] = {{CPoint(150, 200), 5, true}, {CPoint(150, 201), 5, false}, {CPoint(5, 5), 0, false}};
    for (const auto& c : cases) {
        host.Clear();
        Press(WM_RBUTTONDOWN, c.at);
        Press(WM_RBUTTONUP, c.at);
        auto r = host.Of(WM_PHOTOLIST_RCLICK);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].wParam, c.selectsIt ? reinterpret_cast<WPARAM>(items[4]) : 0u);
        EXPECT_EQ(GET_X_LPARAM(r[0].lParam), 100 + 10 + c.at.x);
        EXPECT_EQ(GET_Y_LPARAM(r[0].lParam), 50 + 10 + c.at.y);
        EXPECT_EQ(Selected(), 1);
        EXPECT_TRUE(items[4]->GetSelect());
        EXPECT_EQ(list->m_pCurItem, items[4]);
    }
}

TEST_F(Grid, CtrlASelectsAllAndDeleteOnlyAsksTheParent) {
    list->SetFocus();
    handpix::PostKey(list.get(), VK_CONTROL, true);
    handpix::PostKey(list.get(), 'A', true);
    handpix::PostKey(list.get(), 'A', false);
    handpix::PostKey(list.get(), VK_CONTROL, false);
    Pump();
    EXPECT_EQ(Selected(), 7);
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 7);
    handpix::PostKey(list.get(), 'A', true);  // without Ctrl: nothing
    handpix::PostKey(list.get(), VK_DELETE, true);
    Pump();
    EXPECT_EQ(host.Of(WM_PHOTOLIST_DELETE).size(), 1u);
    EXPECT_EQ(list->GetItemCount(), 7);
    EXPECT_TRUE(host.Of(WM_PHOTOLIST_CLICK).empty());
}

TEST_F(Grid, CursorIsTheHandOverItems) {
    ASSERT_NE(list->m_hHandCursor, nullptr);
    ASSERT_NE(list->m_hHandCursor, list->m_hArrowCursor);
    Press(WM_MOUSEMOVE, Mid(2));
    EXPECT_EQ(GetCursor(), list->m_hHandCursor);
    Press(WM_MOUSEMOVE, CPoint(130, 30));  // the gap between items 1 and 2
    EXPECT_EQ(GetCursor(), list->m_hArrowCursor);
    Scroll(WM_VSCROLL, SB_LINEDOWN);  // item 4 now lies under client (30, 60 + 120 - 120)
    Press(WM_MOUSEMOVE, CPoint(30, 61));
    EXPECT_EQ(GetCursor(), list->m_hHandCursor);
}

TEST_F(Grid, PaintShowsTheSelectionAndDrawsOnlyDamagedItems) {
    for (int i = 0; i < 7; ++i)  // item 7 lies below the client area
        EXPECT_EQ(items[static_cast<std::size_t>(i)]->draws > 0, i < 6) << i;
    Click(Mid(1));
    const handpix::Surface& s = *list->GetSurface();
    EXPECT_EQ(s.At(25, 25), kSelectedPx);
    EXPECT_EQ(s.At(75, 126), kSelectedPx);
    EXPECT_EQ(s.At(145, 25), kWhitePx);
    EXPECT_EQ(s.At(10, 10), kWhitePx);  // the background brush

    ResetDraws();
    CRect cell = items[4]->GetRect();
    cell.DeflateRect(30, 30);
    list->InvalidateRect(&cell, FALSE);
    Pump();
    for (int i = 0; i < 7; ++i) EXPECT_EQ(items[static_cast<std::size_t>(i)]->draws, i == 4 ? 1 : 0) << i;
}

TEST_F(Grid, ScrollingMovesPixelsAndRepaintsOnlyTheStrip) {
    Click(Mid(5));
    const handpix::Surface& s = *list->GetSurface();
    std::vector<std::uint32_t> before(s.Row(0), s.Row(0) + 363 * 283);
    ResetDraws();
    Scroll(WM_VSCROLL, SB_LINEDOWN);
    ASSERT_EQ(list->m_nVPos, 120);
    for (int y = 0; y < 283 - 120; ++y)
        ASSERT_TRUE(std::equal(s.Row(y), s.Row(y) + 363, before.begin() + (y + 120) * 363)) << y;
    const int expected[] = {0, 0, 0, 1, 1, 1, 1};  // the strip is list rows 283..403
    for (int i = 0; i < 7; ++i) EXPECT_EQ(items[static_cast<std::size_t>(i)]->draws, expected[i]) << i;
    EXPECT_EQ(s.At(145, 180 - 120), kSelectedPx);  // item 5 moved up a line
}

TEST_F(Grid, PaintWhileAnotherPassRunsShowsOnlyTheBackground) {
    ResetDraws();
    g_nPaintCounter = 0;
    list->Invalidate(FALSE);
    Pump();
    g_nPaintCounter = -1;
    for (CountingItem* it : items) EXPECT_EQ(it->draws, 0);
    EXPECT_EQ(list->GetSurface()->At(25, 25), kWhitePx);
}

TEST_F(Grid, DeletingItemsLeavesNoDanglingSelection) {
    EXPECT_FALSE(list->AddTail(nullptr));
    EXPECT_FALSE(list->DeleteItem(nullptr));
    CountingItem stranger;
    EXPECT_FALSE(list->DeleteItem(&stranger));
    Click(Mid(2));
    EXPECT_TRUE(list->DeleteItem(items[1]));
    EXPECT_EQ(list->m_nItems, 6);
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 0);
    EXPECT_EQ(list->m_pCurItem, nullptr);
    EXPECT_EQ(items[2]->GetRect(), CRect(265, 25, 365, 160));  // no relayout
    list->SelectAll();
    list->DeleteAllItems();
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 0);
    EXPECT_EQ(list->m_cyVirtual, 25);
    items.clear();
}

TEST_F(ListTest, DeleteProcDeletesTheSelectedFilesAndReportsWhatCannotGo) {
    fs::path dir = fs::temp_directory_path() / ("handpix_delete_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* n : {"a.jpg", "b.jpg", "c.jpg", "other.txt"}) std::ofstream(dir / n) << n;
    MessageRecorder rec;
    list = std::make_unique<CPhotoListCtrl>();
    ASSERT_TRUE(list->Create(nullptr, "", kBars, CRect(10, 10, 390, 310), &host, 100));
    for (const char* n : {"a.jpg", "b.jpg", "c.jpg", "gone.jpg"})
        list->AddTail(new CPictureItem(CString((dir / n).string().c_str())));
    Pump();
    auto item = [&](int i) { return static_cast<CPhotoItem*>(list->m_listItems.GetAt(list->m_listItems.FindIndex(i - 1))); };
    list->DeleteProc();  // nothing selected: nothing happens to the files
    EXPECT_EQ(list->GetItemCount(), 4);
    Click(item(1)->GetRect().CenterPoint());
    Click(item(3)->GetRect().CenterPoint(), true);
    list->DeleteProc();
    EXPECT_FALSE(fs::exists(dir / "a.jpg"));
    EXPECT_TRUE(fs::exists(dir / "b.jpg"));
    EXPECT_FALSE(fs::exists(dir / "c.jpg"));
    EXPECT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetSelectedList()->GetCount(), 0);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(item(1)->GetRect(), CRect(25, 25, 125, 160));  // relaid out: b.jpg moved into the first cell
    // A file that cannot be deleted is reported once and the rest go.
    list->SelectAll();
    list->DeleteProc();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_NE(rec.boxes[0].text.find("gone.jpg"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "b.jpg"));
    EXPECT_TRUE(fs::exists(dir / "other.txt"));
    EXPECT_EQ(list->GetItemCount(), 0);
    fs::remove_all(dir);
}

TEST(PhotoList, RunDirectoryIsTheExecutablesFolder) {
    CPhotoListCtrl list;
    char buf[_MAX_PATH];
    std::string dir = list.GetRunDirectory(buf);
    EXPECT_EQ(dir, fs::read_symlink("/proc/self/exe").parent_path().string() + "/");
}

// A worker appends, invalidates and empties while the window thread paints,
// scrolls and walks the selection as a host does: the shape of a build,
// minus the files.
TEST_F(ListTest, AppendingFromAnotherThreadWhilePaintingIsSafe) {
    Make(380, 300, 0);
    std::atomic<bool> done{false};
    std::atomic<int> walks{0};
    std::thread worker([&] {
        // Until the window thread has walked the selection a few times, so the two overlap.
        for (int round = 0; round < 3 || walks < 20; ++round) {
            for (int i = 0; i < 40; ++i) {
                auto* item = new CPhotoItem;
                item->m_strName = "x.jpg";
                CRect cell;
                {
                    auto lock = list->LockItems();  // a relayout may move the cell meanwhile
                    list->AddTail(item);
                    cell = item->GetRect();
                }
                list->InvalidateRect(&cell, FALSE);
            }
            g_nPaintCounter.fetch_add(1);
            list->DeleteAllItems();
            g_nPaintCounter.fetch_sub(1);
        }
        done = true;
    });
    while (!done) {
        handpix::WaitForMessage(5);
        list->PostMessage(WM_VSCROLL, SB_LINEDOWN, 0);
        handpix::PumpMessages();
        list->SelectAll();
        auto lock = list->LockItems();  // the worker empties the selection when a build starts
        CObList* selected = list->GetSelectedList();
        for (POSITION pos = selected->GetHeadPosition(); pos;)
            EXPECT_EQ(static_cast<CPhotoItem*>(selected->GetNext(pos))->m_strName.GetLength(), 5);
        ++walks;
    }
    worker.join();
    handpix::PumpMessages();
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_LE(list->m_nVPos, 25);  // a late line request may still move the empty grid
}

// Items hold no pixels: a tile reads its thumbnail when painted, through a
// shared cache bounded by bytes. Far away and back, after eviction, the tiles
// are the pixels a picture loaded into the item draws, and a thumbnail remade
// or removed under the same name shows as it now is.
TEST_F(ListTest, ThumbnailsDecodedOnDemandPaintAsLoadedOnesWithinTheBudget) {
    const fs::path dir = fs::temp_directory_path() / ("handpix_ondemand_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    constexpr int kItems = 90;  // 30 rows of 3; two rows show at a time
    auto thumb = [&](int i) { return (dir / ("t" + std::to_string(i) + ".jpg")).string(); };
    auto write = [&](int i, int shade) {
        ASSERT_TRUE(handpix::test::WriteBytes(thumb(i), handpix::test::MakeJpeg(100, 75, [=](int x, int y) {
            return RGB((x * 2 + shade) & 0xFF, (y * 3 + i) & 0xFF, (shade * 5) & 0xFF);
        })));
    };
    for (int i = 0; i < kItems; ++i) write(i, i * 7);
    const std::size_t budget = 4 * 2 * 100 * 75 * 4;  // three pictures: less than a screen
    handpix::SetDecodedThumbnailBudget(budget);
    handpix::ClearDecodedThumbnails();
    Make(380, 300, 0);
    for (int i = 0; i < kItems; ++i) {
        auto* item = new CountingItem;
        item->m_strName.Format("t%d.jpg", i);
        CString path(thumb(i));
        item->SetPictureFile(path);
        list->AddTail(item);
        items.push_back(item);
    }
    list->Invalidate(FALSE);
    Pump();
    const handpix::Surface& s = *list->GetSurface();
    auto tile = [&](int i) {  // item i's tile as the list shows it, unscrolled
        std::vector<std::uint32_t> px;
        CRect r = items[static_cast<std::size_t>(i)]->GetRect();
        for (int y = r.top; y < r.top + 100; ++y) px.insert(px.end(), s.Row(y) + r.left, s.Row(y) + r.right);
        return px;
    };
    auto loaded = [&](int i) {  // the same tile from a picture loaded into the item itself
        CPhotoItem item;
        item.m_strName = items[static_cast<std::size_t>(i)]->m_strName;
        item.m_picture.SetPicture(CString(thumb(i)));
        item.SetRect(CRect(0, 0, 100, 135));
        Canvas canvas(100, 135, RGB(0, 0, 255));
        item.Draw(&canvas.dc);
        std::vector<std::uint32_t> px;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) px.push_back(handpix::PixelOf(canvas.At(x, y)));
        return px;
    };
    for (int i = 0; i < 2; ++i) EXPECT_EQ(tile(i), loaded(i)) << i;  // the third runs past the client
    const std::vector<std::uint32_t> first(s.Row(0), s.Row(0) + 363 * 283);

    const std::size_t decodes = handpix::GetDecodedThumbnailUsage().decodes;
    Scroll(WM_VSCROLL, SB_THUMBTRACK, list->m_cyVirtual);
    Scroll(WM_VSCROLL, SB_THUMBTRACK, 0);
    EXPECT_EQ(std::vector<std::uint32_t>(s.Row(0), s.Row(0) + 363 * 283), first);
    const handpix::DecodedThumbnailUsage usage = handpix::GetDecodedThumbnailUsage();
    EXPECT_EQ(usage.decodes - decodes, 12u);  // the last two rows, then the first two again
    EXPECT_LE(usage.bytes, budget);
    for (CountingItem* it : items) EXPECT_EQ(static_cast<IPicture*>(it->m_picture), nullptr);
    EXPECT_EQ(items[0]->m_picture.GetImageSize(), CSize(100, 75));  // the size stays from the paint

    handpix::SetDecodedThumbnailBudget(handpix::kDecodedThumbnailBytes);
    list->Invalidate(FALSE);
    Pump();  // the screen's pictures now stay cached
    write(0, 200);  // remade in place: another picture under the same name
    fs::remove(thumb(1));
    list->Invalidate(FALSE);
    Pump();
    EXPECT_EQ(tile(0), loaded(0));
    EXPECT_EQ(s.At(195, 75), kWhitePx);  // item 2's square is empty
    fs::remove_all(dir);
}

}  // namespace
