// The shell's thumbnail service: the desktop's shared thumbnail cache, kept as file managers and
// viewers keep it (the freedesktop.org Thumbnail Managing Standard), so that a thumbnail one of
// them made serves the others.
//
// Thumbnails live in $XDG_CACHE_HOME/thumbnails/ (else ~/.cache/thumbnails/): in normal/ (at most
// 128 pixels a side), large/ (256), x-large/ (512) and xx-large/ (1024), each a PNG named by the
// MD5 of the file's URI, holding the URI and the file's modification time (Thumb::URI,
// Thumb::MTime), its size (Thumb::Size) and the maker (Software). A thumbnail whose time differs
// from the file's is made again. Files that give no picture are recorded under
// fail/vimo-3.2/, so that they are not tried again until they change. New thumbnails are written
// under a temporary name and renamed into place, mode 0600, in folders made 0700. A cache that
// cannot be written still gives thumbnails; nothing is written then.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "afx/Bitmap.h"

// What a thumbnail provider makes of a file: its picture, top row first, 4 bytes a pixel (red,
// green, blue, alpha), at least the asked size on its longer side (or whole, when smaller); and
// how its pixels are to be turned to be seen upright, as DrawDibDraw takes it (1: as stored).
struct THUMBNAILPIXELS {
  UINT cx = 0;
  UINT cy = 0;
  std::vector<BYTE> rgba;
  int nOrientation = 1;
};

// Makes the picture for a thumbnail of cx pixels of the file at path; FALSE, with the reason in
// a few English words, when the file gives none. Runs on the service's threads, several at once.
using PFNTHUMBNAILPROVIDER = BOOL (*)(const char* path, UINT cx, THUMBNAILPIXELS& pixels, CString& reason);

class CThumbnailCache {
 public:
  struct CThumbnail {
    CString strPath;
    UINT cx = 0;          // the size asked for
    CBitmap bitmap;       // upright, at most cx pixels a side; empty when the file gave none
    CString strReason;    // why there is none
  };

  // Nothing starts here: the threads start with the first request, nThreads of them at most;
  // with bBackground they make thumbnails at a lower priority than the program's other work.
  explicit CThumbnailCache(int nThreads = 1, BOOL bBackground = TRUE);
  // Close, if it did not run yet.
  ~CThumbnailCache();
  CThumbnailCache(const CThumbnailCache&) = delete;
  CThumbnailCache& operator=(const CThumbnailCache&) = delete;

  void SetProvider(PFNTHUMBNAILPROVIDER pfnProvider);
  // While hold() answers TRUE, no new thumbnail is begun (it is asked on the threads, before each
  // one, and again every few milliseconds while it holds).
  void SetHold(std::function<bool()> hold);
  // Thumbnails that become ready are announced by posting nMessage (wParam and lParam 0) to the
  // window, once until TakeReady has taken them.
  void SetNotifyWindow(HWND hWnd, UINT nMessage);

  // The thumbnails of cx pixels wanted now, most wanted first. The first nShown are delivered
  // (TakeReady) when ready, read from the cache or made; the others are only made into the cache.
  // The first nOnScreen of those are on screen now: when the last of them is ready, it is
  // announced at once rather than with the next ones. Replaces the earlier request: what it no
  // longer names is not begun.
  void Request(const std::vector<CString>& paths, std::size_t nShown, UINT cx, std::size_t nOnScreen = 0);
  // The thumbnails delivered since the last call, in the order they became ready.
  std::vector<CThumbnail> TakeReady();
  // Waits until a thumbnail is ready to be taken or nothing asked is left to do; FALSE when
  // dwTimeout milliseconds passed first.
  BOOL WaitForReady(DWORD dwTimeout);

  // Stops the threads (a thumbnail being made is finished first) and waits for them; nothing is
  // made or delivered afterwards. For the owner's end, before what the provider uses goes.
  void Close();

  // Removes the file's thumbnails of every size, and its record of failure, from the cache: for
  // a file whose picture changed while its time did not.
  static void ForgetFile(const char* path);

 private:
  struct CState;
  std::unique_ptr<CState> m_pState;
};
