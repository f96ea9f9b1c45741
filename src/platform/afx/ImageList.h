// CImageList: pictures of one size kept at numbered places, drawn by the list control.
#pragma once

#include <memory>

#include "afx/Bitmap.h"

inline constexpr UINT ILC_COLOR32 = 0x0020;

class CImageList {
 public:
  CImageList();
  ~CImageList();
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;

  // A list of nInitial empty places whose pictures are drawn in boxes of cx x cy pixels: a
  // larger picture put in is reduced to fit, keeping its shape.
  BOOL Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow);
  int GetImageCount() const;
  // Makes the list uNewCount places long; new places are empty, places beyond it go.
  BOOL SetImageCount(UINT uNewCount);
  // Puts the picture at place nImage (an empty bitmap empties the place). FALSE when there is no
  // such place.
  BOOL Replace(int nImage, const CBitmap* pbmImage, const CBitmap* pbmMask = nullptr);
  // The box size given to Create.
  BOOL GetIconSize(int& cx, int& cy) const;

 private:
  friend const QImage* AfxImageOf(const CImageList& list, int nImage);
  struct CImages;
  std::unique_ptr<CImages> m_pImages;
  int m_cx = 0;
  int m_cy = 0;
};
