#include "convert/ConvertQueue.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "convert/StreamProgress.h"
#include "win32/FileMoves.h"

namespace {

constexpr int kHistoryLimit = 16;

CString* AsString(CObject* object) { return static_cast<CString*>(object); }

}  // namespace

CConvertQueue::CConvertQueue() = default;

CConvertQueue::~CConvertQueue() {
  // The window is told of a conversion's rows through this queue's result event: a conversion
  // begun ahead, which may outlive the queue (it ends at the program's exit), tells no one now.
  CStreamProgress::Listen({});
  // The worker uses the lists and the lock below, which go before the base class does.
  StopThread();
}

int CConvertQueue::StartThread() {
  BeginThread(&m_listPending, &m_listHistory, &m_listErrors, &m_csLock);
  return 1;
}

void CConvertQueue::DeleteEntry(std::unique_ptr<CObject> entry) {
  if (!entry) return;
  m_mapTurned.erase(entry.get());
  // A source queued twice (a folder walked again) gives two entries of one file: the file
  // goes with the last of them.
  const CString& path = *AsString(entry.get());
  for (POSITION pos = m_listHistory.GetHeadPosition(); pos != nullptr;) {
    if (*AsString(m_listHistory.GetNext(pos)) == path) return;
  }
  vimo::platform::RemoveFileReleasingLater(path);
}

void CConvertQueue::Enqueue(const char* path) {
  {
    CSingleLock lock(&m_csLock, TRUE);
    // The file converted before the queue existed is in the history at once when nothing comes
    // before it, so that the window can show it in its first paint.
    if (!m_listPending.IsEmpty() || m_nBusy != 0 || !TakeConvertedAhead(path))
      m_listPending.AddTail(std::make_unique<CString>(path));
    // The converted files, counting those still on their way, stay within 17: a read-ahead
    // that runs before the worker has delivered must not push the folder past that. With
    // nothing shown yet every entry still lies ahead of the user: none is dropped.
    const int onTheirWay = m_listPending.GetCount() + m_nBusy;
    if (m_listHistory.GetCount() + onTheirWay > kHistoryLimit + 1 && m_nIndex > 0) {
      --m_nIndex;
      DeleteEntry(m_listHistory.RemoveHead());
    }
  }
  if (m_pWorkEvent) m_pWorkEvent->SetEvent();
}

CString* CConvertQueue::Next() {
  CSingleLock lock(&m_csLock, TRUE);
  if (m_nIndex >= m_listHistory.GetCount()) return nullptr;
  ++m_nIndex;
  return AsString(m_listHistory.GetAt(m_listHistory.FindIndex(m_nIndex - 1)));
}

CString* CConvertQueue::Previous() {
  CSingleLock lock(&m_csLock, TRUE);
  if (m_nIndex <= 0) {
    m_nIndex = 0;
    return nullptr;
  }
  --m_nIndex;
  if (m_nIndex == 0) return nullptr;
  return AsString(m_listHistory.GetAt(m_listHistory.FindIndex(m_nIndex - 1)));
}

int CConvertQueue::CanNext() {
  CSingleLock lock(&m_csLock, TRUE);
  const int count = m_listHistory.GetCount();
  return (count > 0 && m_nIndex < count) ? 1 : 0;
}

int CConvertQueue::IsNextComing() {
  CSingleLock lock(&m_csLock, TRUE);
  return (!m_listPending.IsEmpty() || m_nBusy != 0 || !m_listErrors.IsEmpty()) ? 1 : 0;
}

int CConvertQueue::CanPrevious() {
  CSingleLock lock(&m_csLock, TRUE);
  return (m_listHistory.GetCount() != 0 && m_nIndex >= 2) ? 1 : 0;
}

void CConvertQueue::DeleteCurrent() {
  CSingleLock lock(&m_csLock, TRUE);
  const POSITION shown = m_listHistory.FindIndex(m_nIndex - 1);
  if (shown == nullptr) return;
  DeleteEntry(m_listHistory.RemoveAt(shown));
  --m_nIndex;
}

void CConvertQueue::RenameSource(const char* sourceFolder, const char* oldName, const char* newName) {
  CSingleLock lock(&m_csLock, TRUE);
  const CString oldEnd = CString("/") + oldName + ".bmp";
  CString renamedFrom;
  CString renamedTo;
  for (POSITION pos = m_listHistory.GetHeadPosition(); pos != nullptr;) {
    CString& path = *AsString(m_listHistory.GetNext(pos));
    const int folderLength = path.GetLength() - oldEnd.GetLength() + 1;
    if (folderLength <= 0 || std::strcmp(static_cast<const char*>(path) + folderLength - 1, oldEnd) != 0) continue;
    if (renamedFrom != path) {
      const CString to = path.Left(folderLength) + newName + ".bmp";
      if (vimo::platform::RenameFile(path, to, false) != 0) continue;
      renamedFrom = path;
      renamedTo = to;
    }
    path = renamedTo;
  }
  const CString oldSource = CString(sourceFolder) + oldName;
  for (POSITION pos = m_listPending.GetHeadPosition(); pos != nullptr;) {
    CString& source = *AsString(m_listPending.GetNext(pos));
    if (source == oldSource) source = CString(sourceFolder) + newName;
  }
}

