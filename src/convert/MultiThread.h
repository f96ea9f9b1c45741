// The conversion worker: one background thread that turns queued source files into BMP files
// in the private temporary folder, one at a time and in queue order.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "afx/afx.h"

// What the worker works on. It lives inside the CMultiThread that started the worker, so the
// worker reaches everything through the object that owns it.
struct ConvertThreadParam {
  CEvent* pEndEvent;           // manual reset: signalled when the worker has left its loop
  CEvent* pWorkEvent;          // auto reset: signalled when work was queued or stop was asked
  std::atomic<int>* pbStop;    // 1 once stopping began
  CObList* pPending;           // source paths waiting, oldest first
  CObList* pHistory;           // converted files, oldest first
  CObList* pErrors;            // "Convert Error " messages, oldest first
  CCriticalSection* pLock;     // guards the three lists
  int* pnBusy;                 // 1 while a source taken from the pending list has no result yet
  int* pnGeneration;           // raised by every clear: results of sources taken before it are
                               // dropped (both read and written under pLock)
  CEvent* pResultEvent;        // auto reset: signalled when a file or an error was handed over
  std::atomic<int>* pbHeld;    // 1 while no further source is to be begun (HoldAhead)
  std::string* pBusySource;    // the source in conversion while *pnBusy, and the generation it
  int* pnBusyGeneration;       // was taken in (both under pLock)
};

class CMultiThread : public CWinThread {
  DECLARE_DYNCREATE(CMultiThread)

 public:
  CMultiThread();
  // Stops the worker and waits for it (see StopThread).
  ~CMultiThread() override;

  // Creates the events and starts the worker on the given lists. Returns 1.
  int BeginThread(CObList* pPending, CObList* pHistory, CObList* pErrors, CCriticalSection* pLock);

  // Waits until the worker hands over a converted file or an error, at most dwTimeout
  // milliseconds; FALSE when the time ran out. A hand-over since the last wait ends the next
  // wait at once. Lets the window show a result as soon as it exists instead of polling.
  BOOL WaitForWorker(DWORD dwTimeout);
  // While held, the worker begins no further source (the one in conversion ends and is handed
  // over): the grid's thumbnails, which the user waits for, get the processors instead of the
  // read-ahead. Released, it goes on with the sources waiting.
  void HoldAhead(BOOL bHold);

  // Begins converting source on a thread of its own before any queue exists (the file the
  // program was started on, while the window is being built). The first source queued then takes
  // that result instead of converting again when it is the same source, and drops it (its file
  // deleted) when it is another; conversions never overlap. A second call drops the first.
  static void ConvertAhead(const char* source);
  // Drops a conversion begun ahead that no queue took, once it has ended.
  static void DropConvertedAhead();
  // TRUE while a conversion runs anywhere in the process (a worker's, or one begun ahead): work
  // of lower priority waits meanwhile. Thread-safe.
  static BOOL IsConverting();

  // The worker's procedure: waits for work, drains the pending list, until stopped. Returns 1.
  static UINT ConvertThreadProc(LPVOID pParam);
  // One pass over the pending list. A conversion that ends after stopping began is discarded.
  static void ConvertPending(ConvertThreadParam* pParam);

 protected:
  // The stop sequence: raise the flag, wake the worker, wait until it has left its loop and
  // returned, then free the events. A conversion in progress is not interrupted. Safe to call
  // more than once, and without BeginThread having run. A derived class whose members the
  // worker uses must call it before those members go.
  void StopThread();
  // When source is the conversion begun ahead and it has ended, hands its result over as the
  // worker would (the history, or the error list) and returns TRUE. Called under the lock,
  // instead of queueing source, while nothing is queued or in conversion before it.
  BOOL TakeConvertedAhead(const char* source);

  std::unique_ptr<CEvent> m_pWorkEvent;
  std::unique_ptr<CEvent> m_pEndEvent;
  std::unique_ptr<CEvent> m_pResultEvent;
  std::atomic<int> m_bStop{0};
  std::atomic<int> m_bHeld{0};
  int m_nBusy = 0;        // see ConvertThreadParam::pnBusy
  int m_nGeneration = 0;  // see ConvertThreadParam::pnGeneration
  std::string m_strBusySource;  // see ConvertThreadParam::pBusySource
  int m_nBusyGeneration = 0;
  ConvertThreadParam m_param{};

 private:
  std::unique_ptr<CWinThread> m_pWorker;  // joined by StopThread

  // The file the program was started on, converted before any queue existed (ConvertAhead).
  struct CConversionAhead {
    std::string source;
    std::string written;  // the result once `ended` is signalled; empty when the source failed
    CEvent ended{FALSE, TRUE};
    std::unique_ptr<CWinThread> pThread;
  };
  static CCriticalSection s_aheadLock;
  static std::unique_ptr<CConversionAhead> s_pAhead;  // guarded by s_aheadLock
  static UINT ConvertAheadProc(LPVOID pParam);
  // Takes the conversion begun ahead once it has ended, waiting for it with bWait; nullptr when
  // none was begun, or (without bWait) while it still runs.
  static std::unique_ptr<CConversionAhead> TakeAhead(bool bWait);
  // Whether the conversion begun ahead was of source; then written receives its result. One of
  // another source is dropped, its file deleted: conversions never overlap, and nothing
  // converted ahead is used for anything but the first source queued.
  static bool AdoptAhead(const std::string& source, bool bWait, std::string& written);
  friend struct AfxTestAccess;  // waits for the conversion begun ahead
};
