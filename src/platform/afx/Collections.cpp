#include "afx/Collections.h"

#include <cassert>

struct CObList::Node {
  std::unique_ptr<CObject> data;
  Node* pNext = nullptr;
  Node* pPrev = nullptr;
};

namespace {

template <class NodeT>
POSITION ToPosition(NodeT* node) { return reinterpret_cast<POSITION>(node); }

}  // namespace

CObList::CObList(int /*nBlockSize*/) {}

CObList::~CObList() { RemoveAll(); }

POSITION CObList::AddTail(std::unique_ptr<CObject> newElement) {
  auto node = std::make_unique<Node>();
  node->data = std::move(newElement);
  node->pPrev = m_pTail;
  Node* raw = node.release();  // the chain owns its nodes; freed in RemoveAt/RemoveAll
  if (m_pTail != nullptr) {
    m_pTail->pNext = raw;
  } else {
    m_pHead = raw;
  }
  m_pTail = raw;
  ++m_nCount;
  return ToPosition(raw);
}

std::unique_ptr<CObject> CObList::RemoveHead() {
  assert(m_pHead != nullptr);
  return RemoveAt(ToPosition(m_pHead));
}

std::unique_ptr<CObject> CObList::RemoveAt(POSITION position) {
  std::unique_ptr<Node> node(reinterpret_cast<Node*>(position));
  if (!node) return nullptr;
  if (node->pPrev != nullptr) {
    node->pPrev->pNext = node->pNext;
  } else {
    m_pHead = node->pNext;
  }
  if (node->pNext != nullptr) {
    node->pNext->pPrev = node->pPrev;
  } else {
    m_pTail = node->pPrev;
  }
  --m_nCount;
  return std::move(node->data);
}

void CObList::RemoveAll() {
  while (m_pHead != nullptr) RemoveHead();
}

POSITION CObList::GetHeadPosition() const { return ToPosition(m_pHead); }

CObject* CObList::GetNext(POSITION& rPosition) const {
  Node* node = reinterpret_cast<Node*>(rPosition);
  rPosition = ToPosition(node->pNext);
  return node->data.get();
}

CObject* CObList::GetAt(POSITION position) const {
  return position != nullptr ? reinterpret_cast<Node*>(position)->data.get() : nullptr;
}

POSITION CObList::FindIndex(int nIndex) const {
  if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
  Node* node = m_pHead;
  while (nIndex-- > 0) node = node->pNext;
  return ToPosition(node);
}

CMapStringToPtr::CMapStringToPtr(int /*nBlockSize*/) {}

BOOL CMapStringToPtr::Lookup(const char* key, void*& rValue) const {
  const auto it = m_map.find(key != nullptr ? key : "");
  if (it == m_map.end()) return FALSE;
  rValue = it->second;
  return TRUE;
}

void*& CMapStringToPtr::operator[](const char* key) { return m_map[key != nullptr ? key : ""]; }

BOOL CMapStringToPtr::RemoveKey(const char* key) { return m_map.erase(key != nullptr ? key : "") > 0 ? TRUE : FALSE; }

// A position names an entry by the address of its key/value pair inside the map.
POSITION CMapStringToPtr::GetStartPosition() const {
  if (m_map.empty()) return nullptr;
  return reinterpret_cast<POSITION>(const_cast<std::pair<const std::string, void*>*>(&*m_map.begin()));
}

void CMapStringToPtr::GetNextAssoc(POSITION& rNextPosition, CString& rKey, void*& rValue) const {
  const auto* entry = reinterpret_cast<const std::pair<const std::string, void*>*>(rNextPosition);
  rKey = CString(entry->first);
  rValue = entry->second;
  auto it = m_map.find(entry->first);
  ++it;
  rNextPosition = it == m_map.end()
                      ? nullptr
                      : reinterpret_cast<POSITION>(const_cast<std::pair<const std::string, void*>*>(&*it));
}
