#include "afx/ShutdownSignals.h"

#include <QApplication>
#include <QDialog>
#include <QDrag>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "afx/QtBridge.h"
#include "afx/WinApp.h"
#include "afx/Wnd.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes the signal's number into this pipe; the event loop reads it.
int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_nSignal = 0;

extern "C" void OnShutdownSignal(int nSignal) {
  const int savedErrno = errno;
  g_nSignal = nSignal;
  const char byte = static_cast<char>(nSignal);
  [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
  errno = savedErrno;
}

void CloseMainWindow() {
  // A modal box, dialog, popup menu or drag is cancelled first, and the frame closed once its
  // loop has returned: the frame must not go away beneath the handler that opened it.
  if (AfxModalScope::Active()) {
    if (QWidget* pPopup = QApplication::activePopupWidget()) pPopup->close();  // a popup menu
    if (QWidget* pModal = QApplication::activeModalWidget()) {
      if (auto* pDialog = qobject_cast<QDialog*>(pModal)) pDialog->reject();
      else pModal->close();
    } else {
      QDrag::cancel();
    }
    QTimer::singleShot(20, &CloseMainWindow);
    return;
  }
  CWinApp* pApp = AfxGetApp();
  if (pApp != nullptr && pApp->m_pMainWnd != nullptr) pApp->m_pMainWnd->SendMessage(WM_CLOSE);
  else AfxPostQuitMessage(0);
}

void ReadSignals() {
  char bytes[16];
  while (read(g_pipe[0], bytes, sizeof(bytes)) > 0) {
  }
  CloseMainWindow();
}

}  // namespace

void AfxCatchShutdownSignals() {
  static bool bWatched = false;
  if (g_pipe[0] >= 0) {
    if (bWatched || qApp == nullptr) return;
    bWatched = true;
    auto* pNotifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, qApp);  // owned by the application
    QObject::connect(pNotifier, &QSocketNotifier::activated, pNotifier, &ReadSignals);
    return;
  }
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  AfxCatchShutdownSignals();  // watched through the event loop once Qt's application exists
  struct sigaction action {};
  action.sa_handler = &OnShutdownSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int nSignal : kSignals) {
    // A signal ignored by whoever started the viewer (nohup) stays ignored.
    struct sigaction previous {};
    if (sigaction(nSignal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(nSignal, &action, nullptr);
  }
}

void AfxRaiseShutdownSignal() {
  const int nSignal = g_nSignal;
  if (nSignal == 0) return;
  std::signal(nSignal, SIG_DFL);
  std::raise(nSignal);
}
