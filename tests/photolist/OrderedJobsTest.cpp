#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "handpix/photolist/OrderedJobs.h"

namespace {
using handpix::OrderedJobs;

struct Case {
    std::size_t count;
    int helpers;
    std::size_t stopAt;  // the caller stops taking results here (count: never)
};

class OrderedJobsTest : public ::testing::TestWithParam<Case> {};

// Every result the caller takes is whole and in order; every job runs at most
// once; after the stop at most one job a helper had already decided on starts.
TEST_P(OrderedJobsTest, ResultsArriveInOrderAndNothingRunsTwice) {
    const Case c = GetParam();
    std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[c.count + 1]);
    std::vector<int> result(c.count, -1);
    std::atomic<bool> going{true};
    std::atomic<int> startedAfterStop{0};
    std::size_t taken = 0;
    {
        OrderedJobs jobs(
            c.count, c.helpers,
            [&](std::size_t i, int helper) {
                if (!going) ++startedAfterStop;
                ++runs[i];
                volatile int spin = 0;
                for (int k = 0; k < static_cast<int>(i % 7) * 200; ++k) spin = spin + k;
                result[i] = static_cast<int>(i) * 3 + (helper > c.helpers ? 1000 : 0);
            },
            [&] { return going.load(); });
        for (; taken < c.count; ++taken) {
            if (taken == c.stopAt) {
                going = false;
                break;
            }
            ASSERT_TRUE(jobs.WaitFor(taken));
            EXPECT_EQ(result[taken], static_cast<int>(taken) * 3);
        }
    }
    EXPECT_EQ(taken, std::min(c.count, c.stopAt));
    for (std::size_t i = 0; i < c.count; ++i) EXPECT_LE(runs[i].load(), 1) << i;
    for (std::size_t i = 0; i < taken; ++i) EXPECT_EQ(runs[i].load(), 1) << i;
    EXPECT_LE(startedAfterStop.load(), c.helpers);
}

INSTANTIATE_TEST_SUITE_P(Shapes, OrderedJobsTest,
                         ::testing::Values(Case{0, 1, 0}, Case{1, 0, 1}, Case{1, 3, 1}, Case{7, 1, 7}, Case{200, 1, 200},
                                           Case{200, 3, 200}, Case{200, 0, 50}, Case{200, 1, 3}, Case{200, 3, 0}));

TEST(OrderedJobs, AStoppedJobIsReportedAsNeverRun) {
    std::atomic<bool> going{true};
    OrderedJobs jobs(5, 0, [&](std::size_t i, int) { if (i == 1) going = false; }, [&] { return going.load(); });
    EXPECT_TRUE(jobs.WaitFor(0));
    EXPECT_TRUE(jobs.WaitFor(1));
    EXPECT_FALSE(jobs.WaitFor(2));
    EXPECT_FALSE(jobs.WaitFor(5));
}
}  // namespace
