// Synchronisation objects: CCriticalSection, CEvent and the scoped CSingleLock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "afx/Object.h"

class CSyncObject : public CObject {
 public:
  virtual BOOL Lock(DWORD dwTimeout = INFINITE) = 0;
  virtual BOOL Unlock() = 0;
};

// Recursive, like the kernel's critical section.
class CCriticalSection : public CSyncObject {
 public:
  CCriticalSection() = default;
  BOOL Lock(DWORD dwTimeout = INFINITE) override;
  BOOL Unlock() override;

 private:
  std::recursive_mutex m_mutex;
};

class CEvent : public CSyncObject {
 public:
  // Not signalled unless bInitiallyOwn; a manual-reset event stays signalled until ResetEvent,
  // an auto-reset one releases exactly one wait and resets.
  explicit CEvent(BOOL bInitiallyOwn = FALSE, BOOL bManualReset = FALSE);
  BOOL SetEvent();
  BOOL ResetEvent();
  BOOL Lock(DWORD dwTimeout = INFINITE) override;  // waits until signalled; FALSE on time-out
  BOOL Unlock() override { return TRUE; }

 private:
  // A clock a test puts in place of the real one (nullptr: the real one). A timed wait that finds
  // the event unsignalled asks it, instead of letting dwTimeout milliseconds pass: TRUE, that
  // time has passed and the wait ends unsignalled; FALSE, the wait goes on until the signal.
  friend struct AfxTestAccess;
  using WaitClock = BOOL (*)(DWORD dwTimeout);
  static std::atomic<WaitClock> s_pfnWaitClock;

  std::mutex m_mutex;
  std::condition_variable m_signal;
  bool m_bSignalled;
  const bool m_bManualReset;
};

class CSingleLock {
 public:
  explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
  ~CSingleLock();
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;

  BOOL Lock(DWORD dwTimeout = INFINITE);
  BOOL Unlock();
  BOOL IsLocked() const { return m_bAcquired ? TRUE : FALSE; }

 private:
  CSyncObject* m_pObject;
  bool m_bAcquired = false;
};
