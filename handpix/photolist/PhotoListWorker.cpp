// The list's worker: one per SetPath. At most one build runs in the process;
// a worker that finds one running leaves at once unless the host asked the
// running build to stop, in which case it waits for that build to end.
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
}  // namespace

UINT PhotoListThreadProc(LPVOID pParam) {
    auto* list = static_cast<CPhotoListCtrl*>(pParam);
    if (list->GetThreadStop() == 0) {
        // Without a stop request a busy process drops this SetPath.
        if (!TryRaise(g_nBuildCounter)) return 0;
        if (g_nPaintCounter.load() != -1) {
            g_nBuildCounter.store(-1);
            return 0;
        }
    } else {
        HWND window;
        {
            std::lock_guard<std::mutex> lock(list->m_workersMutex);
            window = list->m_hBuildWnd;
        }
        while (!TryRaise(g_nBuildCounter)) {
            // A list destroyed meanwhile has nothing left to build.
            if (window && !IsWindow(window)) return 0;
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
    std::lock_guard<std::mutex> lock(m_workersMutex);
    m_hBuildWnd = m_hWnd;
    m_workers.push_back(std::unique_ptr<CWinThread>(
        AfxBeginThread(PhotoListThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0, nullptr)));
}

void CPhotoListCtrl::SetThreadStop(int nStop) { m_nThreadStop = nStop; }

int CPhotoListCtrl::GetThreadStop() { return m_nThreadStop; }
