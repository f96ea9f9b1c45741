// vimo-bench-poll: the window's wait for the worker (the frame's WM_USER+101) timed on the real
// objects, on Qt's offscreen platform. Prints three lines, "name milliseconds":
//   ready    an image already converted: shown at once
//   late     the conversion ends 200 ms into the wait: shown as it arrives
//   budget   nothing comes: the wait hands back to the idle loop after its budget (about 5 s)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/Globals.h"
#include "app/TempFiles.h"
#include "res/Resource.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

CEvent g_released(TRUE, TRUE);  // conversions of "held" sources wait for it
const Bytes g_bmp = MakeBmp24(20, 10, Pattern(20, 10, 7));

int Convert(const char* src, const char* dst, int /*colours*/) {
  const std::string source(src);
  if (source.find("held") != std::string::npos) {
    CSingleLock wait(&g_released, TRUE);
  }
  if (source.find("late") != std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  WriteFile(dst, g_bmp);
  return 1;
}

// Browses from name, alone in a folder of its own, and times one WM_USER+101 once ready() holds.
double TimePoll(ViewerSession& session, const char* name, const std::function<bool()>& ready) {
  const TempDir folder;
  WriteFile(folder / name, Bytes{'j', 'p', 'g'});
  session.Doc()->OpenImages((folder / name).c_str());
  g_bPollQueue = 0;
  ViewerSession::WaitFor(ready);
  const auto start = std::chrono::steady_clock::now();
  session.Frame()->SendMessage(WM_POLL_QUEUE, 0, 0);
  const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  g_released.SetEvent();
  ViewerSession::WaitFor([&] { return !session.Doc()->m_queue.IsNextComing(); });
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QT_NO_GLIB", "1", 0);
  SetUpTempFiles();
  AfxWinInit(argc, argv);
  int status = 1;
  {
    AfxTestAccess::SetConvertFunction(&Convert);
    ViewerSession session;
    if (session.Start()) {
      CConvertQueue& queue = session.Doc()->m_queue;
      std::printf("ready %.1f\n", TimePoll(session, "ready.jpg", [&] { return queue.CanNext() != FALSE; }));
      std::printf("late %.1f\n", TimePoll(session, "late.jpg", [] { return true; }));
      g_released.ResetEvent();
      std::printf("budget %.1f\n", TimePoll(session, "held.jpg", [] { return true; }));
      session.Stop();
      status = 0;
    }
  }
  AfxWinTerm();
  return status;
}
