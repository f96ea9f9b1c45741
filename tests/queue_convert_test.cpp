// The conversion queue and its worker: history walking, trimming, errors, clearing, and the
// worker's life from start to stop, against a running worker thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "convert/ConvertQueue.h"
#include "support/ImageFixtures.h"
#include "support/TestAccess.h"

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace vimo::test;

namespace {

// A stand-in for the image conversion that the test controls: it records the sources in
// order, fails for sources whose name holds "bad", and can be held inside a conversion.
struct FakeConverter {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> sources;
  std::vector<std::string> destinations;
  bool hold = false;
  bool inside = false;
  int overlapping = 0;
  int maxOverlap = 0;

  static FakeConverter& Get() {
    static FakeConverter instance;
    return instance;
  }

  void Reset() {
    std::lock_guard<std::mutex> guard(mutex);
    sources.clear();
    destinations.clear();
    hold = inside = false;
    overlapping = maxOverlap = 0;
  }

  void Hold(bool value) {
    {
      std::lock_guard<std::mutex> guard(mutex);
      hold = value;
    }
    changed.notify_all();
  }

  bool WaitUntilInside() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), [this] { return inside; });
  }

  std::vector<std::string> Sources() {
    std::lock_guard<std::mutex> guard(mutex);
    return sources;
  }

  std::vector<std::string> Destinations() {
    std::lock_guard<std::mutex> guard(mutex);
    return destinations;
  }

  static int Convert(const char* src, const char* dst, int colours) {
    FakeConverter& self = Get();
    std::unique_lock<std::mutex> lock(self.mutex);
    self.sources.emplace_back(src);
    self.destinations.emplace_back(dst);
    self.maxOverlap = std::max(self.maxOverlap, ++self.overlapping);
    self.inside = true;
    self.changed.notify_all();
    self.changed.wait(lock, [&self] { return !self.hold; });
    self.inside = false;
    --self.overlapping;
    lock.unlock();
    if (std::string(src).find("bad") != std::string::npos) return 0;
    WriteText(dst, std::string("converted from ") + src + " colours " + std::to_string(colours));
    return 1;
  }
};

class QueueTest : public testing::Test {
 protected:
  void SetUp() override {
    FakeConverter::Get().Reset();
    AfxTestAccess::SetConvertFunction(&FakeConverter::Convert);
  }

  void TearDown() override {
    FakeConverter::Get().Hold(false);
    AfxTestAccess::SetConvertFunction(nullptr);
  }

  // A source file of the given name with distinct bytes.
  std::string Source(const std::string& name) {
    const std::string path = (m_sources / name).string();
    WriteText(path, "source bytes of " + name);
    return path;
  }

  // Queues sources and waits until the worker has converted them all.
  void Fill(CConvertQueue& queue, int count, const std::string& prefix = "img") {
    const int before = queue.HistoryCount();
    for (int i = 0; i < count; ++i) queue.Enqueue(Source(prefix + std::to_string(i) + ".jpg").c_str());
    ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == before + count; }));
  }

  TempDir m_dir;
  const fs::path m_sources = m_dir.Path();
};

}  // namespace

namespace {

TEST_F(QueueTest, FreshQueueHasNothingToShow) {
  CConvertQueue queue;
  queue.StartThread();
  EXPECT_EQ(queue.CanNext(), 0);
  EXPECT_EQ(queue.CanPrevious(), 0);
  EXPECT_EQ(queue.Next(), nullptr);
  EXPECT_EQ(queue.m_nIndex, 0);
  EXPECT_EQ(queue.Previous(), nullptr);
  EXPECT_EQ(queue.m_nIndex, 0);
  EXPECT_TRUE(queue.TakeError().IsEmpty());
}

TEST_F(QueueTest, BmpSourcesAreCopiedByteForByteNotConverted) {
  CConvertQueue queue;
  queue.StartThread();
  const std::string lower = Source("a.bmp");
  const std::string upper = Source("B.BMP");
  queue.Enqueue(lower.c_str());
  queue.Enqueue(upper.c_str());
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 2; }));

  const CString* first = queue.Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->str(), TempFolder() + "a.bmp.bmp");
  EXPECT_EQ(TextOfFile(first->str()), TextOfFile(lower));
  const CString* second = queue.Next();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->str(), TempFolder() + "B.BMP.bmp");
  EXPECT_EQ(TextOfFile(second->str()), TextOfFile(upper));
  EXPECT_TRUE(FakeConverter::Get().Sources().empty());
  queue.ClearAll();
}

