// How the shown image lies in the view: the zoom and quarter turns the user chose for it, and the
// arithmetic that gives, from them, the image and the window, the turn, the scale and the size it
// is shown at. No window here: the view says how large its client area is and how it shows.
#pragma once

#include "afx/afxwin.h"

class CImageLayout {
 public:
  // The image as the document holds it.
  struct CImage {
    CSize sizeStored;            // the bitmap's own width and height
    CRect rcSource;              // the part of it that stands for the file now
    int nConvertedTurn = 1;      // how that part is turned to stand for the file (the file was turned since)
    int nPhotoOrientation = 1;   // the photo's own orientation while photos are shown upright, else 1
  };
  // The window it is shown in.
  struct CWindow {
    CSize sizeClient;
    BOOL bFullScreen = FALSE;
    BOOL bFitToWindow = FALSE;   // the window's fit preference
  };
  // How the image is shown: turned (the photo's own orientation, then the quarter turns of R and
  // Shift+R) and scaled. The scroll area is the shown size, in device pixels; centred in the
  // window while fitting (the preference or full screen) when smaller.
  struct CLayout {
    CSize sizeStored;
    CRect rcSource;        // the part of the bitmap shown
    int nOrientation = 1;  // as DrawDibDraw takes it
    double dScale = 1.0;
    CSize sizeShown;
    BOOL bCentred = FALSE;
  };

  CLayout Lay(const CImage& image, const CWindow& window) const;
  // Where the shown image's top-left corner lies in the scroll area.
  static CPoint Origin(const CLayout& layout, CSize sizeClient);
  // The turn the user sees of the file's own pixels: nPhotoOrientation, then R and Shift+R.
  int ShownTurn(int nPhotoOrientation) const;
  // Fitting to the window now: the fit mode is on (the preference or full screen) and the user did
  // not zoom this image.
  BOOL IsFitted(const CWindow& window) const;
  BOOL IsZoomed() const { return m_bZoomed; }

  // A new image: unturned, and unzoomed unless bKeepZoom.
  void Reset(BOOL bKeepZoom);
  // The image shown at dZoom from now on.
  void ZoomTo(double dZoom);
  // The zoom step of + and - above (nDirection 1) or below (-1) dScale; dScale itself at the end.
  static double NextZoomStep(double dScale, int nDirection);
  // Ctrl+wheel: zDelta more of the turns not yet a whole notch (120); the scale after the whole
  // notches, from dScale.
  double WheelScale(int zDelta, double dScale);
  // Turns the image nQuarters (1 or -1) quarters clockwise. (x, y), a point of the image as laid out
  // before (in its shown pixels at 1:1), becomes the same point of the turned image.
  void Turn(int nQuarters, double& x, double& y, const CLayout& before);
  // F: in full screen, this image 1:1 or fitted again, the window's choice untouched; in the window,
  // the fit preference switched. Returns the fit preference from now on.
  BOOL ToggleFit(const CWindow& window);

 private:
  BOOL m_bZoomed = FALSE;              // the user zoomed: m_dZoom instead of fitting or 1:1
  BOOL m_bActualInFullScreen = FALSE;  // F in full screen: 1:1 there, the window's fit untouched
  double m_dZoom = 1.0;
  int m_nQuarterTurns = 0;  // R and Shift+R, clockwise
  int m_nWheel = 0;         // Ctrl+wheel turns not yet a whole zoom step
};
