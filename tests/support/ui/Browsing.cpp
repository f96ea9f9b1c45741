#include "support/ui/Browsing.h"

#include <QtCore/qnamespace.h>

#include <fstream>

#include "res/Resource.h"
#include "support/ui/UserInput.h"

namespace vimo::test {

namespace {

// The converted file now current; empty when none is. Within one browsing every source is
// converted once, so a step always makes another file current, even when a trim has moved the
// position back by one. (Compared by name, never by the entry's address: a trim frees entries,
// and a new one can be given the same address.)
std::string CurrentEntry(CVimoDoc* pDoc) {
  CConvertQueue& queue = pDoc->m_queue;
  CSingleLock lock(&queue.m_csLock, TRUE);
  if (queue.m_nIndex <= 0) return {};
  return static_cast<const CString*>(queue.m_listHistory.GetAt(queue.m_listHistory.FindIndex(queue.m_nIndex - 1)))->str();
}

bool Hold(ViewerSession& session, UINT nCommand, int qtModifiers, const std::function<void(const BrowseStep&)>& onStep,
          int timeoutMs) {
  CMainFrame* pFrame = session.Frame();
  CVimoDoc* pDoc = session.Doc();
  while (AfxTestAccess::IsMenuItemEnabled(pFrame, nCommand)) {
    const std::string before = CurrentEntry(pDoc);
    const size_t messagesBefore = session.messages.size();
    PressKey(pFrame, Qt::Key_Tab, qtModifiers);
    const bool answered = ViewerSession::WaitFor(
        [&] {
          return CurrentEntry(pDoc) != before || session.messages.size() > messagesBefore ||
                 !AfxTestAccess::IsMenuItemEnabled(pFrame, nCommand);
        },
        timeoutMs);
    if (!answered) return false;
    BrowseStep step;
    const std::string now = CurrentEntry(pDoc);
    if (!now.empty() && now != before) step.converted = now;
    step.title = pDoc->GetTitle().str();
    step.messages.assign(session.messages.begin() + static_cast<long>(messagesBefore), session.messages.end());
    onStep(step);
  }
  return true;
}

}  // namespace

bool HoldTab(ViewerSession& session, const std::function<void(const BrowseStep&)>& onStep, int timeoutMs) {
  return Hold(session, ID_GO_NEXT, 0, onStep, timeoutMs);
}

bool HoldShiftTab(ViewerSession& session, const std::function<void(const BrowseStep&)>& onStep, int timeoutMs) {
  return Hold(session, ID_GO_PREV, Qt::ShiftModifier, onStep, timeoutMs);
}

std::string SourceNameOf(const std::string& converted) {
  const std::string name = converted.substr(converted.rfind('/') + 1);
  return name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
}

long long PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}

}  // namespace vimo::test
