#include "afx/WinThread.h"

IMPLEMENT_DYNAMIC(CWinThread, CObject)

CWinThread::~CWinThread() { Join(); }

void CWinThread::Join() {
  if (m_thread.joinable()) m_thread.join();
}

std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int /*nPriority*/,
                                           UINT /*nStackSize*/, DWORD /*dwCreateFlags*/, void* /*lpSecurityAttrs*/) {
  auto thread = std::make_unique<CWinThread>();
  thread->m_thread = std::thread([pfnThreadProc, pParam] { pfnThreadProc(pParam); });
  return thread;
}
