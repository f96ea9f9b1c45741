#include "afx/FolderWatch.h"

#include <sys/inotify.h>

#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cerrno>

#include "afx/Wnd.h"
#include "posix/UniqueFd.h"

struct CFolderWatch::Impl {
  vimo::posix::UniqueFd fd;
  std::unique_ptr<QSocketNotifier> pNotifier;
  QTimer quiet;
  CWnd* pWnd = nullptr;
  UINT nMessage = 0;

  // Takes every event waiting; the message goes once the folder was quiet for a while.
  void Drain() {
    std::array<char, 4096> events{};
    bool bAny = false;
    for (;;) {
      const ssize_t got = read(fd.get(), events.data(), events.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      bAny = true;
    }
    if (bAny && !quiet.isActive()) quiet.start();
  }
  void Tell() const {
    if (pWnd != nullptr && pWnd->m_hWnd != nullptr) pWnd->PostMessage(nMessage);
  }
};

CFolderWatch::CFolderWatch() = default;

CFolderWatch::~CFolderWatch() = default;

BOOL CFolderWatch::Watch(const char* folder, CWnd* pWnd, UINT nMessage) {
  if (m_pImpl != nullptr && m_strFolder == folder && m_pImpl->pWnd == pWnd) return TRUE;
  Stop();
  auto pImpl = std::make_unique<Impl>();
  pImpl->fd.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!pImpl->fd.valid()) return FALSE;
  constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  if (inotify_add_watch(pImpl->fd.get(), folder, kEvents) < 0) return FALSE;
  pImpl->pWnd = pWnd;
  pImpl->nMessage = nMessage;
  pImpl->quiet.setSingleShot(true);
  pImpl->quiet.setInterval(kQuietMs);
  Impl* pRaw = pImpl.get();
  QObject::connect(&pImpl->quiet, &QTimer::timeout, [pRaw] { pRaw->Tell(); });
  pImpl->pNotifier = std::make_unique<QSocketNotifier>(pImpl->fd.get(), QSocketNotifier::Read);
  QObject::connect(pImpl->pNotifier.get(), &QSocketNotifier::activated, [pRaw] { pRaw->Drain(); });
  m_pImpl = std::move(pImpl);
  m_strFolder = folder;
  return TRUE;
}

void CFolderWatch::Stop() {
  // The notifier goes before its descriptor is closed.
  if (m_pImpl != nullptr) m_pImpl->pNotifier.reset();
  m_pImpl.reset();
  m_strFolder.Empty();
}
