// The images being browsed, in the browse order: a folder's image files, or the image files
// chosen together in the Open dialog. The grid and the film strip show them in this order, and
// the read-ahead walks a folder in it.
#pragma once

#include <vector>

#include "afx/afx.h"

class CFolderImages {
 public:
  // Empties the list for a new browsing: of a folder (whose order can be chosen) or of a
  // selection (in the order chosen).
  void Clear(BOOL bFolder);
  // Adds a name, in the order the folder search lists them (by name) or the dialog chose them.
  void Add(const char* name);
  // Puts a folder's names in the order nOrder (kSortBy...) of the files in folder (which ends
  // with '/'), reversed with bReverse; the listing's order decides between equals. By name is the
  // order they were added in. The times and sizes are read only for the orders that need them,
  // the EXIF blocks (the head of each file) only for the date taken. A selection keeps its order.
  void Sort(const char* folder, int nOrder, BOOL bReverse);
  // Takes the name out of the list (its file was deleted).
  void Remove(const char* name);
  // The file of name is called newName now: it keeps its place.
  void Rename(const char* name, const char* newName);

  int GetCount() const { return static_cast<int>(m_names.size()); }
  const CString& GetName(int nIndex) const { return m_names[static_cast<std::size_t>(nIndex)]; }
  // The place of name (compared exactly), or -1.
  int Find(const char* name) const;
  BOOL IsFolder() const { return m_bFolder; }
  // Raised by every change of the list, so that those showing it know when to show it anew.
  int GetGeneration() const { return m_nGeneration; }

 private:
  std::vector<CString> m_names;
  std::vector<CString> m_listed;  // a folder's names in its listing's order, once sorted otherwise
  BOOL m_bFolder = TRUE;
  int m_nGeneration = 0;
};