TEST_F(QueueTest, SourcesAreConvertedOneAtATimeInQueueOrder) {
  CConvertQueue queue;
  queue.StartThread();
  const std::vector<std::string> names = {"c.jpg", "a.gif", "b.pcd", "d.jpeg"};
  for (const auto& name : names) queue.Enqueue(Source(name).c_str());
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 4; }));

  const auto converted = FakeConverter::Get().Sources();
  ASSERT_EQ(converted.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(converted[i], (m_sources / names[i]).string());
    const CString* entry = queue.Next();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->str(), TempFolder() + names[i] + ".bmp");
    EXPECT_EQ(TextOfFile(entry->str()), "converted from " + converted[i] + " colours 0");
  }
  EXPECT_EQ(FakeConverter::Get().maxOverlap, 1);
  queue.ClearAll();
}

TEST_F(QueueTest, NextWaitsAtTheEndUntilTheWorkerDelivers) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 3);
  for (int i = 0; i < 3; ++i) ASSERT_NE(queue.Next(), nullptr);
  EXPECT_EQ(queue.CanNext(), 0);
  EXPECT_EQ(queue.Next(), nullptr);
  EXPECT_EQ(queue.m_nIndex, 3);

  queue.Enqueue(Source("late.jpg").c_str());
  ASSERT_TRUE(WaitUntil([&] { return queue.CanNext() == 1; }));
  const CString* late = queue.Next();
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->str(), TempFolder() + "late.jpg.bmp");
  EXPECT_EQ(queue.m_nIndex, 4);
  queue.ClearAll();
}

// The window's wait for the worker ends at the hand-over of a converted file or of an error,
// not when its time runs out.
TEST_F(QueueTest, WaitForWorkerEndsAtEachHandOver) {
  for (const char* name : {"good.jpg", "bad.jpg"}) {
    CConvertQueue queue;
    queue.StartThread();
    FakeConverter::Get().Hold(true);
    queue.Enqueue(Source(name).c_str());
    ASSERT_TRUE(FakeConverter::Get().WaitUntilInside());
    EXPECT_FALSE(queue.WaitForWorker(0)) << name << ": nothing handed over yet";
    FakeConverter::Get().Hold(false);
    EXPECT_TRUE(queue.WaitForWorker(30000)) << name;
    EXPECT_TRUE(queue.CanNext() || !queue.TakeError().IsEmpty()) << name;
    queue.ClearAll();
  }
}

TEST_F(QueueTest, PreviousAtTheFirstEntryLeavesNothingShown) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 3);
  const CString* first = queue.Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(queue.CanPrevious(), 0);
  EXPECT_EQ(queue.Previous(), nullptr);
  EXPECT_EQ(queue.m_nIndex, 0);
  EXPECT_EQ(queue.Next(), first);

  ASSERT_NE(queue.Next(), nullptr);
  EXPECT_EQ(queue.CanPrevious(), 1);
  EXPECT_EQ(queue.Previous(), first);
  EXPECT_EQ(queue.m_nIndex, 1);
  queue.ClearAll();
}

TEST_F(QueueTest, DeleteCurrentDropsTheShownEntryAndItsFile) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 3);
  const std::string first = queue.Next()->str();
  const std::string second = queue.Next()->str();
  const std::string third = TempFolder() + "img2.jpg.bmp";
  ASSERT_TRUE(fs::exists(second));

  queue.DeleteCurrent();
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::exists(first));
  EXPECT_EQ(queue.m_nIndex, 1);
  EXPECT_EQ(queue.HistoryCount(), 2);
  const CString* next = queue.Next();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->str(), third);
  queue.ClearAll();
}

TEST_F(QueueTest, DeleteCurrentWithNothingShownDoesNothing) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 2);
  queue.DeleteCurrent();
  EXPECT_EQ(queue.HistoryCount(), 2);
  EXPECT_EQ(queue.m_nIndex, 0);
  queue.ClearAll();
}

