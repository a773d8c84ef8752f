// CWinThread, AfxBeginThread and AfxGetThread over std::thread. Every thread
// has one CWinThread (made on first use for threads we did not start), whose
// main window the host sets on its user-interface thread.
#pragma once
#include <chrono>
#include <memory>
#include <thread>

#include "handpix/platform/core/Types.h"

class CWnd;
using LPVOID = void*;
using AFX_THREADPROC = UINT (*)(LPVOID);

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr DWORD CREATE_SUSPENDED = 0x4;

class CWinThread {
public:
    CWinThread() = default;
    // Joins the thread: whoever owns the object waits for the thread to end,
    // so nothing the thread uses is freed under it. A thread that deletes its
    // own object is let go instead, as it cannot wait for itself.
    virtual ~CWinThread() {
        Join();
        if (m_thread.joinable()) m_thread.detach();
    }
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    virtual CWnd* GetMainWnd() { return m_pMainWnd; }
    // Addition: waits for the thread's function to return (no-op when done or never started).
    void Join() {
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
    }
    bool IsRunning() const { return m_thread.joinable(); }

    CWnd* m_pMainWnd = nullptr;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, void*);
    static CWinThread*& Current() {
        thread_local CWinThread* current = nullptr;
        return current;
    }
    friend CWinThread* AfxGetThread();
    std::thread m_thread;
};

// The calling thread's object.
inline CWinThread* AfxGetThread() {
    CWinThread*& cur = CWinThread::Current();
    if (!cur) {
        // Threads we did not start get one object each, freed when the thread ends.
        thread_local std::unique_ptr<CWinThread> own(new CWinThread);
        cur = own.get();
    }
    return cur;
}

// Starts pfn(param) at once. Unlike MFC the object does not delete itself: the
// caller owns it and deleting it joins the thread (priority, stack size,
// flags and security are accepted and ignored).
inline CWinThread* AfxBeginThread(AFX_THREADPROC pfn, LPVOID param, int nPriority = THREAD_PRIORITY_NORMAL,
                                  UINT nStackSize = 0, DWORD dwCreateFlags = 0, void* lpSecurityAttrs = nullptr) {
    (void)nPriority, (void)nStackSize, (void)dwCreateFlags, (void)lpSecurityAttrs;
    auto* t = new CWinThread;
    t->m_thread = std::thread([t, pfn, param] {
        CWinThread::Current() = t;
        pfn(param);
    });
    return t;
}

inline void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
