// The commands on image files that the image view and the grid share, for one file or several:
// deleting (into the desktop's trash; where no trash can take a file, for good once the user says
// so), renaming, copying or moving into a folder, opening with another application, and Undo,
// which takes back what the deletes, renames, moves and copies did, newest first. Each view routes
// Undo here and hands the other commands the files it means; the undo steps are the document's.
#pragma once

#include <vector>

#include "afx/afxwin.h"

class CVimoDoc;

class CFileCommands : public CCmdTarget {
 public:
  // pView: the view that routes Undo here, whose document's files these are.
  explicit CFileCommands(CView* pView) : m_pView(pView) {}

  // Moves the files at paths into the trash, as one step that Undo puts back whole. Those no trash
  // can take are deleted for good only when the user says Yes to one question for them all (No
  // being the default); whatever stays is said in one message. The paths that went.
  std::vector<CString> Delete(const std::vector<CString>& paths);
  // F2: asks for a new name of the file at path and gives it that name, never one that is taken
  // (nothing is replaced); the browse list, the history, the title and its thumbnails in the
  // desktop's cache follow, and Undo gives the old name back. Its new path, or "" when it kept
  // its name (cancelled, refused: the user was told why).
  CString Rename(const CString& path);
  // F7 and F8: copies (bMove: moves) the files at paths into a folder chosen among the last few
  // (the profile keeps them) or in a dialog. For a name taken there the user chooses: skip (the
  // default), keep both (the new one gets a free name) or replace. A move across file systems
  // removes the original only once its copy is whole on the disk; whatever fails stays where it
  // was, and why is said. The paths that were moved away.
  std::vector<CString> CopyTo(const std::vector<CString>& paths, BOOL bMove);
  // Ctrl+Shift+O: the desktop's applications for the file's type, the default first, then
  // "another program..." listing them all; the one chosen is started on the file.
  void OpenWith(const CString& path);

 protected:
  // Ctrl+Z: puts every file of the newest delete back where it was, then browses on from the
  // first of them at its place in the browse list (a file of another folder is opened as a path
  // is). What cannot go back is said, and what may go back later stays to be undone again.
  void OnEditUndo();
  void OnUpdateEditUndo(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  CVimoDoc* GetDocument() const;
  // Shows menu where the view is and returns the command chosen (0: none).
  UINT ChooseFromMenu(CMenu& menu) const;
  // The folder to copy or move into; FALSE when none was chosen.
  BOOL ChooseFolder(BOOL bMove, CString& rFolder) const;

  CView* m_pView;  // the view it belongs to, which outlives it
};
