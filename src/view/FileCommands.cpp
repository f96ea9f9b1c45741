#include "view/FileCommands.h"

#include <cerrno>
#include <cstring>

#include <climits>
#include <string>

#include "afx/Dialog.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "view/RenameDlg.h"
#include "view/ThumbnailMaker.h"
#include "win32/FileMoves.h"
#include "win32/OpenWith.h"
#include "win32/Trash.h"

BEGIN_MESSAGE_MAP(CFileCommands, CCmdTarget)
  ON_COMMAND(ID_EDIT_UNDO, OnEditUndo)
  ON_UPDATE_COMMAND_UI(ID_EDIT_UNDO, OnUpdateEditUndo)
END_MESSAGE_MAP()

namespace {

// One file's line of a message: its path, and why when there is more to say.
CString FileLine(const CString& path, const CString& reason) {
  return "\n" + path + (reason.IsEmpty() ? CString() : " (" + reason + ")");
}

// The profile's list of the folders files were last copied or moved into, newest first.
constexpr const char* kRecentFoldersSection = "Recent Folders";

std::vector<CString> RecentFolders() {
  std::vector<CString> folders;
  for (int i = 1; i <= kRecentFolders; ++i) {
    const CString folder = AfxGetApp()->GetProfileString(kRecentFoldersSection, "Folder" + CString(std::to_string(i)), "");
    if (!folder.IsEmpty()) folders.push_back(folder);
  }
  return folders;
}

void RememberFolder(const CString& folder) {
  std::vector<CString> folders = RecentFolders();
  std::erase(folders, folder);
  folders.insert(folders.begin(), folder);
  folders.resize(std::min<std::size_t>(folders.size(), kRecentFolders));
  const CWinApp::CProfileWriteGroup group(AfxGetApp());
  for (std::size_t i = 0; i < folders.size(); ++i)
    AfxGetApp()->WriteProfileString(kRecentFoldersSection, "Folder" + CString(std::to_string(i + 1)), folders[i]);
}

// A menu item's text for a name or path: '&' shown as it is, not as a mnemonic.
CString MenuText(const std::string& text) {
  std::string escaped;
  for (const char c : text) escaped += c == '&' ? std::string("&&") : std::string(1, c);
  return CString(escaped);
}

// The name of path's file, after the last '/'.
CString NameIn(const CString& path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? CString(slash + 1) : path;
}

// A free name beside target for keeping both files, as file managers make them: "a (2).jpg",
// "a (3).jpg", ...; "" when none is free.
CString FreeNameFor(const CString& target) {
  const CString name = NameIn(target);
  const CString folder = target.Left(target.GetLength() - name.GetLength());
  const char* dot = std::strrchr(name, '.');
  const int cbStem = dot != nullptr && dot != static_cast<const char*>(name) ? static_cast<int>(dot - name) : name.GetLength();
  for (int n = 2; n < 10000; ++n) {
    const CString candidate = folder + name.Left(cbStem) + " (" + CString(std::to_string(n)) + ")" + name.Mid(cbStem);
    if (NameIn(candidate).GetLength() > NAME_MAX) return CString();
    if (!vimo::platform::NameTaken(candidate)) return candidate;
  }
  return CString();
}

}  // namespace

CVimoDoc* CFileCommands::GetDocument() const { return DYNAMIC_DOWNCAST(CVimoDoc, m_pView->GetDocument()); }

