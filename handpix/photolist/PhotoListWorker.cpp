// Stand-in until the worker lands: the counters, the stop request, and a
// SetPath that only stores the folder.
#include "handpix/photolist/PhotoListCtrl.h"

std::atomic<int> g_nPaintCounter{-1};
std::atomic<int> g_nBuildCounter{-1};

void CPhotoListCtrl::SetPath(CString path) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_strPath = path;
    m_nVPos = 0;
}

void CPhotoListCtrl::SetThreadStop(int nStop) { m_nThreadStop = nStop; }

int CPhotoListCtrl::GetThreadStop() { return m_nThreadStop; }