TEST_F(QueueTest, TrimAtSeventeenKeepsTheShownImage) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 17);
  for (int i = 0; i < 10; ++i) ASSERT_NE(queue.Next(), nullptr);
  const std::string oldest = TempFolder() + "img0.jpg.bmp";
  const std::string shown = TempFolder() + "img9.jpg.bmp";
  ASSERT_TRUE(fs::exists(oldest));

  FakeConverter::Get().Hold(true);  // keep the new source pending while we look
  queue.Enqueue(Source("more.jpg").c_str());
  EXPECT_FALSE(fs::exists(oldest));
  EXPECT_EQ(queue.m_nIndex, 9);
  EXPECT_EQ(queue.HistoryCount(), 16);
  EXPECT_EQ(queue.Previous()->str(), TempFolder() + "img8.jpg.bmp");
  EXPECT_EQ(queue.Next()->str(), shown);
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 17; }));
  queue.ClearAll();
}

TEST_F(QueueTest, ReadAheadOutrunningTheWorkerStillKeepsSeventeenFiles) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 16);
  for (int i = 0; i < 5; ++i) ASSERT_NE(queue.Next(), nullptr);
  FakeConverter::Get().Hold(true);
  queue.Enqueue(Source("first-ahead.jpg").c_str());
  ASSERT_TRUE(FakeConverter::Get().WaitUntilInside());
  queue.Enqueue(Source("second-ahead.jpg").c_str());  // 16 converted and 2 on their way
  EXPECT_EQ(queue.HistoryCount(), 15);
  EXPECT_EQ(queue.m_nIndex, 4);
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.IsNextComing() == 0; }));
  EXPECT_EQ(queue.HistoryCount(), 17);
  queue.ClearAll();
}

TEST_F(QueueTest, NothingIsTrimmedBeforeTheFirstImageIsShown) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 17);
  FakeConverter::Get().Hold(true);
  queue.Enqueue(Source("more.jpg").c_str());
  EXPECT_EQ(queue.HistoryCount(), 17);
  EXPECT_EQ(queue.m_nIndex, 0);
  const CString* first = queue.Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->str(), TempFolder() + "img0.jpg.bmp");
  EXPECT_TRUE(fs::exists(first->str()));
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 18; }));
  queue.ClearAll();
}

TEST_F(QueueTest, RejectedSourceGivesOneErrorAndNoEntry) {
  CConvertQueue queue;
  queue.StartThread();
  queue.Enqueue(Source("bad1.jpg").c_str());
  queue.Enqueue(Source("good.jpg").c_str());
  queue.Enqueue(Source("bad2.gif").c_str());
  ASSERT_TRUE(WaitUntil([&] { return FakeConverter::Get().Sources().size() == 3 && queue.HistoryCount() == 1; }));
  ASSERT_TRUE(WaitUntil([&] {
    CSingleLock lock(&queue.m_csLock, TRUE);
    return queue.m_listErrors.GetCount() == 2;
  }));

  EXPECT_EQ(queue.TakeError().str(), "Convert Error " + TempFolder() + "bad1.jpg");
  EXPECT_EQ(queue.TakeError().str(), "Convert Error " + TempFolder() + "bad2.gif");
  EXPECT_TRUE(queue.TakeError().IsEmpty());
  EXPECT_FALSE(fs::exists(TempFolder() + "bad1.jpg.bmp"));
  EXPECT_EQ(queue.Next()->str(), TempFolder() + "good.jpg.bmp");
  queue.ClearAll();
}

TEST_F(QueueTest, SourcesThatCannotBeReadFailWithoutWaitingOnThem) {
  CConvertQueue queue;
  queue.StartThread();
  ASSERT_EQ(mkfifo((m_sources / "fifo.bmp").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((m_sources / "fifo.jpg").c_str(), 0600), 0);
  fs::create_directory(m_sources / "folder.jpg");
  const std::vector<std::string> failing = {"fifo.bmp", "fifo.jpg", "folder.jpg", "missing.bmp"};
  for (const std::string& name : failing) queue.Enqueue((m_sources / name).c_str());
  queue.Enqueue(Source("after.bmp").c_str());
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 1; })) << "the worker is stuck";

  for (const std::string& name : failing) EXPECT_EQ(queue.TakeError().str(), "Convert Error " + TempFolder() + name);
  EXPECT_TRUE(queue.TakeError().IsEmpty());
  EXPECT_EQ(queue.Next()->str(), TempFolder() + "after.bmp.bmp");
  EXPECT_TRUE(FakeConverter::Get().Sources().empty());
  queue.ClearAll();
}

