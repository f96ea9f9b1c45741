#include "convert/MultiThread.h"

#include <cstdio>
#include <string>

#include "convert/ConvertImage.h"

IMPLEMENT_DYNCREATE(CMultiThread, CWinThread)

namespace {

// The worker builds each destination in a buffer of this size; a longer one is refused.
constexpr size_t kDestinationLimit = 512;
constexpr DWORD kTempPathLimit = 256;

// Hands the result of the source in work to the user-interface thread, unless the queue was
// cleared since the source was taken: then the result belongs to a browsing that is over, and
// a converted file is deleted instead of showing up under the new folder's name.
void Deliver(ConvertThreadParam* param, int generation, CObList* list, const std::string& text, bool isFile) {
  CSingleLock guard(param->pLock, TRUE);
  *param->pnBusy = 0;
  if (generation != *param->pnGeneration) {
    if (isFile) std::remove(text.c_str());
    return;
  }
  list->AddTail(std::make_unique<CString>(text));
}

void Drop(ConvertThreadParam* param) {
  CSingleLock guard(param->pLock, TRUE);
  *param->pnBusy = 0;
}

// The file name part of a source path: the bytes after its last separator, looked for from the
// end down to position 1; the whole path when it holds none there.
std::string BaseName(const std::string& source) {
  for (size_t i = source.size(); i-- > 1;) {
    if (source[i] == PATH_SEPARATOR) return source.substr(i + 1);
  }
  return source;
}

std::atomic<ConvertFunction> g_convert{&ConvertImage};

std::string ErrorFor(const std::string& destination) {
  return "Convert Error " + destination.substr(0, destination.size() - 4);
}

}  // namespace

void SetConvertFunctionForTesting(ConvertFunction function) {
  g_convert = function != nullptr ? function : &ConvertImage;
}

CMultiThread::CMultiThread() = default;

CMultiThread::~CMultiThread() { StopThread(); }

int CMultiThread::BeginThread(CObList* pPending, CObList* pHistory, CObList* pErrors, CCriticalSection* pLock) {
  m_bStop = 0;
  m_pEndEvent = std::make_unique<CEvent>(FALSE, TRUE);
  m_pWorkEvent = std::make_unique<CEvent>(FALSE, FALSE);
  m_param = ConvertThreadParam{m_pEndEvent.get(), m_pWorkEvent.get(), &m_bStop, pPending, pHistory, pErrors, pLock,
                               &m_nBusy, &m_nGeneration};
  m_pWorker = AfxBeginThread(&CMultiThread::ConvertThreadProc, &m_param);
  return 1;
}

UINT CMultiThread::ConvertThreadProc(LPVOID pParam) {
  auto* param = static_cast<ConvertThreadParam*>(pParam);
  while (param->pbStop->load() == 0) {
    CSingleLock wait(param->pWorkEvent);
    wait.Lock();
    ConvertPending(param);
  }
  // From here on the owner may free the events: nothing of the queue is touched again.
  param->pEndEvent->SetEvent();
  return 1;
}

void CMultiThread::ConvertPending(ConvertThreadParam* pParam) {
  {
    CSingleLock guard(pParam->pLock, TRUE);
    if (pParam->pPending->IsEmpty()) return;
  }
  char tempPath[kTempPathLimit] = "";
  const DWORD tempLength = GetTempPathA(kTempPathLimit, tempPath);
  const bool haveTempFolder = tempLength > 0 && tempLength < kTempPathLimit;

  while (pParam->pbStop->load() == 0) {
    std::string source;
    int generation = 0;
    {
      CSingleLock guard(pParam->pLock, TRUE);
      if (pParam->pPending->IsEmpty()) break;
      const std::unique_ptr<CObject> head = pParam->pPending->RemoveHead();
      source = static_cast<CString*>(head.get())->str();
      generation = *pParam->pnGeneration;
      *pParam->pnBusy = 1;
    }
    const std::string destination = std::string(haveTempFolder ? tempPath : "") + BaseName(source) + ".bmp";
    if (!haveTempFolder || destination.size() >= kDestinationLimit) {
      // No room to convert into: report the source as failed rather than write elsewhere.
      Deliver(pParam, generation, pParam->pErrors, ErrorFor(destination), false);
      continue;
    }

    const char last = source.empty() ? '\0' : source.back();
    if (last == 'p' || last == 'P') {
      CopyFileA(source.c_str(), destination.c_str(), FALSE);
      Deliver(pParam, generation, pParam->pHistory, destination, true);
      continue;
    }

    const int converted = g_convert.load()(source.c_str(), destination.c_str(), 0);
    const bool stopping = pParam->pbStop->load() != 0;
    if (converted != 0 && stopping) {
      std::remove(destination.c_str());
      Drop(pParam);
      break;
    }
    if (converted == 0 && stopping) {
      Drop(pParam);
      break;
    }
    if (converted != 0) {
      Deliver(pParam, generation, pParam->pHistory, destination, true);
    } else {
      Deliver(pParam, generation, pParam->pErrors, ErrorFor(destination), false);
    }
  }
}

void CMultiThread::StopThread() {
  if (!m_pWorker) return;
  m_bStop = 1;
  m_pWorkEvent->SetEvent();
  CSingleLock wait(m_pEndEvent.get());
  wait.Lock();
  wait.Unlock();
  m_pWorker.reset();  // joins the thread, which has nothing left to do but return
  m_pWorkEvent.reset();
  m_pEndEvent.reset();
}
