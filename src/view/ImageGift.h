// Image Gift: shown images stacked (F5) and mailed (F12) through the companion sender
// "Postmx.exe", with its settings dialog. The image view routes the Gift commands here and hands
// on the sender's end; the grid stacks the images chosen in it.
#pragma once

#include <map>
#include <vector>

#include "afx/afxwin.h"

class CVimoView;

// Whether the image at path is on the Image Gift stack (and not sent yet).
bool IsGiftStacked(const CString& path);
// The mark a stacked image's thumbnail carries in its corner, for thumbnails of cx pixels.
CBitmap GiftMarkPicture(int cx);

// Posted to the view when a sender it started has ended: wParam its exit status, lParam the
// send's number.
inline constexpr UINT WM_GIFT_SENDER_EXIT = WM_USER + 102;

class CImageGift : public CCmdTarget {
 public:
  explicit CImageGift(CVimoView* pView);

  // Puts the image at path on the stack ("Stacked"), unless it is there already; one whose name
  // the job file cannot carry is refused with a message. TRUE when it was stacked.
  BOOL Stack(const CString& path);
  // A sender has ended (WM_GIFT_SENDER_EXIT). When it failed, its images go back on the stack
  // ("Stacked") and the user reads the reason it logged.
  LRESULT OnSenderExit(WPARAM wParam, LPARAM lParam);

  CMapStringToPtr m_mapStack;  // the stack: full image paths, values 0

  // A send whose sender has not ended yet: what it attached and its job file's name.
  struct CGiftSend {
    std::vector<CString> paths;
    CString strJobName;
  };
  std::map<LPARAM, CGiftSend> m_mapSending;  // by the send's number

 protected:
  // The settings dialog; also opened by Send when settings are missing.
  void OnGiftSettings();
  // Stacks the shown image.
  void OnGiftStack();
  // Writes the mail job file and starts the sender with it. Stacked files that are gone are left
  // out (the user is told which); a shown image whose name the job file cannot carry stops the
  // send with a message.
  void OnGiftSend();
  // Stack and Send: only while an image is loaded and the title names it.
  void OnUpdateGiftCommand(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  // Writes the job file into the temporary folder and starts "Postmx.exe /d" with its path,
  // quoted, watched: its end arrives as WM_GIFT_SENDER_EXIT with lParam nSend. On failure the user
  // is told and no job file is left behind.
  BOOL HandOverMailJob(const CString& attachments, LPARAM nSend, CString& strJobName);
  // FALSE, after telling the user, when path cannot be mailed.
  BOOL CheckMailablePath(const CString& path);
  // The stack's paths and the shown image's (always attached), without the files that are gone:
  // those leave the stack, lose their Image Gift state and are listed in missing, each after a
  // line feed.
  std::vector<CString> ExistingAttachments(const CString& shown, CString& missing);

  CVimoView* m_pView;  // the view it belongs to, which outlives it: its caption shows the state
};
