#include "convert/MultiThread.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "convert/ConvertImage.h"
#include "convert/ImageFormat.h"
#include "convert/StreamProgress.h"

IMPLEMENT_DYNCREATE(CMultiThread, CWinThread)

namespace {

// The worker builds each destination in a buffer of this size; a longer one is refused.
constexpr size_t kDestinationLimit = PATH_MAX;
constexpr DWORD kTempPathLimit = PATH_MAX;

// Hands the error of the source in work to the user-interface thread, unless the queue was
// cleared since the source was taken: then it belongs to a browsing that is over.
void DeliverError(ConvertThreadParam* param, int generation, const std::string& message) {
  CSingleLock guard(param->pLock, TRUE);
  *param->pnBusy = 0;
  if (generation != *param->pnGeneration) return;
  param->pErrors->AddTail(std::make_unique<CString>(message));
  param->pResultEvent->SetEvent();
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

std::string ErrorFor(const std::string& destination) {
  return "Convert Error " + destination.substr(0, destination.size() - 4);
}

// Puts a finished file in place under its real name, replacing any earlier file of that name,
// and hands it over; or, when the queue was cleared since the source was taken, deletes it
// rather than let it show up under the new browsing. A file the window shows therefore never
// changes under it: the name moves to the new file. The rename happens under the lock, so the
// user-interface thread's trim or clear never runs between it and the history entry.
void DeliverFile(ConvertThreadParam* param, int generation, const std::string& written, const std::string& destination) {
  CSingleLock guard(param->pLock, TRUE);
  *param->pnBusy = 0;
  if (generation != *param->pnGeneration) {
    std::remove(written.c_str());
    return;
  }
  if (std::rename(written.c_str(), destination.c_str()) != 0) {
    std::remove(written.c_str());
    param->pErrors->AddTail(std::make_unique<CString>(ErrorFor(destination)));
    param->pResultEvent->SetEvent();
    return;
  }
  param->pHistory->AddTail(std::make_unique<CString>(destination));
  param->pResultEvent->SetEvent();
}

// Whether source is copied as a BMP file rather than converted: its name says it is one.
bool IsBmpSource(const std::string& source) {
  const ImageFormat* format = ImageFormatOfName(source.c_str(), true);
  return format != nullptr && format->reader == ImageReader::kCopy;
}

// Only a regular file is read, and the check never blocks: a FIFO named like an image would
// otherwise hold the worker, and with it the window's close, for good.
bool IsRegularSource(const std::string& source) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(source.c_str()),
                                                              &std::fclose);
  return file != nullptr;
}

// The private temporary folder, ending with '/'; empty when there is none to convert into.
std::string TempFolder() {
  char tempPath[kTempPathLimit] = "";
  const DWORD tempLength = GetTempPathA(kTempPathLimit, tempPath);
  return tempLength > 0 && tempLength < kTempPathLimit ? std::string(tempPath) : std::string();
}

// The conversions running now, and one counted for as long as it lives.
std::atomic<int> g_nConverting{0};
struct CConverting {
  CConverting() { ++g_nConverting; }
  ~CConverting() { --g_nConverting; }
  CConverting(const CConverting&) = delete;
  CConverting& operator=(const CConverting&) = delete;
};

// Converts source (a BMP file: copies it) into a fresh file of tempFolder, to be renamed into
// place as destination, and returns that file's path. Empty when the source failed: no folder
// to convert into, a destination too long, a source that is not a regular file that can be read,
// a copy or conversion that failed (whatever it wrote is removed).
std::string ConvertSource(const std::string& source, const std::string& tempFolder, const std::string& destination) {
  if (tempFolder.empty() || destination.size() >= kDestinationLimit || !IsRegularSource(source)) return {};
  const CConverting converting;
  const CStreamProgress::CWatch watch(source);  // the window may show its rows meanwhile
  // Written in full under a fresh name first (still ending in ".bmp", which picks the BMP
  // writer), then renamed into place.
  const std::string written = vimo::platform::CreateFreshFile(tempFolder, ".bmp");
  if (written.empty()) return {};
  // A copy that failed would leave an earlier file of this name, or none, to be shown as this
  // source: it fails like a conversion instead.
  const bool bDone = IsBmpSource(source) ? CopyFileA(source.c_str(), written.c_str(), FALSE) != FALSE
                                         : ConvertForViewing(source.c_str(), written.c_str(), 0) != 0;
  if (bDone) return written;
  std::remove(written.c_str());
  return {};
}

// Hands the result of a source over: the file (empty: the error) of destination.
void Deliver(ConvertThreadParam* param, int generation, const std::string& written, const std::string& destination) {
  if (written.empty()) DeliverError(param, generation, ErrorFor(destination));
  else DeliverFile(param, generation, written, destination);
}

}  // namespace

CCriticalSection CMultiThread::s_aheadLock;
std::unique_ptr<CMultiThread::CConversionAhead> CMultiThread::s_pAhead;