TEST_F(QueueTest, EachResultIsWrittenUnderAFreshNameThenRenamedIntoPlace) {
  CConvertQueue queue;
  queue.StartThread();
  fs::create_directories(m_sources / "one");
  fs::create_directories(m_sources / "two");
  queue.Enqueue(Source("one/x.jpg").c_str());
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 1; }));
  const std::string converted = TempFolder() + "x.jpg.bmp";
  const std::string first = TextOfFile(converted);

  FakeConverter::Get().Hold(true);
  queue.Enqueue(Source("two/x.jpg").c_str());
  ASSERT_TRUE(FakeConverter::Get().WaitUntilInside());
  const std::string written = FakeConverter::Get().Destinations().back();
  EXPECT_NE(written, converted);
  EXPECT_EQ(written.rfind(TempFolder(), 0), 0u);
  EXPECT_EQ(written.substr(written.size() - 4), ".bmp");
  EXPECT_EQ(TextOfFile(converted), first) << "the file in place is untouched while the next one is written";
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 2; }));
  EXPECT_EQ(TextOfFile(converted), "converted from " + (m_sources / "two" / "x.jpg").string() + " colours 0");

  // A failed conversion leaves nothing behind either: the folder holds the one converted file.
  queue.Enqueue(Source("bad.jpg").c_str());
  ASSERT_TRUE(WaitUntil([&] { return !queue.TakeError().IsEmpty(); }));
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(TempFolder())) {
    if (entry.path().extension() == ".bmp") files.push_back(entry.path().string());
  }
  EXPECT_EQ(files, std::vector<std::string>{converted});
  queue.ClearAll();
}

TEST_F(QueueTest, FileOfTwoEntriesStaysUntilTheLastOfThemGoes) {
  CConvertQueue queue;
  queue.StartThread();
  const std::string twice = Source("twice.jpg");
  queue.Enqueue(twice.c_str());
  queue.Enqueue(twice.c_str());
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 2; }));
  Fill(queue, 15);
  ASSERT_EQ(queue.HistoryCount(), 17);
  ASSERT_NE(queue.Next(), nullptr);
  ASSERT_NE(queue.Next(), nullptr);
  const std::string converted = TempFolder() + "twice.jpg.bmp";

  FakeConverter::Get().Hold(true);
  queue.Enqueue(Source("more.jpg").c_str());  // trims the first entry
  EXPECT_TRUE(fs::exists(converted)) << "the second entry still shows it";
  queue.DeleteCurrent();
  EXPECT_FALSE(fs::exists(converted));
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 16; }));
  queue.ClearAll();
}

TEST_F(QueueTest, ClearAllDeletesEveryHistoryFile) {
  CConvertQueue queue;
  queue.StartThread();
  Fill(queue, 5);
  queue.Next();
  queue.Next();
  std::vector<std::string> files;
  for (int i = 0; i < 5; ++i) files.push_back(TempFolder() + "img" + std::to_string(i) + ".jpg.bmp");
  queue.Enqueue(Source("bad.jpg").c_str());
  ASSERT_TRUE(WaitUntil([&] {
    CSingleLock lock(&queue.m_csLock, TRUE);
    return queue.m_listErrors.GetCount() == 1;
  }));

  queue.ClearAll();
  for (const auto& file : files) EXPECT_FALSE(fs::exists(file)) << file;
  EXPECT_EQ(queue.HistoryCount(), 0);
  EXPECT_EQ(queue.m_listPending.GetCount(), 0);
  EXPECT_EQ(queue.m_listErrors.GetCount(), 0);
  EXPECT_EQ(queue.m_nIndex, 0);
  EXPECT_EQ(queue.CanNext(), 0);
}

TEST_F(QueueTest, ConversionRunningThroughClearAllIsDropped) {
  CConvertQueue queue;
  queue.StartThread();
  FakeConverter::Get().Hold(true);
  queue.Enqueue(Source("old.jpg").c_str());
  ASSERT_TRUE(FakeConverter::Get().WaitUntilInside());
  queue.Enqueue(Source("dropped.jpg").c_str());
  EXPECT_EQ(queue.IsNextComing(), 1);

  queue.ClearAll();
  queue.Enqueue(Source("new.jpg").c_str());
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.HistoryCount() == 1; }));
  // The old browsing's image never shows up under the new folder, and leaves no file behind.
  EXPECT_EQ(queue.Next()->str(), TempFolder() + "new.jpg.bmp");
  EXPECT_FALSE(fs::exists(TempFolder() + "old.jpg.bmp"));
  for (const auto& source : FakeConverter::Get().Sources()) EXPECT_EQ(source.find("dropped"), std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return queue.IsNextComing() == 0; }));
  queue.ClearAll();
}

