#include "afx/Object.h"

#include <cstring>
#include <vector>

namespace {

std::vector<const CRuntimeClass*>& Registry() {
  static std::vector<const CRuntimeClass*> classes;
  return classes;
}

}  // namespace

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xFFFF, nullptr, nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }

CObject* CRuntimeClass::CreateObject() const { return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr; }

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
  for (const CRuntimeClass* p = this; p != nullptr; p = p->m_pBaseClass) {
    if (p == pBaseClass) return TRUE;
  }
  return FALSE;
}

const CRuntimeClass* CRuntimeClass::FromName(const char* lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  for (const CRuntimeClass* p : Registry()) {
    if (std::strcmp(p->m_lpszClassName, lpszClassName) == 0) return p;
  }
  return nullptr;
}

AFX_CLASSINIT::AFX_CLASSINIT(const CRuntimeClass* pNewClass) { Registry().push_back(pNewClass); }
