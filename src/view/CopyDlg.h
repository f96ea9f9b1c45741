// The dialog of a cut or scaled copy: the copy's size (pixels or percent; a side left empty
// follows the other in the part's shape), its format and quality, whether a JPEG part is cut
// without loss, and its name (a fresh one beside the original). OK checks the choice and asks
// before a file of that name would be replaced; the caller then writes the copy.
#pragma once

#include "afx/Dialog.h"
#include "doc/PictureCopy.h"

class CCopyDlg : public CDialog {
 public:
  enum { IDD = 132 };

  // source: the original's path; part: the size of the part copied (as shown); bCrop: a part was
  // drawn (else the whole picture); bWithoutLoss: the part can be cut from the JPEG's blocks.
  CCopyDlg(const char* source, CSize part, BOOL bCrop, BOOL bWithoutLoss, CWnd* pParent = nullptr);

  // After IDOK: what to write (the caller sets its part).
  CPictureCopy::CChoice m_choice;

  CString m_strPart;
  CString m_strWidth;
  CString m_strHeight;
  int m_nUnit = 0;      // 0 pixels, 1 percent
  int m_nFormat = 0;    // CPictureCopy::Format's order
  CString m_strQuality;
  int m_bWithoutLoss = 0;
  CString m_strName;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  // Closes the dialog only for a choice that can be written, once the user agreed to replace a
  // file of that name.
  void OnOK() override;

  DECLARE_MESSAGE_MAP()

 private:
  // The copy's size from the fields; FALSE, having said why, when they do not give one.
  BOOL ReadSize(CSize& size);
  CString m_strSource;
  CSize m_part;
  BOOL m_bLosslessOffered;
  CString m_strFreshName;  // the name offered, whose extension follows the format chosen
};