TEST_F(QueueTest, ErrorOfAConversionRunningThroughClearAllIsDropped) {
  CConvertQueue queue;
  queue.StartThread();
  FakeConverter::Get().Hold(true);
  queue.Enqueue(Source("bad-old.jpg").c_str());
  ASSERT_TRUE(FakeConverter::Get().WaitUntilInside());
  queue.ClearAll();
  FakeConverter::Get().Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return queue.IsNextComing() == 0; }));
  EXPECT_TRUE(queue.TakeError().IsEmpty());
}

TEST_F(QueueTest, DestroyingAnIdleQueueStopsTheWorker) {
  for (int i = 0; i < 20; ++i) {
    CConvertQueue queue;
    queue.StartThread();
  }
  SUCCEED();  // each destruction returned: the waiting worker woke, saw the flag and ended
}

// Lets a test see that the stop sequence has begun.
class ObservedQueue : public CConvertQueue {
 public:
  const std::atomic<int>* StopFlag() const { return &m_bStop; }
};

TEST_F(QueueTest, DestroyingDuringAConversionWaitsAndDiscardsTheResult) {
  auto queue = std::make_unique<ObservedQueue>();
  queue->StartThread();
  const std::atomic<int>* stopFlag = queue->StopFlag();
  FakeConverter::Get().Hold(true);
  queue->Enqueue(Source("long.jpg").c_str());
  queue->Enqueue(Source("never.jpg").c_str());
  ASSERT_TRUE(FakeConverter::Get().WaitUntilInside());

  std::atomic<bool> destroyed{false};
  std::thread owner([&] {
    queue.reset();
    destroyed = true;
  });
  // Stopping has begun, and cannot end while the conversion is held.
  ASSERT_TRUE(WaitUntil([&] { return stopFlag->load() == 1; }));
  EXPECT_FALSE(destroyed.load());
  FakeConverter::Get().Hold(false);
  owner.join();
  EXPECT_TRUE(destroyed.load());
  EXPECT_FALSE(fs::exists(TempFolder() + "long.jpg.bmp"));
  EXPECT_EQ(FakeConverter::Get().Sources().size(), 1u);
}

TEST_F(QueueTest, DynamicallyCreatedWorkerObjectNeedsNoThread) {
  const CRuntimeClass* record = CRuntimeClass::FromName("CMultiThread");
  ASSERT_NE(record, nullptr);
  std::unique_ptr<CObject> object(record->CreateObject());
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CWinThread)));
}

// Thousands of user-interface operations against a running worker: the position always names
// an entry or nothing, and no operation crashes or races (make test-tsan runs this too).
TEST_F(QueueTest, StressAgainstARunningWorker) {
  CConvertQueue queue;
  queue.StartThread();
  std::vector<std::string> sources;
  for (int i = 0; i < 8; ++i) sources.push_back(Source("s" + std::to_string(i) + (i % 3 == 0 ? ".bmp" : ".jpg")));
  sources.push_back(Source("bad.jpg"));

  std::mt19937 random(12345);
  for (int step = 0; step < 20000; ++step) {
    switch (random() % 9) {
      case 0:
      case 1:
      case 2:
        queue.Enqueue(sources[random() % sources.size()].c_str());
        break;
      case 3:
      case 4:
        if (const CString* shown = queue.Next()) {
          EXPECT_FALSE(shown->IsEmpty());
        }
        break;
      case 5:
        queue.Previous();
        break;
      case 6:
        queue.DeleteCurrent();
        break;
      case 7:
        queue.TakeError();
        break;
      default:
        if (random() % 20 == 0) queue.ClearAll();
        break;
    }
    const int count = queue.HistoryCount();
    const int index = queue.Index();
    ASSERT_GE(index, 0);
    ASSERT_LE(index, count);
    (void)queue.CanNext();
    (void)queue.CanPrevious();
  }
  queue.ClearAll();
}

}  // namespace
