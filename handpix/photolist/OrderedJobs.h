// Jobs numbered 0..n-1 run on the calling thread and on helper threads, while
// the caller takes their results strictly in order: WaitFor(i) returns once
// job i is done, running unclaimed jobs itself meanwhile, so nothing is lost
// when no helper gets a core.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace handpix {

class OrderedJobs {
public:
    // work(i, helper): helper is 0 for the caller, 1.. for the helper threads,
    // so each thread can keep its own working state. keepGoing is asked before
    // every job a thread claims; once false, no job starts any more.
    using Work = std::function<void(std::size_t, int)>;
    OrderedJobs(std::size_t count, int helpers, Work work, std::function<bool()> keepGoing);
    // Stops claiming and joins the helpers; jobs under way finish first.
    ~OrderedJobs();
    OrderedJobs(const OrderedJobs&) = delete;
    OrderedJobs& operator=(const OrderedJobs&) = delete;

    // False when job i was never run (the jobs were stopped before it).
    // Results of a job are seen by the caller once WaitFor(i) returns true.
    bool WaitFor(std::size_t i);
    // Helpers worth starting beside the caller on this machine.
    static int HelpersForMachine();

private:
    // Runs one claimed job; false when there was none to claim.
    bool RunNext(int helper);
    bool Done(std::size_t i);

    const std::size_t m_count;
    Work m_work;
    std::function<bool()> m_keepGoing;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_stopped{false};
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::vector<bool> m_done;  // by job; guarded by m_mutex
    std::vector<std::thread> m_helpers;
};

}  // namespace handpix
