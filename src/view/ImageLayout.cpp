#include "view/ImageLayout.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "doc/Orientation.h"

namespace {

// The zoom steps of + and -, and of a notch of Ctrl+wheel.
constexpr double kZoomSteps[] = {1.0 / 32, 1.0 / 24, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3,
                                 1.0 / 2,  2.0 / 3,  1.0,      1.5,      2.0,     3.0,     4.0,     8.0};

}  // namespace

CImageLayout::CLayout CImageLayout::Lay(const CImage& image, const CWindow& window) const {
  CLayout layout;
  layout.sizeStored = image.sizeStored;
  layout.rcSource = image.rcSource;
  layout.nOrientation = COrientation::Compose(image.nConvertedTurn, ShownTurn(image.nPhotoOrientation));
  const BOOL bTurned = layout.nOrientation >= 5;  // shown rows are stored columns
  const double width = bTurned ? layout.rcSource.Height() : layout.rcSource.Width();
  const double height = bTurned ? layout.rcSource.Width() : layout.rcSource.Height();
  layout.bCentred = window.bFitToWindow || window.bFullScreen;
  layout.dScale = m_bZoomed ? m_dZoom : 1.0;
  const CSize client = window.sizeClient;
  if (IsFitted(window) && width > 0 && height > 0 && client.cx > 0 && client.cy > 0)
    layout.dScale = std::min({1.0, client.cx / width, client.cy / height});
  const auto shown = [&layout](double extent) {
    return extent == 0 ? 0 : std::max(1, static_cast<int>(std::lround(extent * layout.dScale)));
  };
  layout.sizeShown = CSize(shown(width), shown(height));
  return layout;
}

CPoint CImageLayout::Origin(const CLayout& layout, CSize sizeClient) {
  if (!layout.bCentred) return CPoint(0, 0);
  return CPoint(std::max(0, (sizeClient.cx - layout.sizeShown.cx) / 2), std::max(0, (sizeClient.cy - layout.sizeShown.cy) / 2));
}

int CImageLayout::ShownTurn(int nPhotoOrientation) const { return DrawDibTurnOrientation(nPhotoOrientation, m_nQuarterTurns); }

BOOL CImageLayout::IsFitted(const CWindow& window) const {
  return !m_bZoomed && (window.bFullScreen ? !m_bActualInFullScreen : window.bFitToWindow != 0);
}

void CImageLayout::Reset(BOOL bKeepZoom) {
  if (!bKeepZoom) {
    m_bZoomed = FALSE;
    m_bActualInFullScreen = FALSE;
  }
  m_nQuarterTurns = 0;
  m_nWheel = 0;
}

void CImageLayout::ZoomTo(double dZoom) {
  m_bZoomed = TRUE;
  m_dZoom = dZoom;
}

double CImageLayout::NextZoomStep(double dScale, int nDirection) {
  if (nDirection > 0) {
    for (const double step : kZoomSteps) {
      if (step > dScale * (1 + 1e-6)) return step;
    }
    return dScale;
  }
  for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it) {
    if (*it < dScale * (1 - 1e-6)) return *it;
  }
  return dScale;
}

double CImageLayout::WheelScale(int zDelta, double dScale) {
  m_nWheel += zDelta;
  for (; m_nWheel >= WHEEL_DELTA; m_nWheel -= WHEEL_DELTA) dScale = NextZoomStep(dScale, 1);
  for (; m_nWheel <= -WHEEL_DELTA; m_nWheel += WHEEL_DELTA) dScale = NextZoomStep(dScale, -1);
  return dScale;
}

void CImageLayout::Turn(int nQuarters, double& x, double& y, const CLayout& before) {
  // The point, in the turned image's pixels.
  const double width = before.sizeShown.cx / before.dScale;
  const double height = before.sizeShown.cy / before.dScale;
  const double turnedX = nQuarters > 0 ? height - y : y;
  y = nQuarters > 0 ? x : width - x;
  x = turnedX;
  m_nQuarterTurns = (m_nQuarterTurns + nQuarters + 4) % 4;
}

BOOL CImageLayout::ToggleFit(const CWindow& window) {
  if (window.bFullScreen) {
    // Full screen fits of its own: F shows this image 1:1 there or fitted again.
    m_bActualInFullScreen = IsFitted(window);
    m_bZoomed = FALSE;
    return window.bFitToWindow;
  }
  // Off: 1:1 from the top-left corner, as without fitting.
  if (IsFitted(window)) return FALSE;
  m_bZoomed = FALSE;
  return TRUE;
}
