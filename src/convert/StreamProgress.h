// What the conversion under way has written so far, for the window that waits for its image:
// the window shows the rows already in the file while the rest is still being decoded.
//
// The conversion that is watched (the worker's, or the one begun ahead) says which source it
// converts; the JPEG stream says, after each block of rows, how many of the image's top rows its
// file holds complete. The window is told (one call at a time: the next once it has taken the
// news), so it follows at its own pace and reads the news on its own thread.
#pragma once

#include <functional>
#include <string>

class CStreamProgress {
 public:
  // The news as the window takes it.
  struct CState {
    unsigned nSerial = 0;  // raised by each conversion begun; 0 before the first
    std::string source;    // the source converted
    std::string written;   // the BMP file its rows go to; empty until rows are there
    int nRows = 0;         // rows of the image, top first, complete in that file
    bool bEnded = false;   // the conversion has ended (its result is being handed over)
  };

  // Watches the conversion of source on this thread for as long as it lives.
  class CWatch {
   public:
    explicit CWatch(const std::string& source);
    ~CWatch();
    CWatch(const CWatch&) = delete;
    CWatch& operator=(const CWatch&) = delete;
  };

  // Whether a conversion is watched on this thread: only its rows are news.
  static bool Watching();
  // The top nRows rows of the image are complete in the BMP file at path, which keeps its size
  // from now on. Only for a conversion Watching saw watched, from its thread or a helper of it
  // that ends before it does (the thread that finishes its rows).
  static void Rows(const char* path, int nRows);

  // From now on tell is called at news (on the thread that has it, one call until the news is
  // taken): it posts to the window and wakes a wait of the window's thread. Empty: no one is told.
  static void Listen(std::function<void()> tell);
  // The news, from the window's thread: the next change will be posted again.
  static CState Take();
};
