// CWinThread and AfxBeginThread (worker-function form).
#pragma once

#include <memory>
#include <thread>

#include "afx/Object.h"

using AFX_THREADPROC = UINT (*)(LPVOID);

class CWinThread : public CObject {
  DECLARE_DYNAMIC(CWinThread)

 public:
  CWinThread() = default;
  ~CWinThread() override;  // joins a thread that this object runs
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  // Waits until the thread this object runs has returned.
  void Join();

 private:
  friend std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, void*);
  std::thread m_thread;
};

// Runs pfnThreadProc(pParam) on a new thread at once. The returned object stands for that
// thread: destroying it waits for the thread to return.
std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority = 0,
                                           UINT nStackSize = 0, DWORD dwCreateFlags = 0,
                                           void* lpSecurityAttrs = nullptr);
