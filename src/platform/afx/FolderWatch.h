// Watches one folder for files that other programs add, remove or rename (inotify), and tells a
// window so by a posted message: kQuietMs after the first change of a burst (those within that
// time are told by the same message), and never for nothing.
#pragma once

#include <memory>

#include "afx/afx.h"

class CWnd;

class CFolderWatch {
 public:
  static constexpr int kQuietMs = 150;  // how long a burst of changes is gathered

  CFolderWatch();
  ~CFolderWatch();
  CFolderWatch(const CFolderWatch&) = delete;
  CFolderWatch& operator=(const CFolderWatch&) = delete;

  // Watches folder (its bytes, any name) from now on instead of any other: a change of its
  // entries, or the folder itself removed or moved, posts nMessage to pWnd. FALSE, nothing
  // watched, when the system cannot watch it (no such folder, no watches left).
  BOOL Watch(const char* folder, CWnd* pWnd, UINT nMessage);
  // No folder is watched; nothing more is posted.
  void Stop();
  // The folder watched ("" when none).
  const CString& GetFolder() const { return m_strFolder; }

 private:
  struct Impl;
  std::unique_ptr<Impl> m_pImpl;
  CString m_strFolder;
};
