// Writes the application's profile on a thread of its own, so that the thread that changes a
// setting (the window's) never waits for the disk. Edits are made in the order they were handed
// over, each write replacing the whole file as WriteProfileStrings does: the newest value wins,
// and the file never holds half of a write.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "afx/ProfileFile.h"

namespace vimo::platform {

class ProfileWriter {
 public:
  // failed is called on the writer's thread, with errno's value, after each write that failed;
  // the edits of that write are kept and tried again with the next write or flush.
  explicit ProfileWriter(std::function<void(int error)> failed);
  // Writes the edits no write has tried yet, then ends the thread (edits whose write failed are
  // not tried again: Flush does that).
  ~ProfileWriter();
  ProfileWriter(const ProfileWriter&) = delete;
  ProfileWriter& operator=(const ProfileWriter&) = delete;

  // Hands over edits of the profile at path (whose folder is made when missing). Returns at once.
  void Write(const std::string& path, std::vector<ProfileEdit> edits);
  // The newest edit of entry in section of the profile at path that is not in the file yet.
  std::optional<ProfileEdit> Unwritten(const std::string& path, const std::string& section,
                                       const std::string& entry) const;
  // Whether the last write failed (and no write since has succeeded).
  bool Failing() const;
  // Waits until every edit handed over is in its file, or has been tried once more and failed
  // (failed is called then, as for every failure). True when all are in their files; otherwise
  // error holds the last failure's errno.
  bool Flush(int& error);

 private:
  struct Batch {
    std::string path;
    std::vector<ProfileEdit> edits;
  };
  void Run();
  // Writes a copy of the waiting batches, one replacement per file; the paths written.
  static std::vector<std::string> WriteAll(const std::vector<Batch>& batches, int& error);

  const std::function<void(int)> m_failed;
  // Everything below up to the thread is guarded by m_lock.
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<Batch> m_waiting;  // handed over, not yet in their files, oldest first
  bool m_bUntried = false;       // m_waiting holds edits no write has tried since they came
  bool m_bWriting = false;       // the thread writes a copy of m_waiting's first batches now
  bool m_bStop = false;
  int m_nLastError = 0;  // 0 once a write succeeded
  std::thread m_thread;  // last: started once the members it uses exist
};

}  // namespace vimo::platform
