// The one document: the shown image as a packed bitmap, the browsing state of a folder or of a
// multiple selection, and the conversion queue whose worker converts ahead of the user.
#pragma once

#include <climits>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "afx/afxwin.h"
#include "convert/ConvertQueue.h"
#include "doc/FolderImages.h"
#include "doc/GifAnimation.h"
#include "afx/FolderWatch.h"
#include "win32/MappedFile.h"
#include "win32/Trash.h"

// The document asks the window to wait for its worker: set when an image was asked for that is not
// converted yet; the application's idle processing turns it into WM_POLL_QUEUE to the main frame.
extern int g_bPollQueue;

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
  // Opens a folder for the grid: its images listed in the browse order, the image shown before
  // let go; nothing is converted until one is chosen.
  void OpenFolder(const char* folder);
  // Shows the image at nIndex of the browse list next, and browses on from it in the list's order,
  // round to the one before it. The images shown so far stay behind it (Shift+Tab goes back).
  void BrowseFrom(int nIndex);
  // The place of the shown image in the browse list, or -1.
  int GetShownIndex() const;
  // Puts a folder's browse list in the order chosen (g_nSortOrder, g_bSortReverse); the
  // read-ahead goes on from the shown image in the new order.
  void SortImages();
  // The files of these names were deleted: they leave the browse list (the shown one as a delete
  // leaves it), and the read-ahead goes on from the shown image without them.
  void ForgetImages(const std::vector<CString>& names);
  // Loads a converted BMP file as the shown image; success and failure show in the title.
  void LoadDib(const char* path);
  // The pixel rows inside m_pDib (never beyond the bytes loaded).
  const BYTE* GetBits();
  // Asks for a name and copies path there byte for byte.
  void SaveCopyAs(const char* path);
  // Converts the shown image and those converted ahead of it again (a conversion setting
  // changed); the shown one is shown again once it is converted.
  void ConvertAgain();
  // One step of the shown animated GIF: its next frame becomes the shown image, which the views
  // are told. Returns the milliseconds until the next step, 0 once it has ended, was stopped, or
  // when no animation is shown.
  UINT StepAnimation();
  // The background the shown animation is drawn on (the window colour, black in full screen):
  // its see-through and cleared parts take it, and the views are told when that changes them.
  void SetAnimationBackground(COLORREF crBackground);

  // A file a delete moved into the trash: the path it was deleted by, and where it went. Or a
  // file renamed or moved to movedTo (Undo moves it back), or copied there with bCopy (Undo moves
  // the copy into the trash).
  struct CTrashed {
    CString path;
    vimo::platform::TrashEntry entry;
    CString movedTo;
    BOOL bCopy = FALSE;
  };
  // The files one delete, rename, move or copy dealt with (one file or several) are one step of
  // Undo. The steps are kept, newest last, while the viewer runs; beyond kUndoSteps the oldest
  // is let go.
  void RememberTrashed(std::vector<CTrashed> step);
  BOOL CanRestoreTrashed() const { return !m_trashSteps.empty(); }
  // A file Undo put back (error 0), or why not: errno's reason (EEXIST: its name is taken;
  // ESTALE: it is no longer in the trash, so it can never be).
  struct CRestored {
    CString path;
    int error = 0;
    BOOL bBack = TRUE;  // FALSE: a copy taken away (into the trash), nothing to show again
  };
  // Puts every file of the newest step back where it was (a copy goes into the trash). Those that
  // may go back later (their name is taken, ...) stay the newest step; those put back or gone
  // from the trash (or from where they were moved) leave it.
  std::vector<CRestored> RestoreTrashed();
  // A file put back: shown next and browsed on from at its place in the browse list, as the grid's
  // choice is; the browsed folder is listed again for it. FALSE, nothing shown, when it is not one
  // of the images browsed.
  BOOL BrowseRestored(const char* path);
  static constexpr std::size_t kUndoSteps = 32;

  // The browsed folder's file oldName was renamed newName: the browse list, the converted
  // files of the history and the title follow it.
  void RenameImage(const CString& oldName, const CString& newName);
  // Another program changed the browsed folder's entries: the browse list is read again when
  // they differ from it, and the walk goes on from the shown image. When the shown file is gone,
  // the next image of the list is shown instead and its name returned (else "").
  CString FolderChanged();

  // The sizes of a lossless turn that must cut the edges a JPEG's blocks cannot turn, as the
  // picture is shown: before the turn, and what the turn keeps.
  struct CTurnCut {
    CSize sizeBefore;
    CSize sizeKept;
  };
  // Writes the turn nTurn (as DrawDibDraw takes it) of the shown JPEG's stored pixels into the file
  // without loss; a turn that cuts edges only once askCut agrees. Why the file stays unchanged is
  // said. TRUE once it is turned: its thumbnails in the desktop's cache are made again, and the
  // shown image stands for the file as it is now (turned and cut as the file was, orientation 1).
  BOOL SaveTurn(int nTurn, const std::function<BOOL(const CTurnCut&)>& askCut);
  // The part of the shown bitmap that stands for its source file now: all of it, unless the file
  // was turned (and cut) in place since its conversion. FALSE without an image or for a negative
  // size (a top-down bitmap). The sizes are the 16-bit ones of a 12-byte core header, else the
  // signed 32-bit ones.
  BOOL GetShownSource(CSize& sizeStored, CRect& rcSource) const;
  // The shown file is a JPEG (by its content), read at each image.
  BOOL IsShownJpeg() const { return m_bShownJpeg; }
  // The shown file is gone (deleted or moved into the trash): the title empties, its name leaves
  // the browse list, its converted file the history, and an animation stops on the frame shown,
  // which stays painted.
  void ForgetShownFile();
  // Hints of UpdateAllViews: another image is shown (its size, zoom, turns and animation start
  // afresh); the animation's next frame is on the canvas (the same size, other pixels).
  static constexpr LPARAM kHintNewImage = 0;
  static constexpr LPARAM kHintNextFrame = 1;
  // The browse list changed (its order, its folder, files taken out of it); the shown image did not.
  static constexpr LPARAM kHintBrowseList = 2;
  // Images went onto the Image Gift stack or left it (a send); nothing else changed.
  static constexpr LPARAM kHintGiftStack = 3;

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
  // How the shown converted file stands for its source: turned (and cut) as its source file was
  // turned in place since it was converted; read from the queue at each image.
  CConvertedTurn m_shownTurn;
  // The animated GIF shown, which plays from m_fileDib; null for a still image.
  std::unique_ptr<CGifAnimation> m_pAnimation;
  COLORREF m_crAnimationBackground = GetSysColor(COLOR_WINDOW);
  CConvertQueue m_queue;
  CFolderImages m_images;  // the images browsed, in the browse order
  int m_nNextEntry = 0;    // the place in m_images the folder walk takes next
  int m_nReadAhead;      // read-ahead steps still allowed; below 0 once used up
  CString m_strFileName; // name of the file opened first (by path, or chosen alone in the Open
                         // dialog); the folder walk passes over it
  std::unique_ptr<char[]> m_pOpenBuf;  // 16384 bytes: the Open dialog's result
  int m_nNextName;       // offset in m_pOpenBuf of the next chosen name; 0 while browsing a folder
  // Browsing on from the opened file (g_bBrowseFromOpened when it was opened by path, or an image
  // chosen in the grid): the walk started after it and goes on from the list's beginning when
  // the list runs out (m_bWrapPending); once it has (m_bWrapped), reaching that file ends it.
  BOOL m_bWrapPending = FALSE;
  BOOL m_bWrapped = FALSE;
  int m_nNextWanted = 0; // Next presses that found no converted image yet; the frame's wait
                         // answers them one image each, in history order

  static constexpr int kOpenBufSize = 16384;

 protected:
  // The View menu's browse orders: each re-sorts the list and is remembered.
  BOOL OnViewSortOrder(UINT nID);
  void OnUpdateViewSortOrder(CCmdUI* pCmdUI);
  void OnViewSortReverse();
  void OnUpdateViewSortReverse(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  // A load that failed: the title says why, and the image shown stays, still.
  void FailLoad(const char* lpszTitle);
  BOOL m_bAnimationStopped = FALSE;  // the animation shown stays on its frame
  std::deque<std::vector<CTrashed>> m_trashSteps;  // Undo's steps, newest last
  CFolderWatch m_folderWatch;  // the browsed folder, for changes other programs make
  // Reads the folder's browse list again; the walk goes on where it was, with the files that
  // came since it passed that place.
  void ListFolderAgain();
  BOOL m_bShownJpeg = FALSE;
  // Every browsing starts here: no read-ahead step, selection name or wrap is left.
  void ResetBrowsing();
  // Lists the folder's images (m_szFolder) into m_images in the browse order; their number.
  int ListFolder();
  // Lists them into images, in the browse order.
  void ListFolderInto(CFolderImages& images) const;
  // Lets go of the shown image: nothing is shown.
  void ReleaseDib();
  // The folder walk begins again at place nNext of the browse list and goes round to it; the
  // image named name (shown, or about to be) is passed over and ends the round.
  void WalkOnFrom(int nNext, const CString& name);
  // Makes the cbDib bytes at pDib the shown image; fd and offset as DrawDibSetSource takes them.
  void ShowDib(const BYTE* pDib, std::size_t cbDib, int fd, std::uint64_t offset);
  // Whether name is that of the file opened first (m_strFileName).
  BOOL IsOpenedName(const char* name) const;
  // Ends a browsing start on a path longer than the platform's paths, saying so: nothing is
  // browsed, and no earlier folder can be mistaken for this one.
  void RefuseLongPath(const char* path);
  // Hands path to the queue and counts it for this browsing start; a path too long for the
  // platform is refused with a message instead.
  void Queue(const char* path);
  int m_nQueued = 0;
  // Runs the Open dialog; FALSE when cancelled. Sets rPath and, for several files, the folder,
  // the selection offset and the read-ahead count; one file chosen is queued, as a path opened.
  BOOL RunOpenDialog(CString& rPath);
};

// TRUE when name, ASCII letters folded, ends in the extension of a format opened now
// (ImageFormat: .bmp, .gif, .jpg, .jpeg, .jpe, .pcd; with g_bOtherFormats also the others).
BOOL IsImageName(const char* name);