void CConvertQueue::MarkShownTurned(const CConvertedTurn& turn) {
  CSingleLock lock(&m_csLock, TRUE);
  const POSITION shown = m_listHistory.FindIndex(m_nIndex - 1);
  if (shown == nullptr) return;
  const CString path = *AsString(m_listHistory.GetAt(shown));
  for (POSITION pos = m_listHistory.GetHeadPosition(); pos != nullptr;) {
    CObject* entry = m_listHistory.GetNext(pos);
    if (*AsString(entry) == path) m_mapTurned[entry] = turn;
  }
}

CConvertedTurn CConvertQueue::GetShownTurn() {
  CSingleLock lock(&m_csLock, TRUE);
  const POSITION shown = m_listHistory.FindIndex(m_nIndex - 1);
  const auto found = shown != nullptr ? m_mapTurned.find(m_listHistory.GetAt(shown)) : m_mapTurned.end();
  return found != m_mapTurned.end() ? found->second : CConvertedTurn{};
}

CString CConvertQueue::TakeError() {
  CSingleLock lock(&m_csLock, TRUE);
  if (m_listErrors.IsEmpty()) return {};
  const std::unique_ptr<CObject> head = m_listErrors.RemoveHead();
  return *AsString(head.get());
}

void CConvertQueue::DropAhead() {
  CSingleLock lock(&m_csLock, TRUE);
  m_listPending.RemoveAll();
  m_listErrors.RemoveAll();
  while (m_listHistory.GetCount() > m_nIndex) DeleteEntry(m_listHistory.RemoveAt(m_listHistory.FindIndex(m_listHistory.GetCount() - 1)));
  ++m_nGeneration;
}

void CConvertQueue::ClearAll() {
  CSingleLock lock(&m_csLock, TRUE);
  m_listPending.RemoveAll();
  m_listErrors.RemoveAll();
  while (!m_listHistory.IsEmpty()) DeleteEntry(m_listHistory.RemoveHead());
  m_nIndex = 0;
  ++m_nGeneration;  // a conversion still running belongs to what was just cleared
}

int CConvertQueue::RequeueFromShown(const char* folder) {
  std::vector<CString> waiting;
  {
    CSingleLock lock(&m_csLock, TRUE);
    for (POSITION pos = m_listPending.GetHeadPosition(); pos != nullptr;) waiting.push_back(*AsString(m_listPending.GetNext(pos)));
    m_listPending.RemoveAll();
  }
  // Nothing more is taken: the conversion under way is the last to reach the history.
  for (;;) {
    {
      CSingleLock lock(&m_csLock, TRUE);
      if (m_nBusy == 0) break;
    }
    (void)WaitForWorker(50);
  }
  std::vector<CString> sources;
  {
    CSingleLock lock(&m_csLock, TRUE);
    int nEntry = 0;
    for (POSITION pos = m_listHistory.GetHeadPosition(); pos != nullptr; ++nEntry) {
      const CString& converted = *AsString(m_listHistory.GetNext(pos));
      if (nEntry + 1 < m_nIndex) continue;  // before the shown one
      const char* name = std::strrchr(converted, PATH_SEPARATOR);
      name = name != nullptr ? name + 1 : static_cast<const char*>(converted);
      const std::size_t length = std::strlen(name);
      if (length > 4) sources.push_back(CString(folder) + CString(name, static_cast<int>(length - 4)));
    }
  }
  sources.insert(sources.end(), waiting.begin(), waiting.end());
  ClearAll();
  for (const CString& source : sources) Enqueue(source);
  return static_cast<int>(sources.size());
}

CString CConvertQueue::ComingSource() {
  CSingleLock lock(&m_csLock, TRUE);
  if (m_nBusy != 0 && m_nBusyGeneration == m_nGeneration) return CString(m_strBusySource.c_str());
  return m_listPending.IsEmpty() ? CString() : *AsString(m_listPending.GetAt(m_listPending.GetHeadPosition()));
}

int CConvertQueue::HistoryCount() {
  CSingleLock lock(&m_csLock, TRUE);
  return m_listHistory.GetCount();
}

int CConvertQueue::Index() {
  CSingleLock lock(&m_csLock, TRUE);
  return m_nIndex;
}
