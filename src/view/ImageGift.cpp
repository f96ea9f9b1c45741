#include "view/ImageGift.h"

#include <algorithm>
#include <cstring>

#include "app/Globals.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "view/GiftMailJob.h"
#include "view/GiftSettingsDlg.h"
#include "view/VimoView.h"
#include "win32/ProcessWatch.h"

BEGIN_MESSAGE_MAP(CImageGift, CCmdTarget)
  ON_COMMAND(ID_GIFT_SETTINGS, OnGiftSettings)
  ON_COMMAND(ID_GIFT_STACK, OnGiftStack)
  ON_UPDATE_COMMAND_UI(ID_GIFT_STACK, OnUpdateGiftCommand)
  ON_COMMAND(ID_GIFT_SEND, OnGiftSend)
  ON_UPDATE_COMMAND_UI(ID_GIFT_SEND, OnUpdateGiftCommand)
END_MESSAGE_MAP()

CImageGift::CImageGift(CVimoView* pView) : m_mapStack(10), m_pView(pView) {}

bool IsGiftStacked(const CString& path) {
  void* value = nullptr;
  return g_mapGiftState.Lookup(path, value) && value != nullptr;
}

CBitmap GiftMarkPicture(int cx) {
  // A small wrapped present: a red box tied with a yellow ribbon, edged white so that it shows on
  // any photo.
  const int nSide = std::max(14, cx / 8);
  const int nRibbon = std::max(2, nSide / 6);
  CBitmap mark;
  if (!mark.CreateBitmap(nSide, nSide, 1, 32, nullptr)) return mark;
  CDC dc;
  if (!dc.CreateCompatibleDC(nullptr)) return CBitmap();
  dc.SelectObject(&mark);
  CBrush white(RGB(255, 255, 255));
  CBrush red(RGB(204, 32, 48));
  CBrush yellow(RGB(255, 204, 0));
  const CRect whole(0, 0, nSide, nSide);
  const CRect box(1, 1, nSide - 1, nSide - 1);
  const int nMiddle = (nSide - nRibbon) / 2;
  const CRect down(nMiddle, 1, nMiddle + nRibbon, nSide - 1);
  const CRect across(1, nMiddle, nSide - 1, nMiddle + nRibbon);
  dc.FillRect(&whole, &white);
  dc.FillRect(&box, &red);
  dc.FillRect(&down, &yellow);
  dc.FillRect(&across, &yellow);
  dc.SelectObject(nullptr);
  return mark;
}

void CImageGift::OnUpdateGiftCommand(CCmdUI* pCmdUI) {
  CVimoDoc* pDoc = m_pView->GetDocument();
  pCmdUI->Enable(pDoc->m_pDib != nullptr && !pDoc->GetTitle().IsEmpty());
}

void CImageGift::OnGiftSettings() {
  CGiftSettingsDlg dlg;
  dlg.m_strServer = g_strServer;
  dlg.m_strTo = g_strTo;
  dlg.m_strSubject = g_strSubject;
  dlg.m_strFrom = g_strFrom;
  dlg.m_strComment = g_strBody;
  if (dlg.DoModal() != IDOK) return;
  g_strServer = dlg.m_strServer;
  g_strTo = dlg.m_strTo;
  g_strSubject = dlg.m_strSubject;
  g_strFrom = dlg.m_strFrom;
  g_strBody = dlg.m_strComment;
  g_bSettingsChanged = 1;
}

BOOL CImageGift::CheckMailablePath(const CString& path) {
  if (IsMailablePath(path)) return TRUE;
  AfxMessageBox("cannot mail a file whose name holds a tab or line break:\n" + VisiblePath(path));
  return FALSE;
}

void CImageGift::OnGiftStack() {
  if (Stack(m_pView->ShownImagePath())) m_pView->InvalidateRect(nullptr, TRUE);
}

BOOL CImageGift::Stack(const CString& path) {
  if (!CheckMailablePath(path)) return FALSE;
  void* value = nullptr;
  if (m_mapStack.Lookup(path, value)) return FALSE;
  m_mapStack[path] = nullptr;
  g_mapGiftState[path] = reinterpret_cast<void*>(1);
  return TRUE;
}