UINT CMultiThread::ConvertAheadProc(LPVOID pParam) {
  auto* ahead = static_cast<CConversionAhead*>(pParam);
  const std::string tempFolder = TempFolder();
  ahead->written = ConvertSource(ahead->source, tempFolder, tempFolder + BaseName(ahead->source) + ".bmp");
  ahead->ended.SetEvent();
  return 1;
}

std::unique_ptr<CMultiThread::CConversionAhead> CMultiThread::TakeAhead(bool bWait) {
  std::unique_ptr<CConversionAhead> ahead;
  {
    CSingleLock guard(&s_aheadLock, TRUE);
    if (!s_pAhead || (!bWait && !s_pAhead->ended.Lock(0))) return nullptr;
    ahead = std::move(s_pAhead);
  }
  ahead->pThread.reset();  // joins it
  return ahead;
}

bool CMultiThread::AdoptAhead(const std::string& source, bool bWait, std::string& written) {
  const std::unique_ptr<CConversionAhead> ahead = TakeAhead(bWait);
  if (!ahead) return false;
  if (ahead->source == source) {
    written = ahead->written;
    return true;
  }
  if (!ahead->written.empty()) std::remove(ahead->written.c_str());
  return false;
}

void CMultiThread::ConvertAhead(const char* source) {
  DropConvertedAhead();
  auto ahead = std::make_unique<CConversionAhead>();
  ahead->source = source;
  ahead->pThread = AfxBeginThread(&ConvertAheadProc, ahead.get());
  CSingleLock guard(&s_aheadLock, TRUE);
  s_pAhead = std::move(ahead);
}

BOOL CMultiThread::IsConverting() { return g_nConverting.load() > 0 ? TRUE : FALSE; }

void CMultiThread::DropConvertedAhead() {
  if (const std::unique_ptr<CConversionAhead> ahead = TakeAhead(true); ahead && !ahead->written.empty())
    std::remove(ahead->written.c_str());
}

BOOL CMultiThread::TakeConvertedAhead(const char* source) {
  std::string written;
  if (!m_pWorker || !AdoptAhead(source, false, written)) return FALSE;
  Deliver(&m_param, m_nGeneration, written, TempFolder() + BaseName(source) + ".bmp");
  return TRUE;
}

CMultiThread::CMultiThread() = default;

CMultiThread::~CMultiThread() { StopThread(); }

int CMultiThread::BeginThread(CObList* pPending, CObList* pHistory, CObList* pErrors, CCriticalSection* pLock) {
  m_bStop = 0;
  m_pEndEvent = std::make_unique<CEvent>(FALSE, TRUE);
  m_pWorkEvent = std::make_unique<CEvent>(FALSE, FALSE);
  m_pResultEvent = std::make_unique<CEvent>(FALSE, FALSE);
  m_param = ConvertThreadParam{m_pEndEvent.get(), m_pWorkEvent.get(), &m_bStop, pPending, pHistory, pErrors, pLock,
                               &m_nBusy, &m_nGeneration, m_pResultEvent.get(), &m_bHeld, &m_strBusySource,
                               &m_nBusyGeneration};
  m_pWorker = AfxBeginThread(&CMultiThread::ConvertThreadProc, &m_param);
  return 1;
}

BOOL CMultiThread::WaitForWorker(DWORD dwTimeout) {
  if (!m_pResultEvent) {
    Sleep(dwTimeout);
    return FALSE;
  }
  CSingleLock wait(m_pResultEvent.get());
  return wait.Lock(dwTimeout);
}

void CMultiThread::HoldAhead(BOOL bHold) {
  m_bHeld = bHold ? 1 : 0;
  if (!bHold && m_pWorkEvent) m_pWorkEvent->SetEvent();  // the sources waiting meanwhile
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
  const std::string tempFolder = TempFolder();

  while (pParam->pbStop->load() == 0) {
    std::string source;
    int generation = 0;
    {
      CSingleLock guard(pParam->pLock, TRUE);
      if (pParam->pPending->IsEmpty() || pParam->pbHeld->load() != 0) break;
      const std::unique_ptr<CObject> head = pParam->pPending->RemoveHead();
      source = static_cast<CString*>(head.get())->str();
      generation = *pParam->pnGeneration;
      *pParam->pnBusy = 1;
      *pParam->pBusySource = source;
      *pParam->pnBusyGeneration = generation;
    }
    const std::string destination = tempFolder + BaseName(source) + ".bmp";
    std::string written;
    if (!AdoptAhead(source, true, written)) written = ConvertSource(source, tempFolder, destination);
    if (pParam->pbStop->load() != 0) {
      if (!written.empty()) std::remove(written.c_str());
      Drop(pParam);
      break;
    }
    Deliver(pParam, generation, written, destination);
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
  m_pResultEvent.reset();
}
