// The commands on image files that the image view and the grid share, for one file or several:
// deleting (into the desktop's trash; where no trash can take a file, for good once the user says
// so) and Undo, which puts back what the deletes moved, newest first. Each view routes Undo here
// and hands its Delete the files it means; the undo steps are the document's.
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

 protected:
  // Ctrl+Z: puts every file of the newest delete back where it was, then browses on from the
  // first of them at its place in the browse list (a file of another folder is opened as a path
  // is). What cannot go back is said, and what may go back later stays to be undone again.
  void OnEditUndo();
  void OnUpdateEditUndo(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  CVimoDoc* GetDocument() const;

  CView* m_pView;  // the view it belongs to, which outlives it
};
