#include "view/CopyDlg.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "res/Resource.h"

namespace {

constexpr long kMostPixels = 65500;  // a side JPEG and WebP can hold (WebP: 16383, said by its encoder)
constexpr long kMostPercent = 1000;

// A field's whole number; -1 when it holds anything else, 0 when it is empty.
long NumberOf(const CString& text) {
  if (text.IsEmpty()) return 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
  }
  return std::strlen(text) > 6 ? -1 : std::strtol(text, nullptr, 10);
}

// The format a name's extension says (ASCII letters in any case); JPEG for any other.
CPictureCopy::Format FormatOfName(const char* path) {
  const char* dot = std::strrchr(path, '.');
  std::string extension = dot != nullptr ? dot : "";
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".png") return CPictureCopy::Format::kPng;
  if (extension == ".webp") return CPictureCopy::Format::kWebp;
  return CPictureCopy::Format::kJpeg;
}

}  // namespace

BEGIN_MESSAGE_MAP(CCopyDlg, CDialog)
END_MESSAGE_MAP()

CCopyDlg::CCopyDlg(const char* source, CSize part, BOOL bCrop, BOOL bWithoutLoss, CWnd* pParent)
    : CDialog(IDD, pParent), m_strSource(source), m_part(part), m_bLosslessOffered(bWithoutLoss) {
  m_strPart.Format(bCrop ? "切り抜く範囲: %d x %d ﾋﾟｸｾﾙ" : "画像全体: %d x %d ﾋﾟｸｾﾙ", static_cast<int>(part.cx),
                   static_cast<int>(part.cy));
  // The height left empty follows the width, whichever unit the user then chooses.
  m_strWidth.Format("%d", static_cast<int>(part.cx));
  m_strQuality = "90";
  // The original's own format where a copy can have it, else JPEG; a part cut without loss where it can be.
  const CPictureCopy::Format format = FormatOfName(source);
  m_nFormat = static_cast<int>(format);
  m_bWithoutLoss = bWithoutLoss ? 1 : 0;
  m_strFreshName = CPictureCopy::FreshName(source, format);
  const char* slash = std::strrchr(m_strFreshName, '/');
  m_strName = slash != nullptr ? slash + 1 : static_cast<const char*>(m_strFreshName);
}

void CCopyDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_COPY_PART, m_strPart);
  DDX_Text(pDX, IDC_COPY_WIDTH, m_strWidth);
  DDX_Text(pDX, IDC_COPY_HEIGHT, m_strHeight);
  DDX_CBIndex(pDX, IDC_COPY_UNIT, m_nUnit);
  DDX_CBIndex(pDX, IDC_COPY_FORMAT, m_nFormat);
  DDX_Text(pDX, IDC_COPY_QUALITY, m_strQuality);
  DDX_Check(pDX, IDC_COPY_WITHOUT_LOSS, m_bWithoutLoss);
  DDX_Text(pDX, IDC_COPY_NAME, m_strName);
}

BOOL CCopyDlg::ReadSize(CSize& size) {
  const long nWidth = NumberOf(m_strWidth);
  const long nHeight = NumberOf(m_strHeight);
  const long nMost = m_nUnit == 1 ? kMostPercent : kMostPixels;
  if (nWidth < 0 || nHeight < 0 || nWidth > nMost || nHeight > nMost || (nWidth == 0 && nHeight == 0)) {
    CString message;
    message.Format(m_nUnit == 1 ? "幅と高さは 1 から %ld までの数 (%%) で指定してください (片方は空けてもかまいません)"
                                : "幅と高さは 1 から %ld までのﾋﾟｸｾﾙ数で指定してください (片方は空けてもかまいません)",
                   nMost);
    AfxMessageBox(message);
    return FALSE;
  }
  double dWidth = m_nUnit == 1 ? m_part.cx * nWidth / 100.0 : static_cast<double>(nWidth);
  double dHeight = m_nUnit == 1 ? m_part.cy * nHeight / 100.0 : static_cast<double>(nHeight);
  // An empty side follows the other in the part's shape.
  if (nWidth == 0) dWidth = dHeight * m_part.cx / m_part.cy;
  if (nHeight == 0) dHeight = dWidth * m_part.cy / m_part.cx;
  size = CSize(static_cast<int>(std::lround(std::max(1.0, dWidth))), static_cast<int>(std::lround(std::max(1.0, dHeight))));
  if (size.cx > kMostPixels || size.cy > kMostPixels) {
    AfxMessageBox("ｺﾋﾟｰが大きすぎます。幅と高さは 65500 ﾋﾟｸｾﾙまでです");
    return FALSE;
  }
  return TRUE;
}

void CCopyDlg::OnOK() {
  if (!UpdateData(TRUE)) return;
  CSize size;
  if (!ReadSize(size)) return;
  const long nQuality = NumberOf(m_strQuality);
  if (nQuality < 1 || nQuality > 100) {
    AfxMessageBox("画質は 1 から 100 までの数で指定してください");
    return;
  }
  const auto format = static_cast<CPictureCopy::Format>(std::clamp(m_nFormat, 0, 2));
  if (m_bWithoutLoss && (!m_bLosslessOffered || format != CPictureCopy::Format::kJpeg || size.cx != m_part.cx || size.cy != m_part.cy)) {
    AfxMessageBox("画質を落とさずに切り抜けるのは、JPEGの写真をJPEGのまま、大きさを変えずに切り抜くときだけです");
    return;
  }
  if (m_strName.IsEmpty() || std::strcmp(m_strName, ".") == 0 || std::strcmp(m_strName, "..") == 0) {
    AfxMessageBox("ｺﾋﾟｰの名前を指定してください");
    return;
  }
  // A name is beside the original; a full path where the user typed one.
  const char* slash = std::strrchr(m_strSource, '/');
  const CString folder = slash != nullptr ? CString(m_strSource).Left(static_cast<int>(slash - m_strSource) + 1) : CString();
  CString target = static_cast<const char*>(m_strName)[0] == '/' ? m_strName : folder + m_strName;
  // The name offered follows the format chosen.
  if (target == m_strFreshName && FormatOfName(target) != format) target = CPictureCopy::FreshName(m_strSource, format);
  BOOL bReplace = FALSE;
  struct _stat info {};
  if (_stat(target, &info) == 0) {
    const CString question = target == m_strSource ? "元の画像ﾌｧｲﾙを上書きします。元には戻せません。\n" + target + "\n上書きしますか?"
                                                   : target + " は既にあります。\n上書きしますか?";
    if (AfxMessageBox(question, MB_YESNO | MB_DEFBUTTON2) != IDYES) return;
    bReplace = TRUE;
  }
  m_choice.size = size;
  m_choice.format = format;
  m_choice.nQuality = static_cast<int>(nQuality);
  m_choice.bWithoutLoss = m_bWithoutLoss ? TRUE : FALSE;
  m_choice.strTarget = target;
  m_choice.bReplace = bReplace;
  EndDialog(IDOK);
}
