#include "view/PicturePrint.h"

#include <algorithm>
#include <memory>

#include "doc/VimoDoc.h"
#include "view/UprightRows.h"

namespace {

constexpr double kPointsPerPixelAtActualSize = 72.0 / 96.0;

}  // namespace

AFX_PRINT_RECT CPicturePrint::LayOut(int cxPicture, int cyPicture, double cxPage, double cyPage, int nFit) {
  const double cx = cxPicture;
  const double cy = cyPicture;
  double dScale = kPointsPerPixelAtActualSize;
  if (nFit == kFitPage) dScale = std::min(cxPage / cx, cyPage / cy);
  else if (nFit == kFillPage) dScale = std::max(cxPage / cx, cyPage / cy);
  AFX_PRINT_RECT where;
  where.cx = cx * dScale;
  where.cy = cy * dScale;
  where.x = (cxPage - where.cx) / 2;
  where.y = (cyPage - where.cy) / 2;
  return where;
}

void CPicturePrint::Print(CVimoDoc& doc, const RECT& rcSource, int nOrientation, const char* path, BOOL bPreview) {
  CString reason;
  const std::shared_ptr<CUprightRows> pRows = CUprightRows::Open(doc, rcSource, nOrientation, reason);
  if (!pRows) {
    AfxMessageBox("cannot print, " + reason + "\n" + path);
    return;
  }
  AFX_PRINT_PICTURE picture;
  picture.strDocName = doc.GetTitle();
  picture.nWidth = pRows->Width();
  picture.nHeight = pRows->Height();
  picture.nBytesPerPixel = pRows->BytesPerPixel();
  picture.fillRows = [pRows](int nFirst, int nRows, BYTE* pOut, std::size_t nStride) { pRows->FillBand(nFirst, nRows, pOut, nStride); };
  picture.strChoiceTab = "画像";
  picture.strChoiceLabel = "配置";
  picture.choices = {"ﾍﾟｰｼﾞに合わせる", "実際のｻｲｽﾞ", "ﾍﾟｰｼﾞ全体に拡大"};
  picture.nChoice = m_nFit;
  picture.bLandscape = picture.nWidth > picture.nHeight ? TRUE : FALSE;
  const int cx = picture.nWidth;
  const int cy = picture.nHeight;
  picture.layOut = [cx, cy](double cxPage, double cyPage, int nFit) { return LayOut(cx, cy, cxPage, cyPage, nFit); };
  const int nResult = AfxPrintPicture(picture, bPreview, reason);
  m_nFit = picture.nChoice;
  if (nResult < 0) AfxMessageBox("cannot print, " + reason + "\n" + path);
}
