// CObject and run-time class records: dynamic creation by class name.
#pragma once

#include "win32/WinTypes.h"

class CObject;

struct CRuntimeClass {
  const char* m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;
  CObject* (*m_pfnCreateObject)();
  const CRuntimeClass* m_pBaseClass;

  // A new object of this class, or NULL when the class cannot be created dynamically.
  // The caller owns it (the framework hands documents, views and frames to their owners).
  CObject* CreateObject() const;
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

  // The registered class of that name, or NULL.
  static const CRuntimeClass* FromName(const char* lpszClassName);
};

// Registers a class record so that FromName finds it.
struct AFX_CLASSINIT {
  explicit AFX_CLASSINIT(const CRuntimeClass* pNewClass);
};

class CObject {
 public:
  virtual ~CObject() = default;
  virtual const CRuntimeClass* GetRuntimeClass() const;
  BOOL IsKindOf(const CRuntimeClass* pClass) const;

  static const CRuntimeClass classCObject;

 protected:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                    \
 public:                                               \
  static const CRuntimeClass class##class_name;        \
  const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
  DECLARE_DYNAMIC(class_name)         \
  static CObject* CreateObject();

#define IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, wSchema, pfnNew)                      \
  const CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class_name), wSchema,   \
                                                       pfnNew, RUNTIME_CLASS(base_class_name)};    \
  static const AFX_CLASSINIT _init_##class_name(RUNTIME_CLASS(class_name));                        \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
  IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)             \
  CObject* class_name::CreateObject() { return new class_name; }     \
  IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

// Checked down-cast: NULL when the object is not of that class.
template <class T>
T* DynamicDownCast(CObject* pObject, const CRuntimeClass* pClass) {
  return (pObject != nullptr && pObject->IsKindOf(pClass)) ? static_cast<T*>(pObject) : nullptr;
}
#define AfxDynamicDownCast(class_name, object) DynamicDownCast<class_name>(object, RUNTIME_CLASS(class_name))
#define DYNAMIC_DOWNCAST(class_name, object) AfxDynamicDownCast(class_name, object)
