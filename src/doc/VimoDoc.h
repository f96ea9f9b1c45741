// The one document: the shown image as a packed bitmap, the browsing state of a folder or of a
// multiple selection, and the conversion queue whose worker converts ahead of the user.
#pragma once

#include <climits>
#include <memory>

#include "afx/afxwin.h"
#include "convert/ConvertQueue.h"
#include "doc/GifAnimation.h"
#include "win32/MappedFile.h"

class CVimoDoc : public CDocument {
  DECLARE_DYNCREATE(CVimoDoc)

 protected:
  CVimoDoc();

 public:
  // Empties the queue (deleting every temporary file), frees the image, closes the drawing
  // handle and the folder search, then the queue joins its worker.
  ~CVimoDoc() override;

  // Nothing is read or written here: the image comes through LoadDib.
  void Serialize(CArchive& ar) override;
  BOOL OnNewDocument() override;

  // Starts browsing from path (its folder), or with NULL from the Open dialog's choice.
  void OpenImages(const char* path);
  // One read-ahead step: queues the next image of the folder or of the selection.
  void QueueNextImage();
  // Loads a converted BMP file as the shown image; success and failure show in the title.
  void LoadDib(const char* path);
  // The pixel rows inside m_pDib (never beyond the bytes loaded).
  const BYTE* GetBits();
  // Asks for a name and copies path there byte for byte.
  void SaveCopyAs(const char* path);
  // Converts the shown image and those converted ahead of it again (a conversion setting
  // changed); the shown one is shown again once it is converted.
  void ConvertAgain();
  // One step of the shown animated GIF: its next frame becomes the shown image. Returns the
  // milliseconds until the next step, 0 once it has ended or when no animation is shown.
  UINT StepAnimation();
  // The background the shown animation is drawn on (the window colour, black in full screen):
  // its see-through and cleared parts take it.
  void SetAnimationBackground(COLORREF crBackground);

  // Where the shown image starts, read like a pointer; owns nothing.
  struct CShownDib {
    const BYTE* get() const { return m_pBytes; }
    friend bool operator==(const CShownDib& dib, std::nullptr_t) { return dib.m_pBytes == nullptr; }
    const BYTE* m_pBytes = nullptr;
  };

  char m_szFolder[PATH_MAX];  // ends with '/' unless empty; a longer folder is refused with a message
  HDRAWDIB m_hDrawDib;   // opened at construction, closed at destruction
  // The loaded file: the converted BMP file after its 14-byte header, every image it holds,
  // mapped read-only (the worker never rewrites a converted file: new ones are renamed into place).
  vimo::platform::MappedFile m_fileDib;
  // The shown image: the loaded file's first image, or the canvas of the animation shown.
  CShownDib m_pDib;
  std::size_t m_nDibSize = 0;      // bytes of m_pDib: all that the file holds, or the canvas
  const BYTE* m_pBits;             // the pixel rows inside m_pDib
  // How the shown image's source file says its pixels are to be turned to be seen upright, as
  // DrawDibDraw takes it (1: as stored); read from the source's EXIF block at each load.
  int m_nOrientation = 1;
  // The animated GIF shown, which plays from m_fileDib; null for a still image.
  std::unique_ptr<CGifAnimation> m_pAnimation;
  COLORREF m_crAnimationBackground = GetSysColor(COLOR_WINDOW);
  CConvertQueue m_queue;
  WIN32_FIND_DATAA m_findData;
  HANDLE m_hFind;        // the folder search in progress, NULL when none is open
  int m_nReadAhead;      // read-ahead steps still allowed; below 0 once used up
  CString m_strFileName; // name of the file last opened by path; the folder walk passes over it
  std::unique_ptr<char[]> m_pOpenBuf;  // 16384 bytes: the Open dialog's result
  int m_nNextName;       // offset in m_pOpenBuf of the next chosen name; 0 while browsing a folder
  // Browsing on from the opened file (g_bBrowseFromOpened when it was opened by path): the walk
  // started after it and goes on from the folder's beginning when the listing runs out
  // (m_bWrapPending); once it has (m_bWrapped), reaching the opened file ends it.
  BOOL m_bWrapPending = FALSE;
  BOOL m_bWrapped = FALSE;
  int m_nNextWanted = 0; // Next presses that found no converted image yet; the frame's wait
                         // answers them one image each, in history order

  static constexpr int kOpenBufSize = 16384;

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  void CloseSearch();
  // Makes the cbDib bytes at pDib the shown image; fd and offset as DrawDibSetSource takes them.
  void ShowDib(const BYTE* pDib, std::size_t cbDib, int fd, std::uint64_t offset);
  // Whether name is that of the file last opened by path.
  BOOL IsOpenedName(const char* name) const;
  // Ends a browsing start on a path longer than the platform's paths, saying so: nothing is
  // browsed, and no earlier folder can be mistaken for this one.
  void RefuseLongPath(const char* path);
  // Hands path to the queue and counts it for this browsing start; a path too long for the
  // platform is refused with a message instead.
  void Queue(const char* path);
  int m_nQueued = 0;
  // Runs the Open dialog; FALSE when cancelled. Sets rPath and, for several files, the folder,
  // the selection offset and the read-ahead count.
  BOOL RunOpenDialog(CString& rPath);
};

// TRUE when a lower-cased copy of name ends in .bmp, .jpg, .jpe, .gif, .pcd or .jpeg (with
// g_bOtherFormats also .png, .webp, .tif, .tiff, .heic, .heif or .avif).
BOOL IsImageName(const char* name);
