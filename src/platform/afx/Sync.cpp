#include "afx/Sync.h"

#include <chrono>

BOOL CCriticalSection::Lock(DWORD /*dwTimeout*/) {
  m_mutex.lock();
  return TRUE;
}

BOOL CCriticalSection::Unlock() {
  m_mutex.unlock();
  return TRUE;
}

CEvent::CEvent(BOOL bInitiallyOwn, BOOL bManualReset)
    : m_bSignalled(bInitiallyOwn != FALSE), m_bManualReset(bManualReset != FALSE) {}

BOOL CEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_bSignalled = true;
  }
  if (m_bManualReset) {
    m_signal.notify_all();
  } else {
    m_signal.notify_one();
  }
  return TRUE;
}

BOOL CEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_bSignalled = false;
  return TRUE;
}

std::atomic<CEvent::WaitClock> CEvent::s_pfnWaitClock{nullptr};

BOOL CEvent::Lock(DWORD dwTimeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  const auto signalled = [this] { return m_bSignalled; };
  const WaitClock clock = s_pfnWaitClock.load();
  if (dwTimeout != INFINITE && dwTimeout != 0 && clock != nullptr && !m_bSignalled) {
    lock.unlock();
    const BOOL bPassed = clock(dwTimeout);
    lock.lock();
    if (bPassed && !m_bSignalled) return FALSE;
    dwTimeout = INFINITE;
  }
  if (dwTimeout == INFINITE) {
    m_signal.wait(lock, signalled);
  } else if (!m_signal.wait_for(lock, std::chrono::milliseconds(dwTimeout), signalled)) {
    return FALSE;
  }
  if (!m_bManualReset) m_bSignalled = false;
  return TRUE;
}

CSingleLock::CSingleLock(CSyncObject* pObject, BOOL bInitialLock) : m_pObject(pObject) {
  if (bInitialLock) Lock();
}

CSingleLock::~CSingleLock() { Unlock(); }

BOOL CSingleLock::Lock(DWORD dwTimeout) {
  if (m_bAcquired) return TRUE;
  m_bAcquired = m_pObject->Lock(dwTimeout) != FALSE;
  return m_bAcquired ? TRUE : FALSE;
}

BOOL CSingleLock::Unlock() {
  if (!m_bAcquired) return TRUE;
  m_bAcquired = false;
  return m_pObject->Unlock();
}
