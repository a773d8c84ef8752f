#include <chrono>
#include <thread>

#include "tests/photocache/CacheFixture.h"

namespace handpix::test {
namespace {
using Clock = std::chrono::steady_clock;

// Builds through SetPath. The first file of a build can be held until the
// test lets it go, so the test knows a build is under way.
class WorkerTest : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        std::filesystem::create_directory(other);
        for (int i = 0; i < 3; ++i) WriteJpeg(src + "/a" + std::to_string(i) + ".jpg", 80, 60, 40u + static_cast<unsigned>(i));
        for (int i = 0; i < 2; ++i) WriteJpeg(other + "/b" + std::to_string(i) + ".jpg", 60, 80, 50u + static_cast<unsigned>(i));
        MakeList();
        onProgress = [this](const PhotoListProgress& p) {
            if (p.finished) {
                ends.push_back(Clock::now());
                ++builds;
            } else if (p.done == 1) {
                if (builds == 0) held = true;
                while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (builds == 1 && starts.empty()) starts.push_back(Clock::now());
            }
        };
    }
    template <class Cond>
    bool PumpUntil(Cond cond, int ms = 20000) {
        for (auto end = Clock::now() + std::chrono::milliseconds(ms); !cond();) {
            if (Clock::now() > end) return false;
            WaitForMessage(10);
            PumpMessages();
        }
        return true;
    }

    std::string other = tree / "other";
    std::atomic<bool> hold{true}, held{false};
    std::atomic<int> builds{0};
    std::vector<Clock::time_point> ends, starts;  // written by the worker, read after it ends
};

TEST_F(WorkerTest, SetPathDuringABuildWithoutAStopShowsNothingNew) {
    list->SetPath(CString(src));
    ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
    list->SetPath(CString(other));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    hold = false;
    ASSERT_TRUE(PumpUntil([&] { return builds == 1; }));
    PumpUntil([] { return false; }, 400);
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a0.jpg", "a1.jpg", "a2.jpg"}));
    EXPECT_EQ(list->m_strPath, CString(other));
}

TEST_F(WorkerTest, StopThenSetPathSwitchesAfterAtMostOnePoll) {
    list->SetPath(CString(src));
    ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
    list->SetThreadStop(1);
    list->SetPath(CString(other));
    hold = false;
    ASSERT_TRUE(PumpUntil([&] { return builds == 2; }));
    EXPECT_EQ(Names(), (std::vector<std::string>{"b0.jpg", "b1.jpg"}));
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_LT(starts[0] - ends[0], std::chrono::milliseconds(200 + 300));
}

// A paint pass under way (the counter raised) must not drop the request:
// emptying waits for the pass on the item lock instead.
TEST_F(WorkerTest, SetPathWhilePaintingIsNotDropped) {
    hold = false;
    g_nPaintCounter.fetch_add(1);
    list->SetPath(CString(src));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    g_nPaintCounter.fetch_sub(1);
    EXPECT_TRUE(PumpUntil([&] { return builds == 1 && list->GetItemCount() == 3; }, 5000));
}

// A build clears the plain stop request as it starts; the destructor's must
// still end it (here one that waits for another build to end) when the list
// has no window whose end the build could notice.
TEST_F(WorkerTest, DestroyingAListWithoutAWindowEndsItsBuild) {
    list = std::make_unique<CPhotoListCtrl>();
    list->SetCacheRoot(CString(cacheRoot));
    g_nBuildCounter = 0;
    list->SetThreadStop(1);
    list->SetPath(CString(src));
    std::thread release([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        g_nBuildCounter = -1;
    });
    const auto start = Clock::now();
    list.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    release.join();
    EXPECT_FALSE(std::filesystem::exists(Cache("a0.jpg")));
}

TEST_F(WorkerTest, StopRequestWithoutABuildIsClearedByTheNextOne) {
    hold = false;
    list->SetThreadStop(1);
    list->SetPath(CString(src));
    ASSERT_TRUE(PumpUntil([&] { return builds == 1; }));
    EXPECT_EQ(list->GetThreadStop(), 0);
    EXPECT_EQ(list->GetItemCount(), 3);
}

TEST_F(WorkerTest, FinishedWorkersAreJoinedByTheNextSetPath) {
    hold = false;
    for (int n = 1; n <= 6; ++n) {
        list->SetPath(CString(n % 2 ? src : other));
        ASSERT_TRUE(PumpUntil([&] { return builds == n; }));
        std::lock_guard<std::mutex> lock(list->m_workersMutex);
        // The one just started, and the one before when it had not yet returned.
        EXPECT_LE(list->m_workers.size(), 2u);
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"b0.jpg", "b1.jpg"}));
}

}  // namespace
}  // namespace handpix::test