std::vector<CString> CFileCommands::Delete(const std::vector<CString>& paths) {
  using vimo::platform::TrashResult;
  std::vector<CString> went;
  std::vector<CVimoDoc::CTrashed> step;
  std::vector<CString> withoutTrash;  // no trash can take them: deleted for good only when the user says so
  CString withoutTrashList;
  CString notNow;  // the trash cannot take them just now: they stay
  CString failed;
  for (const CString& path : paths) {
    // Into the desktop's trash, where a deleted photo can be got back.
    const vimo::platform::TrashOutcome outcome = vimo::platform::MoveToTrash(path);
    switch (outcome.result) {
      case TrashResult::kMoved:
        went.push_back(path);
        step.push_back({path, outcome.entry, CString(), FALSE});
        break;
      case TrashResult::kNoTrash:
        withoutTrash.push_back(path);
        withoutTrashList += FileLine(path, std::strerror(outcome.error));
        break;
      case TrashResult::kCannotTakeNow:
        notNow += FileLine(path, std::strerror(outcome.error));
        break;
      case TrashResult::kNotRegularFile:
        failed += FileLine(path, "");
        break;
    }
  }
  if (!step.empty()) GetDocument()->RememberTrashed(std::move(step));
  // One question for the lot, No unless the user says Yes.
  const CString question = withoutTrash.size() == 1 ? "このﾌｧｲﾙを完全に削除しますか?" : "これらのﾌｧｲﾙを完全に削除しますか?";
  if (!withoutTrash.empty() && AfxMessageBox("ごみ箱に移せません:" + withoutTrashList + "\n\n" + question,
                                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) {
    for (const CString& path : withoutTrash) {
      const int error = vimo::platform::DeleteRegularFile(path);
      if (error == 0) went.push_back(path);
      else failed += FileLine(path, std::strerror(error));
    }
  }
  CString said;
  if (!notNow.IsEmpty()) said = "not deleted: the trash cannot take it now" + notNow;
  if (!failed.IsEmpty()) said += (said.IsEmpty() ? "" : "\n\n") + CString("delete error") + failed;
  if (!said.IsEmpty()) AfxMessageBox(said);
  return went;
}

void CFileCommands::OnUpdateEditUndo(CCmdUI* pCmdUI) { pCmdUI->Enable(GetDocument()->CanRestoreTrashed()); }

void CFileCommands::OnEditUndo() {
  CVimoDoc* pDoc = GetDocument();
  std::vector<CString> restored;
  CString failed;
  for (const CVimoDoc::CRestored& file : pDoc->RestoreTrashed()) {
    if (file.error == 0 && file.bBack) restored.push_back(file.path);
    else if (file.error != 0) failed += FileLine(file.path, file.error == ESTALE ? "no longer in the trash" : std::strerror(file.error));
  }
  // Shown again, and browsed on from its place; a file of another folder as a file opened by path.
  if (!restored.empty() && !pDoc->BrowseRestored(restored.front())) AfxGetApp()->OpenDocumentFile(restored.front());
  if (!failed.IsEmpty()) AfxMessageBox("cannot restore" + failed);
}

// ---- rename, copy and move to a folder, open with -----------------------------------------------

UINT CFileCommands::ChooseFromMenu(CMenu& menu) const {
  CRect rc;
  m_pView->GetClientRect(&rc);
  CPoint point((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  m_pView->ClientToScreen(&point);
  return static_cast<UINT>(menu.TrackPopupMenu(TPM_LEFTALIGN | TPM_RETURNCMD, point.x, point.y, m_pView));
}

CString CFileCommands::Rename(const CString& path) {
  const CString name = NameIn(path);
  const CString folder = path.Left(path.GetLength() - name.GetLength());
  CRenameDlg dialog(name, AfxGetMainWnd());
  if (dialog.DoModal() != IDOK || dialog.m_strName == name) return CString();
  const CString target = folder + dialog.m_strName;
  if (target.GetLength() >= PATH_MAX) {
    AfxMessageBox("path too long\n" + target);
    return CString();
  }
  // Read while the file still has its name: the cache finds them by it.
  const CThumbnailMaker::CCarried thumbnails = CThumbnailMaker::TakeThumbnails(path);
  const int error = vimo::platform::RenameFile(path, target, false);
  if (error != 0) {
    AfxMessageBox(error == EEXIST ? "cannot rename, the name is taken (nothing was replaced)\n" + target
                                  : "cannot rename\n" + path + "\n" + std::strerror(error));
    return CString();
  }
  CThumbnailMaker::PutThumbnails(thumbnails, path, target);
  CVimoDoc* pDoc = GetDocument();
  pDoc->RememberTrashed({{path, {}, target, FALSE}});
  if (folder == pDoc->m_szFolder) pDoc->RenameImage(name, dialog.m_strName);
  return target;
}

BOOL CFileCommands::ChooseFolder(BOOL bMove, CString& rFolder) const {
  const std::vector<CString> recent = RecentFolders();
  if (!recent.empty()) {
    CMenu menu;
    menu.CreatePopupMenu();
    for (std::size_t i = 0; i < recent.size(); ++i)
      menu.AppendMenu(MF_STRING, ID_FOLDER_RECENT_FIRST + static_cast<UINT>(i), MenuText(recent[i].str()));
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING, ID_FOLDER_CHOOSE, "ﾌｫﾙﾀﾞを選ぶ(&F)...");
    const UINT nChosen = ChooseFromMenu(menu);
    if (nChosen == 0) return FALSE;
    if (nChosen != ID_FOLDER_CHOOSE) {
      rFolder = recent[nChosen - ID_FOLDER_RECENT_FIRST];
      return TRUE;
    }
  }
  CFolderPickerDialog dialog(recent.empty() ? nullptr : static_cast<const char*>(recent.front()), 0, AfxGetMainWnd());
  dialog.m_lpszTitle = bMove ? "移動先のﾌｫﾙﾀﾞ" : "ｺﾋﾟｰ先のﾌｫﾙﾀﾞ";
  if (dialog.DoModal() != IDOK) return FALSE;
  rFolder = dialog.GetPathName();
  return TRUE;
}

std::vector<CString> CFileCommands::CopyTo(const std::vector<CString>& paths, BOOL bMove) {
  std::vector<CString> moved;
  CString folder;
  if (paths.empty() || !ChooseFolder(bMove, folder)) return moved;
  RememberFolder(folder);
  std::vector<CVimoDoc::CTrashed> step;
  CString failed;
  for (const CString& path : paths) {
    CString target = folder + (folder.IsEmpty() || folder.GetAt(folder.GetLength() - 1) != '/' ? "/" : "") + NameIn(path);
    if (target == path) continue;  // already there
    bool bReplace = false;
    if (vimo::platform::NameTaken(target)) {
      const int answer = AfxMessageBox("同じ名前のﾌｧｲﾙがあります:\n" + target +
                                           "\n\nはい: 置き換える / いいえ: 両方残す (新しい名前を付ける) / ｷｬﾝｾﾙ: ｽｷｯﾌﾟ",
                                       MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3);
      if (answer == IDCANCEL) continue;
      bReplace = answer == IDYES;
      if (!bReplace) target = FreeNameFor(target);
      if (target.IsEmpty()) {
        failed += FileLine(path, "no free name");
        continue;
      }
    }
    const CThumbnailMaker::CCarried thumbnails = bMove ? CThumbnailMaker::TakeThumbnails(path) : CThumbnailMaker::CCarried();
    const int error = bMove ? vimo::platform::MoveFileWhole(path, target, bReplace)
                            : vimo::platform::CopyFileWhole(path, target, bReplace);
    if (error != 0) {
      failed += FileLine(path, std::strerror(error));
      continue;
    }
    if (bMove) {
      CThumbnailMaker::PutThumbnails(thumbnails, path, target);
      moved.push_back(path);
    }
    step.push_back({path, {}, target, bMove ? FALSE : TRUE});
  }
  if (!step.empty()) GetDocument()->RememberTrashed(std::move(step));
  if (!failed.IsEmpty())
    AfxMessageBox(CString(bMove ? "cannot move, the original is kept" : "cannot copy") + failed);
  return moved;
}

void CFileCommands::OpenWith(const CString& path) {
  std::vector<vimo::platform::AppEntry> apps = vimo::platform::AppsForFile(path, false);
  CMenu menu;
  menu.CreatePopupMenu();
  for (std::size_t i = 0; i < apps.size() && i < static_cast<std::size_t>(kOpenWithItems); ++i)
    menu.AppendMenu(MF_STRING, ID_OPEN_WITH_FIRST + static_cast<UINT>(i), MenuText(apps[i].name));
  if (!apps.empty()) menu.AppendMenu(MF_SEPARATOR);
  menu.AppendMenu(MF_STRING, ID_OPEN_WITH_OTHER, "他のﾌﾟﾛｸﾞﾗﾑ(&O)...");
  UINT nChosen = ChooseFromMenu(menu);
  if (nChosen == ID_OPEN_WITH_OTHER) {
    apps = vimo::platform::AppsForFile(path, true);
    if (apps.empty()) {
      AfxMessageBox("no application can open this file\n" + path);
      return;
    }
    CMenu every;
    every.CreatePopupMenu();
    for (std::size_t i = 0; i < apps.size() && i < static_cast<std::size_t>(kOpenWithItems); ++i)
      every.AppendMenu(MF_STRING, ID_OPEN_WITH_FIRST + static_cast<UINT>(i), MenuText(apps[i].name));
    nChosen = ChooseFromMenu(every);
  }
  if (nChosen < ID_OPEN_WITH_FIRST || nChosen >= ID_OPEN_WITH_FIRST + apps.size()) return;
  const vimo::platform::AppEntry& app = apps[nChosen - ID_OPEN_WITH_FIRST];
  const std::string error = vimo::platform::LaunchApp(app.id, path);
  if (!error.empty()) AfxMessageBox("cannot start " + CString(app.name) + "\n" + CString(error));
}
