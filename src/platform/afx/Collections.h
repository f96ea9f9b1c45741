// CObList and CMapStringToPtr.
//
// CObList owns the objects it holds: an element is handed over with AddTail and handed back
// by RemoveHead/RemoveAt, so whoever removes an element decides its fate, and a list that is
// destroyed still holding elements frees them instead of leaking them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "afx/String.h"

struct __POSITION;
using POSITION = __POSITION*;

class CObList : public CObject {
 public:
  explicit CObList(int nBlockSize = 10);
  ~CObList() override;
  CObList(const CObList&) = delete;
  CObList& operator=(const CObList&) = delete;

  int GetCount() const { return m_nCount; }
  BOOL IsEmpty() const { return m_nCount == 0 ? TRUE : FALSE; }

  POSITION AddTail(std::unique_ptr<CObject> newElement);
  std::unique_ptr<CObject> RemoveHead();  // the list must not be empty
  std::unique_ptr<CObject> RemoveAt(POSITION position);
  void RemoveAll();

  POSITION GetHeadPosition() const;
  CObject* GetNext(POSITION& rPosition) const;  // returns the element at rPosition and advances it
  CObject* GetAt(POSITION position) const;
  POSITION FindIndex(int nIndex) const;  // NULL when out of range

 private:
  struct Node;
  Node* m_pHead = nullptr;
  Node* m_pTail = nullptr;
  int m_nCount = 0;
};

class CMapStringToPtr : public CObject {
 public:
  explicit CMapStringToPtr(int nBlockSize = 10);
  ~CMapStringToPtr() override = default;

  int GetCount() const { return static_cast<int>(m_map.size()); }
  BOOL IsEmpty() const { return m_map.empty() ? TRUE : FALSE; }

  BOOL Lookup(const char* key, void*& rValue) const;
  void*& operator[](const char* key);  // creates the entry when missing
  void SetAt(const char* key, void* newValue) { (*this)[key] = newValue; }
  BOOL RemoveKey(const char* key);
  void RemoveAll() { m_map.clear(); }

  POSITION GetStartPosition() const;
  void GetNextAssoc(POSITION& rNextPosition, CString& rKey, void*& rValue) const;

 private:
  std::map<std::string, void*> m_map;
};