std::vector<CString> CImageGift::ExistingAttachments(const CString& shown, CString& missing) {
  std::vector<CString> candidates;
  void* value = nullptr;
  for (POSITION pos = m_mapStack.GetStartPosition(); pos != nullptr;) {
    CString path;
    m_mapStack.GetNextAssoc(pos, path, value);
    candidates.push_back(path);
  }
  if (!m_mapStack.Lookup(shown, value)) candidates.push_back(shown);
  // A stacked file deleted since would make the sender refuse the whole mail.
  std::vector<CString> paths;
  for (const CString& path : candidates) {
    struct _stat status {};
    if (_stat(path, &status) == 0) {
      paths.push_back(path);
      continue;
    }
    missing += "\n" + path;
    m_mapStack.RemoveKey(path);
    g_mapGiftState.RemoveKey(path);
  }
  return paths;
}

void CImageGift::OnGiftSend() {
  if (g_strServer.IsEmpty() || g_strTo.IsEmpty() || g_strFrom.IsEmpty()) {
    OnGiftSettings();
    return;
  }
  const CString shown = m_pView->ShownImagePath();
  if (!CheckMailablePath(shown)) return;
  CString missing;
  const std::vector<CString> paths = ExistingAttachments(shown, missing);
  if (paths.empty()) {
    m_pView->InvalidateRect(nullptr, TRUE);
    AfxMessageBox("not found, nothing sent:" + missing);
    return;
  }
  // The images count as sent only once the sender has them; after a failure the stack stays
  // as it was, so that the user can send again.
  // Numbered across the whole run, so that the end of a send can never be taken for another's.
  static LPARAM nLastSend = 0;
  const LPARAM nSend = ++nLastSend;
  CString strJobName;
  if (!HandOverMailJob(MakeAttachmentLine(paths), nSend, strJobName)) return;
  for (const CString& path : paths) g_mapGiftState[path] = nullptr;  // sent
  m_mapSending[nSend] = CGiftSend{paths, strJobName};
  m_mapStack.RemoveAll();
  m_pView->InvalidateRect(nullptr, TRUE);
  m_pView->GetDocument()->UpdateAllViews(m_pView, CVimoDoc::kHintGiftStack);
  if (!missing.IsEmpty()) AfxMessageBox("not found, left out of the mail:" + missing);
}

BOOL CImageGift::HandOverMailJob(const CString& attachments, LPARAM nSend, CString& strJobName) {
  char tempFolder[256] = "";
  char jobPath[MAX_PATH] = "";
  const DWORD folderLength = GetTempPathA(sizeof(tempFolder), tempFolder);
  if (folderLength == 0 || folderLength >= sizeof(tempFolder) ||
      GetTempFileNameA(tempFolder, "VIM", 0, jobPath) == 0) {
    AfxMessageBox("cannot open temp file");
    return FALSE;
  }
  const CString text =
      MakeMailJobText(g_szLogPath, g_strServer, g_strTo, g_strFrom, g_strSubject, attachments, g_strBody);
  const int written = WriteMailJobFile(jobPath, text);
  if (written <= 0) {
    DeleteFileA(jobPath);
    AfxMessageBox(written == 0 ? "cannot open temp file" : "cannot write temp file");
    return FALSE;
  }
  // Quoted, the path reaches the sender as one argument whatever blanks it holds.
  CString command;
  command.Format("Postmx.exe /d %s", vimo::platform::QuoteCommandLineArgument(jobPath).c_str());
  if (command.GetLength() >= 512 || WinExecNotify(command, 0, m_pView->m_hWnd, WM_GIFT_SENDER_EXIT, nSend) <= 31) {
    DeleteFileA(jobPath);
    AfxMessageBox("Postmx.exe cannot start");
    return FALSE;
  }
  const char* name = std::strrchr(jobPath, '/');
  strJobName = name != nullptr ? name + 1 : jobPath;
  return TRUE;
}

LRESULT CImageGift::OnSenderExit(WPARAM wParam, LPARAM lParam) {
  const auto sending = m_mapSending.find(lParam);
  if (sending == m_mapSending.end()) return 0;
  const CGiftSend send = sending->second;
  m_mapSending.erase(sending);
  if (wParam == 0) return 0;
  // The mail did not go out: the images are stacked again, ready for another try.
  for (const CString& path : send.paths) {
    m_mapStack[path] = nullptr;
    g_mapGiftState[path] = reinterpret_cast<void*>(1);
  }
  m_pView->InvalidateRect(nullptr, TRUE);
  m_pView->GetDocument()->UpdateAllViews(m_pView, CVimoDoc::kHintGiftStack);
  AfxMessageBox(SendFailureReason(g_szLogPath, send.strJobName, static_cast<int>(wParam)));
  return 0;
}
