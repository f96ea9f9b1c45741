#include "convert/RowBands.h"

#include <thread>
#include <utility>

#include "afx/WinThread.h"

namespace vimo::convert {

bool CRowBands::Worthwhile() { return std::thread::hardware_concurrency() > 1; }

CRowBands::CRowBands(std::size_t bandBytes, Finish finish) : m_finish(std::move(finish)) {
  for (CBand& band : m_bands) band.rows.assign(bandBytes, 0);
  m_thread = AfxBeginThread(&CRowBands::FinishProc, this);
}

CRowBands::~CRowBands() {
  {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_ending = true;
  }
  m_changed.notify_all();
  m_thread.reset();  // joins
}

std::uint8_t* CRowBands::Free() {
  std::unique_lock<std::mutex> lock(m_lock);
  // A band is free once the one handed kBands before it is finished (or finishing stopped).
  m_changed.wait(lock, [this] { return m_stopped || m_handed - m_finished < kBands; });
  return m_bands[m_handed % kBands].rows.data();
}

void CRowBands::Hand(std::size_t first, std::size_t count) {
  {
    const std::lock_guard<std::mutex> lock(m_lock);
    CBand& band = m_bands[m_handed % kBands];
    band.first = first;
    band.count = count;
    ++m_handed;
  }
  m_changed.notify_all();
}

bool CRowBands::Drain() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_changed.wait(lock, [this] { return m_stopped || m_finished == m_handed; });
  return !m_stopped;
}

bool CRowBands::Stopped() {
  const std::lock_guard<std::mutex> lock(m_lock);
  return m_stopped;
}

unsigned int CRowBands::FinishProc(void* pParam) {
  static_cast<CRowBands*>(pParam)->Run();
  return 0;
}

void CRowBands::Run() {
  std::unique_lock<std::mutex> lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return m_ending || m_finished < m_handed; });
    if (m_ending || m_stopped) return;
    CBand& band = m_bands[m_finished % kBands];
    // The band is this thread's until it is counted finished: the decoder fills only free ones.
    lock.unlock();
    const bool goOn = m_finish(band.rows.data(), band.first, band.count);
    lock.lock();
    ++m_finished;
    if (!goOn) m_stopped = true;
    m_changed.notify_all();
    if (m_stopped) return;
  }
}

}  // namespace vimo::convert
