// A bounded hand-over of row bands from a decoder to a thread that finishes them: the decoder
// fills one band while the other thread finishes the one before (a colour transform and the
// write into the BMP file), so the two halves of a managed conversion share two processors.
// Bands are finished in the order they were handed over; at most kBands are held.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CWinThread;

namespace vimo::convert {

class CRowBands {
 public:
  static constexpr std::size_t kBands = 4;

  // finish(rows, first, count) is called on the finishing thread for each band handed over, in
  // order; it returns false to stop (a failed write): the bands after it are dropped.
  using Finish = std::function<bool(std::uint8_t* rows, std::size_t first, std::size_t count)>;

  // Whether handing bands to a second thread pays on this machine (more than one processor).
  static bool Worthwhile();

  // Starts the finishing thread, with kBands bands of bandBytes each.
  CRowBands(std::size_t bandBytes, Finish finish);
  // Stops the finishing thread once the band it finishes is done (bands still waiting are
  // dropped) and waits for it.
  ~CRowBands();
  CRowBands(const CRowBands&) = delete;
  CRowBands& operator=(const CRowBands&) = delete;

  // The next band to fill, once the finishing thread has let go of it.
  std::uint8_t* Free();
  // Hands over the band Free returned, holding rows first to first + count - 1.
  void Hand(std::size_t first, std::size_t count);
  // Waits until every band handed over is finished. False when finishing stopped.
  bool Drain();
  // Whether finishing stopped (readable from the decoder's thread at any time).
  bool Stopped();

 private:
  struct CBand {
    std::vector<std::uint8_t> rows;
    std::size_t first = 0;
    std::size_t count = 0;
  };
  static unsigned int FinishProc(void* pParam);
  void Run();

  Finish m_finish;
  std::mutex m_lock;
  std::condition_variable m_changed;
  CBand m_bands[kBands];
  std::size_t m_handed = 0;    // bands handed over so far (guarded by m_lock)
  std::size_t m_finished = 0;  // bands finished so far (guarded by m_lock)
  bool m_stopped = false;      // finish returned false (guarded by m_lock)
  bool m_ending = false;       // the destructor runs (guarded by m_lock)
  std::unique_ptr<CWinThread> m_thread;  // last: started once the members it uses exist
};

}  // namespace vimo::convert
