// The thumbnail maker: threads that take the thumbnails a list wants from the desktop's shared
// cache (win32/ThumbnailCache.h), or make them with the program's provider and put them there,
// those on screen first, and hand them to the window in batches.
//
// While thumbnails to be shown are still being made, those made are written to the cache only
// once the last of them is ready (up to a few megabytes of pictures wait): encoding them would
// hold up the rest of the screenful. Ready thumbnails are announced to the window at most every
// tenth of a second, but for the last of a screenful, which is announced at once.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "afx/afxwin.h"
#include "win32/ThumbnailPicture.h"

// Makes the picture for a thumbnail of cx pixels of the file at path; FALSE, with the reason in
// a few English words, when the file gives none. Runs on the maker's threads, several at once.
using PFNTHUMBNAILPROVIDER = BOOL (*)(const char* path, UINT cx, THUMBNAILPIXELS& pixels, CString& reason);
// The caption shown under the thumbnail of the file at path. Runs on the maker's threads.
using PFNTHUMBNAILCAPTION = CString (*)(const char* path);

class CThumbnailMaker {
 public:
  struct CThumbnail {
    CString strPath;
    UINT cx = 0;          // the size asked for
    CBitmap bitmap;       // upright, at most cx pixels a side; empty when the file gave none
    CString strReason;    // why there is none
    CString strCaption;   // from the caption function, when one is set
  };

  // Nothing starts here: the threads start with the first request, nThreads of them at most;
  // with bBackground they make thumbnails at a lower priority than the program's other work.
  explicit CThumbnailMaker(int nThreads = 1, BOOL bBackground = TRUE);
  // Close, if it did not run yet.
  ~CThumbnailMaker();
  CThumbnailMaker(const CThumbnailMaker&) = delete;
  CThumbnailMaker& operator=(const CThumbnailMaker&) = delete;

  void SetProvider(PFNTHUMBNAILPROVIDER pfnProvider);
  // Each thumbnail delivered from now on comes with pfnCaption's caption (nullptr: none).
  void SetCaption(PFNTHUMBNAILCAPTION pfnCaption);

  // A file's thumbnails in the shared cache, read before the file gets another name: the cache
  // names them by the file's URI, so each is written again under the new name (with that URI),
  // and the old ones go. Those that are not current are not carried.
  struct CCarried {
    std::vector<std::pair<UINT, CBitmap>> pictures;  // by the side of their size in the cache
  };
  static CCarried TakeThumbnails(const char* path);
  // The file is at newPath now: its thumbnails are put there, those of oldPath removed.
  static void PutThumbnails(const CCarried& carried, const char* oldPath, const char* newPath);
  // While hold() answers TRUE, no new thumbnail is begun (it is asked on the threads, before each
  // one, and again every few milliseconds while it holds).
  void SetHold(std::function<bool()> hold);
  // Thumbnails that become ready are announced by posting nMessage (wParam and lParam 0) to the
  // window, once until TakeReady has taken them. On the window's thread.
  void SetNotifyWindow(HWND hWnd, UINT nMessage);

  // The thumbnails of cx pixels wanted now, most wanted first. The first nShown are delivered
  // (TakeReady) when ready, read from the cache or made; the others are only made into the cache.
  // The first nOnScreen of those are on screen now: when the last of them is ready, it is
  // announced at once rather than with the next ones. Replaces the earlier request: what it no
  // longer names is not begun.
  void Request(const std::vector<CString>& paths, std::size_t nShown, UINT cx, std::size_t nOnScreen = 0);
  // The thumbnails delivered since the last call, in the order they became ready. Within a tenth
  // of a second of the last call, none unless the last of those shown or on screen is among them:
  // the announcement comes again when that time is up (a timer on the window).
  std::vector<CThumbnail> TakeReady();

  // Stops the threads (a thumbnail being made is finished first) and waits for them; nothing is
  // made or delivered afterwards. For the owner's end, before what the provider uses goes.
  void Close();

 private:
  struct CState;
  static UINT RunProc(LPVOID pParam);
  static void AnnounceAgain(HWND hWnd, UINT uMsg, UINT_PTR nIDEvent, DWORD dwTime);

  std::unique_ptr<CState> m_pState;
};
