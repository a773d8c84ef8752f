#include "handpix/photolist/OrderedJobs.h"

#include <algorithm>

namespace handpix {

namespace {
// More threads than this only add memory: every one may hold a large
// picture while it makes a thumbnail.
constexpr int kMaxHelpers = 3;
}  // namespace

int OrderedJobs::HelpersForMachine() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores - 1, 0, kMaxHelpers);
}

OrderedJobs::OrderedJobs(std::size_t count, int helpers, Work work, std::function<bool()> keepGoing)
    : m_count(count), m_work(std::move(work)), m_keepGoing(std::move(keepGoing)), m_done(count, false) {
    helpers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(helpers, 0)), count / 2));
    for (int h = 1; h <= helpers; ++h)
        m_helpers.emplace_back([this, h] {
            while (RunNext(h)) {
            }
        });
}

OrderedJobs::~OrderedJobs() {
    m_stopped = true;
    for (std::thread& t : m_helpers) t.join();
}

bool OrderedJobs::RunNext(int helper) {
    if (m_stopped.load() || (m_keepGoing && !m_keepGoing())) {
        m_stopped = true;
        return false;
    }
    const std::size_t i = m_next.fetch_add(1);
    if (i >= m_count) return false;
    m_work(i, helper);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done[i] = true;
    }
    m_finished.notify_all();
    return true;
}

bool OrderedJobs::Done(std::size_t i) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_done[i];
}

bool OrderedJobs::WaitFor(std::size_t i) {
    if (i >= m_count) return false;
    // A claimed job always runs to its end; until job i is done, this thread
    // runs unclaimed jobs itself, and waits only when none is left to it.
    while (!Done(i)) {
        if (RunNext(0)) continue;
        if (m_next.load() <= i) return false;  // stopped before anyone claimed it
        std::unique_lock<std::mutex> lock(m_mutex);
        m_finished.wait(lock, [&] { return m_done[i]; });
    }
    return true;
}

}  // namespace handpix
