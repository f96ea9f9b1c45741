// The main frame's WM_USER+101: waiting for the worker, which delivers at once, late, never or
// with an error. The worker's conversion is replaced by one the test holds and releases, and the
// wait's clock by one the test keeps: no test here depends on how long anything takes.
#include <gtest/gtest.h>

#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// What the replaced conversion does, by source name.
struct Converter {
  std::mutex mutex;
  std::condition_variable released;
  bool gateOpen = true;
  std::set<std::string> held;     // wait for the gate
  std::set<std::string> failing;  // report failure
  Bytes bmp;

  static int Convert(const char* src, const char* dst, int /*colours*/) {
    Converter& c = Instance();
    const std::string source(src);
    const std::string name = source.substr(source.rfind('/') + 1);
    {
      std::unique_lock<std::mutex> lock(c.mutex);
      if (c.held.count(name) != 0) c.released.wait(lock, [&c] { return c.gateOpen; });
    }
    if (c.failing.count(name) != 0) return 0;
    WriteFile(dst, c.bmp);
    return 1;
  }
  static Converter& Instance() {
    static Converter converter;
    return converter;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    gateOpen = true;
    held.clear();
    failing.clear();
    bmp = MakeBmp24(20, 10, Pattern(20, 10, 7));
  }
  void CloseGate() {
    std::lock_guard<std::mutex> lock(mutex);
    gateOpen = false;
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      gateOpen = true;
    }
    released.notify_all();
  }
};

// Clocks for the handler's waits: one that lets their time pass at once, counting it, and one
// under which the worker delivers while the handler waits.
std::atomic<DWORD> g_waited{0};
BOOL PassingClock(DWORD dwTimeout) {
  g_waited += dwTimeout;
  return TRUE;
}
BOOL DeliveringClock(DWORD /*dwTimeout*/) {
  Converter::Instance().OpenGate();
  return FALSE;
}

class PollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Converter::Instance().Reset();
    AfxTestAccess::SetConvertFunction(&Converter::Convert);
    for (const char* name : {"x1.jpg", "x2.jpg", "x3.jpg"}) WriteFile(m_dir / name, Bytes{'j', 'p', 'g'});
    ASSERT_TRUE(m_session.Start());
    m_pDoc = m_session.Doc();
    m_pFrame = m_session.Frame();
  }
  void TearDown() override {
    AfxTestAccess::SetWaitClock(nullptr);
    Converter::Instance().OpenGate();
    m_session.Stop();
  }

  // Starts browsing at x1.jpg, with the idle hand-over held back so that the test sends the
  // message itself.
  void Browse() {
    m_pDoc->OpenImages((m_dir / "x1.jpg").c_str());
    ASSERT_EQ(g_bPollQueue, 1);
    g_bPollQueue = 0;
  }

  // Sends WM_USER+101 under clock; returns the milliseconds the handler let pass waiting.
  DWORD Poll(BOOL (*clock)(DWORD) = nullptr) {
    g_waited = 0;
    AfxTestAccess::SetWaitClock(clock);
    m_pFrame->SendMessage(WM_POLL_QUEUE, 0, 0);
    AfxTestAccess::SetWaitClock(nullptr);
    return g_waited;
  }

  TempDir m_dir;
  ViewerSession m_session;
  CVimoDoc* m_pDoc = nullptr;
  CMainFrame* m_pFrame = nullptr;
};

