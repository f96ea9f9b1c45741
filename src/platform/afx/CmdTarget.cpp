#include "afx/CmdTarget.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

void CCmdUI::Enable(BOOL bOn) {
  m_bEnabled = bOn ? TRUE : FALSE;
  m_bHandled = TRUE;
}

void CCmdUI::SetText(const char* lpszText) {
  m_strText = lpszText != nullptr ? lpszText : "";
  m_bTextSet = TRUE;
  m_bHandled = TRUE;
}

void CCmdUI::SetCheck(int nCheck) {
  m_nCheck = nCheck;
  m_bHandled = TRUE;
}

void CCmdUI::DoUpdate(CCmdTarget* pTarget) {
  m_bHandled = FALSE;
  m_bEnabled = TRUE;
  if (pTarget->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this) && m_bHandled) return;
  m_bEnabled = pTarget->OnCmdMsg(m_nID, CN_COMMAND, nullptr, TRUE);
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
  static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
  return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const {
  for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap != nullptr;
       pMap = pMap->pfnGetBaseMap != nullptr ? pMap->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* pEntry = pMap->lpEntries; pEntry->pfn != nullptr; ++pEntry) {
      if (pEntry->nMessage != nMessage) continue;
      if (nMessage != WM_COMMAND && nMessage != WM_NOTIFY) return pEntry;
      if (pEntry->nCode == nCode && pEntry->nID <= nID && nID <= pEntry->nLastID) return pEntry;
    }
  }
  return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery) {
  const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(WM_COMMAND, nCode, nID);
  if (pEntry == nullptr) return FALSE;
  if (bQuery) return TRUE;
  const AFX_MSGARGS args{WM_COMMAND, nID, 0, pExtra};
  const LRESULT result = pEntry->pfn(this, args);
  // A range handler may decline the command, which then goes on along the route.
  if (nCode == CN_COMMAND && pEntry->nID != pEntry->nLastID) return result != 0 ? TRUE : FALSE;
  return TRUE;
}

BOOL CCmdTarget::ExecuteCommand(UINT nID) {
  CCmdUI state(nID);
  state.DoUpdate(this);
  if (!state.m_bEnabled) return FALSE;
  return OnCmdMsg(nID, CN_COMMAND, nullptr);
}
