#include "win32/ProcessWatch.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "win32/Kernel.h"

namespace {

// How often a child is looked at when the kernel cannot tell of its end (no pidfd).
constexpr int kFallbackPollMs = 200;

WPARAM ExitStatusOf(int status) {
  if (WIFEXITED(status)) return static_cast<WPARAM>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return static_cast<WPARAM>(128 + WTERMSIG(status));
  return 255;
}

// Watches one started program until it ends, reaps it, posts the message and goes. It belongs
// to the application object, so a program still running when the viewer ends is simply left.
class ChildWatch : public QObject {
 public:
  ChildWatch(pid_t pid, HWND hWnd, UINT nMsg, LPARAM lParam)
      : QObject(QCoreApplication::instance()), m_pid(pid), m_hWnd(hWnd), m_nMsg(nMsg), m_lParam(lParam) {
    // A pidfd becomes readable when the process ends: the event loop wakes only then.
    m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (m_pidfd >= 0) {
      auto* notifier = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
      QObject::connect(notifier, &QSocketNotifier::activated, this, [this] { Reap(); });
      return;
    }
    auto* timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, [this] { Reap(); });
    timer->start(kFallbackPollMs);
  }
  ~ChildWatch() override {
    if (m_pidfd >= 0) close(m_pidfd);
  }
  ChildWatch(const ChildWatch&) = delete;
  ChildWatch& operator=(const ChildWatch&) = delete;

 private:
  void Reap() {
    if (m_bDone) return;
    int status = 0;
    const pid_t ended = waitpid(m_pid, &status, WNOHANG);
    if (ended == 0 || (ended < 0 && errno == EINTR)) return;  // still running
    m_bDone = true;
    PostMessageA(m_hWnd, m_nMsg, ended == m_pid ? ExitStatusOf(status) : 255, m_lParam);
    deleteLater();
  }

  pid_t m_pid;
  HWND m_hWnd;
  UINT m_nMsg;
  LPARAM m_lParam;
  int m_pidfd = -1;
  bool m_bDone = false;
};

}  // namespace

UINT WinExecNotify(LPCSTR lpCmdLine, UINT /*uCmdShow*/, HWND hWnd, UINT nMsg, LPARAM lParam) {
  long pid = 0;
  const UINT result = vimo::platform::StartCommandLine(lpCmdLine, &pid);
  if (result <= 31) return result;
  new ChildWatch(static_cast<pid_t>(pid), hWnd, nMsg, lParam);  // owned by the application object
  return result;
}
