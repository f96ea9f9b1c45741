// The view: paints the document's image 1:1 in the top-left corner of a scrolling area, with
// its Image Gift caption.
#pragma once

#include <map>
#include <vector>

#include "afx/OleDataSource.h"
#include "afx/afxwin.h"

class CVimoDoc;

// Posted to the view when a sender it started has ended: wParam its exit status, lParam the
// send's number.
inline constexpr UINT WM_GIFT_SENDER_EXIT = WM_USER + 102;

class CVimoView : public CScrollView {
  DECLARE_DYNCREATE(CVimoView)

 protected:
  CVimoView();

 public:
  ~CVimoView() override;

  CVimoDoc* GetDocument() const;

  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  void OnInitialUpdate() override;
  void OnDraw(CDC* pDC) override;
  // Follows the document's image: the scroll area takes its size, then the view repaints.
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;

  CMapStringToPtr m_mapStack;  // the Image Gift stack: full image paths, values 0
  COleDataSource m_dataSource; // offered by every drag of the shown image

  // A send whose sender has not ended yet: what it attached and its job file's name.
  struct CGiftSend {
    std::vector<CString> paths;
    CString strJobName;
  };
  std::map<LPARAM, CGiftSend> m_mapSending;  // by the send's number

  // The drop block of one file: a DROPFILES header (file list at offset 20, ANSI names)
  // followed by the path, its NUL and the NUL that ends the list. NULL when memory runs out.
  static HGLOBAL CreateDropFiles(const char* path);

  // Image Gift: the settings dialog; also opened by Send when settings are missing.
  void OnGiftSettings();

  // Steps the document's animation every nDelay milliseconds from now on; 0 stops it. The timer
  // runs only while an animation plays.
  void PlayAnimation(UINT nDelay);

 protected:
  // The shown image's source file: the browsed folder followed by the document title.
  CString ShownImagePath() const;
  // Sets the scroll area to the shown image's size (the 16-bit sizes of a 12-byte core header,
  // else the signed 32-bit ones), pages of 120 x 140. FALSE, changing nothing, without an image
  // or for a negative size (a top-down bitmap).
  BOOL FitScrollSizesToImage(CSize& size);

  void OnGoNext();
  void OnUpdateGoNext(CCmdUI* pCmdUI);
  void OnGoPrev();
  void OnUpdateGoPrev(CCmdUI* pCmdUI);
  // Moves the shown image's source file into the trash (deletes it where there is none), without
  // asking.
  void OnImageDelete();
  void OnImageSaveAs();
  // Delete, Save as, Stack and Send: only while an image is loaded and the title names it.
  void OnUpdateImageCommand(CCmdUI* pCmdUI);
  // Drags the shown file out of the window as a file drop.
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnLButtonUp(UINT nFlags, CPoint point);
  // Arrow keys scroll a page: 120 pixels across, 140 down.
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  // Erases only outside the image, so that a repaint does not flash over it.
  BOOL OnEraseBkgnd(CDC* pDC);
  // A step of the document's animation, then the repaint and the wait for the next one.
  void OnTimer(UINT_PTR nIDEvent);
  // Stacks the shown image; one whose name the job file cannot carry is refused with a message.
  void OnGiftStack();
  // Writes the mail job file and starts the sender with it. Stacked files that are gone are
  // left out (the user is told which); a shown image whose name the job file cannot carry
  // stops the send with a message.
  void OnGiftSend();
  // Writes the job file into the temporary folder and starts "Postmx.exe /d" with its path,
  // quoted, watched: its end arrives as WM_GIFT_SENDER_EXIT with lParam nSend. On failure the
  // user is told and no job file is left behind.
  BOOL HandOverMailJob(const CString& attachments, LPARAM nSend, CString& strJobName);
  // A sender has ended. When it failed, its images go back on the stack ("Stacked") and the
  // user reads the reason it logged.
  LRESULT OnGiftSenderExit(WPARAM wParam, LPARAM lParam);
  // FALSE, after telling the user, when path cannot be mailed.
  BOOL CheckMailablePath(const CString& path);
  // The stack's paths and the shown image's (always attached), without the files that are gone:
  // those leave the stack, lose their Image Gift state and are listed in missing, each after a
  // line feed.
  std::vector<CString> ExistingAttachments(const CString& shown, CString& missing);
  DECLARE_MESSAGE_MAP()
};