TEST_F(PollTest, ImageAlreadyWaitingIsShownAtOnceAndOneMoreIsQueued) {
  Browse();
  // x1 and x2 are queued at the start (three images: one read-ahead step).
  EXPECT_EQ(m_pDoc->m_nReadAhead, 2);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  m_pDoc->m_queue.WaitForWorker(0);  // the hand-overs so far taken: any wait now would pass time
  EXPECT_EQ(Poll(&PassingClock), 0u) << "the handler waited although an image was ready";
  EXPECT_EQ(m_pDoc->GetTitle(), "x1.jpg");
  EXPECT_EQ(m_pDoc->m_nReadAhead, 1) << "fewer than three ahead: one more read-ahead step";
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 3; }));
  EXPECT_EQ(g_bPollQueue, 0);
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(PollTest, LateImageIsShownWhenItArrives) {
  Converter::Instance().held.insert("x1.jpg");
  Converter::Instance().CloseGate();
  Browse();
  Poll(&DeliveringClock);  // one call waits for the image and shows it, not the idle loop
  EXPECT_EQ(m_pDoc->GetTitle(), "x1.jpg");
  EXPECT_EQ(g_bPollQueue, 0);
}

TEST_F(PollTest, NothingWithinTheBudgetRearmsTheWaitAndTheNextIdleMomentTriesAgain) {
  Converter::Instance().held.insert("x1.jpg");
  Converter::Instance().CloseGate();
  Browse();
  // What the handler asked of the test's clock, which lets it pass at once: no real time is measured.
  const DWORD asked = Poll(&PassingClock);
  EXPECT_GE(asked, 5000u) << "the handler's budget is 5000 ms of waiting";
  EXPECT_LE(asked, 5100u);
  EXPECT_EQ(g_bPollQueue, 1);
  EXPECT_TRUE(m_session.messages.empty());
  EXPECT_EQ(m_pDoc->m_pDib, nullptr);

  // The worker delivers; the idle hand-over posts the message again and the image appears.
  Converter::Instance().OpenGate();
  EXPECT_TRUE(m_session.WaitForImage("x1.jpg"));
  EXPECT_EQ(g_bPollQueue, 0);
}

TEST_F(PollTest, ErrorIsShownOnceAndBrowsingGoesOnPastIt) {
  Converter::Instance().failing.insert("x1.jpg");
  Converter::Instance().held.insert("x2.jpg");
  Converter::Instance().CloseGate();
  Browse();
  EXPECT_EQ(m_pDoc->m_nReadAhead, 2);
  Poll();
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0].rfind("Convert Error ", 0), 0u) << m_session.messages[0];
  EXPECT_NE(m_session.messages[0].find("x1.jpg"), std::string::npos) << m_session.messages[0];
  EXPECT_EQ(m_session.captions[0], "Vimo V 3.00");
  EXPECT_EQ(m_pDoc->m_nReadAhead, 1) << "the read-ahead was advanced past the failed file";
  EXPECT_EQ(g_bPollQueue, 0);
  EXPECT_EQ(m_pDoc->m_pDib, nullptr);
  Converter::Instance().OpenGate();
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  EXPECT_EQ(m_session.messages.size(), 1u);
}

// Tab pressed twice while the worker was still converting: each press gets its own image, in
// order, rather than the second press being lost in the first one's wait.
TEST_F(PollTest, EveryNextPressWhileTheWorkerIsBehindShowsOneMoreImage) {
  Converter::Instance().held = {"x2.jpg", "x3.jpg"};
  Converter::Instance().CloseGate();
  Browse();
  Poll();
  ASSERT_EQ(m_pDoc->GetTitle(), "x1.jpg");
  for (int press = 0; press < 2; ++press) PressKey(m_pFrame, Qt::Key_Tab);
  EXPECT_EQ(g_bPollQueue, 1);
  EXPECT_EQ(m_pDoc->GetTitle(), "x1.jpg");
  Converter::Instance().OpenGate();
  EXPECT_TRUE(m_session.WaitForImage("x3.jpg"));
  EXPECT_EQ(g_bPollQueue, 0);
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(PollTest, IdleHandOverPostsOnlyWhileTheFlagIsSet) {
  Browse();
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() >= 1; }));
  ViewerSession::WaitFor([] { return false; }, 100);
  EXPECT_EQ(m_pDoc->m_pDib, nullptr) << "no hand-over without the flag";
  g_bPollQueue = 1;
  EXPECT_TRUE(m_session.WaitForImage("x1.jpg"));
  EXPECT_EQ(g_bPollQueue, 0);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
