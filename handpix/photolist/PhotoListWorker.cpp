// The list's worker: one per SetPath. At most one build runs in the process;
// a worker that finds one running leaves at once unless the host asked the
// running build to stop, in which case it waits for that build to end.
//
// Fix: a paint pass under way no longer drops the request. The item lock
// already keeps painting and emptying apart, so the worker just waits for the
// pass; the folder it builds is the one last given to SetPath.
#include <algorithm>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/windows/Desktop.h"

std::atomic<int> g_nPaintCounter{-1};
std::atomic<int> g_nBuildCounter{-1};

namespace {
constexpr DWORD kPollMilliseconds = 200;

// Test and raise in one step, so two workers never both see the process idle.
bool TryRaise(std::atomic<int>& counter) {
    int idle = -1;
    return counter.compare_exchange_strong(idle, 0);
}

// Tells the list on every way out that this worker is done, so the next
// SetPath can join it instead of keeping it until the list goes.
class FinishedMark {
public:
    explicit FinishedMark(CPhotoListCtrl* list) : m_list(list) {}
    ~FinishedMark() {
        const CWinThread* self = AfxGetThread();
        std::lock_guard<std::mutex> lock(m_list->m_workersMutex);
        for (const auto& worker : m_list->m_workers)
            if (worker.get() == self) m_list->m_finishedWorkers.push_back(self);
    }
    FinishedMark(const FinishedMark&) = delete;
    FinishedMark& operator=(const FinishedMark&) = delete;

private:
    CPhotoListCtrl* m_list;
};
}  // namespace

UINT PhotoListThreadProc(LPVOID pParam) {
    auto* list = static_cast<CPhotoListCtrl*>(pParam);
    FinishedMark mark(list);
    if (list->m_bClosing) return 0;
    if (list->GetThreadStop() == 0) {
        // Without a stop request a build under way drops this SetPath.
        if (!TryRaise(g_nBuildCounter)) return 0;
    } else {
        HWND window;
        {
            std::lock_guard<std::mutex> lock(list->m_workersMutex);
            window = list->m_hBuildWnd;
        }
        while (!TryRaise(g_nBuildCounter)) {
            // A list destroyed meanwhile has nothing left to build.
            if (list->m_bClosing || (window && !IsWindow(window))) return 0;
            Sleep(kPollMilliseconds);
        }
    }
    // Painting holds the item lock for its pass, so emptying waits for a pass
    // already under way; the counter keeps later passes to the background.
    g_nPaintCounter.fetch_add(1);
    list->DeleteAllItems();
    g_nPaintCounter.fetch_sub(1);
    list->InitPhotoList();
    g_nBuildCounter.store(-1);
    return 0;
}

void CPhotoListCtrl::SetPath(CString path) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_strPath = path;
        m_nVPos = 0;
    }
    std::vector<std::unique_ptr<CWinThread>> finished;  // joined after the lock is let go
    std::lock_guard<std::mutex> lock(m_workersMutex);
    m_hBuildWnd = GetSafeHwnd();
    for (const CWinThread* done : m_finishedWorkers) {
        auto it = std::find_if(m_workers.begin(), m_workers.end(), [done](const auto& w) { return w.get() == done; });
        if (it == m_workers.end()) continue;
        finished.push_back(std::move(*it));
        m_workers.erase(it);
    }
    m_finishedWorkers.clear();
    m_workers.push_back(std::unique_ptr<CWinThread>(
        AfxBeginThread(PhotoListThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0, nullptr)));
}

void CPhotoListCtrl::SetThreadStop(int nStop) { m_nThreadStop = nStop; }

int CPhotoListCtrl::GetThreadStop() { return m_nThreadStop; }
