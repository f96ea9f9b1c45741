#include "view/FileCommands.h"

#include <cerrno>
#include <cstring>

#include "doc/VimoDoc.h"
#include "res/Resource.h"
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
        step.push_back({path, outcome.entry});
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
    if (file.error == 0) restored.push_back(file.path);
    else failed += FileLine(file.path, file.error == ESTALE ? "no longer in the trash" : std::strerror(file.error));
  }
  // Shown again, and browsed on from its place; a file of another folder as a file opened by path.
  if (!restored.empty() && !pDoc->BrowseRestored(restored.front())) AfxGetApp()->OpenDocumentFile(restored.front());
  if (!failed.IsEmpty()) AfxMessageBox("cannot restore" + failed);
}
