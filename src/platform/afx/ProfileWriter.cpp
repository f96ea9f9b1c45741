#include "afx/ProfileWriter.h"

#include <algorithm>
#include <cerrno>

#include "win32/UserFolders.h"

namespace vimo::platform {

ProfileWriter::ProfileWriter(std::function<void(int error)> failed)
    : m_failed(std::move(failed)), m_thread([this] { Run(); }) {}

ProfileWriter::~ProfileWriter() {
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_bStop = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void ProfileWriter::Write(const std::string& path, std::vector<ProfileEdit> edits) {
  if (edits.empty()) return;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_waiting.push_back(Batch{path, std::move(edits)});
    m_bUntried = true;
  }
  m_changed.notify_all();
}

std::optional<ProfileEdit> ProfileWriter::Unwritten(const std::string& path, const std::string& section,
                                                    const std::string& entry) const {
  const std::lock_guard<std::mutex> guard(m_lock);
  for (auto batch = m_waiting.rbegin(); batch != m_waiting.rend(); ++batch) {
    if (batch->path != path) continue;
    if (const ProfileEdit* edit = LastEditOf(batch->edits, section, entry)) return *edit;
  }
  return std::nullopt;
}

bool ProfileWriter::Failing() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  return m_nLastError != 0;
}

bool ProfileWriter::Flush(int& error) {
  std::unique_lock<std::mutex> guard(m_lock);
  if (m_waiting.empty()) return true;
  m_bUntried = true;  // what failed before is tried once more
  m_changed.notify_all();
  m_changed.wait(guard, [&] { return !m_bUntried && !m_bWriting; });
  error = m_nLastError;
  return m_waiting.empty();
}

std::vector<std::string> ProfileWriter::WriteAll(const std::vector<Batch>& batches, int& error) {
  std::vector<std::string> tried;
  std::vector<std::string> written;
  for (const Batch& batch : batches) {
    if (std::find(tried.begin(), tried.end(), batch.path) != tried.end()) continue;
    tried.push_back(batch.path);
    // Every edit of this file, in the order handed over, in one replacement.
    std::vector<ProfileEdit> edits;
    for (const Batch& each : batches) {
      if (each.path == batch.path) edits.insert(edits.end(), each.edits.begin(), each.edits.end());
    }
    const size_t slash = batch.path.rfind('/');
    if (slash != std::string::npos && slash > 0) MakeFolders(batch.path.substr(0, slash));
    errno = 0;
    if (WriteProfileStrings(batch.path.c_str(), edits)) written.push_back(batch.path);
    else error = errno != 0 ? errno : EIO;
  }
  return written;
}

void ProfileWriter::Run() {
  std::unique_lock<std::mutex> guard(m_lock);
  for (;;) {
    m_changed.wait(guard, [&] { return m_bUntried || m_bStop; });
    if (!m_bUntried) return;
    m_bUntried = false;
    m_bWriting = true;
    const std::vector<Batch> batches = m_waiting;
    guard.unlock();
    int error = 0;
    const std::vector<std::string> written = WriteAll(batches, error);
    guard.lock();
    // The batches copied are the first ones still waiting: later ones were only added behind them.
    std::vector<Batch> still;
    for (size_t i = 0; i < m_waiting.size(); ++i) {
      if (i >= batches.size() || std::find(written.begin(), written.end(), m_waiting[i].path) == written.end())
        still.push_back(std::move(m_waiting[i]));
    }
    m_waiting = std::move(still);
    m_nLastError = error;
    if (error != 0) {
      // Said before a flush that waits for this write returns.
      guard.unlock();
      m_failed(error);
      guard.lock();
    }
    m_bWriting = false;
    m_changed.notify_all();
  }
}

}  // namespace vimo::platform
