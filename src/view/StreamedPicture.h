// What the view shows of an image while its conversion still runs: the rows the conversion has
// written into its BMP file so far, drawn from that file as they come; or, for a picture fitted
// to the window, a reduced picture decoded aside through the JPEG decoder's own scaling, with the
// same colours as the conversion's. The converted file, once shown, replaces it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "afx/afxwin.h"
#include "convert/JpegStream.h"
#include "view/ImageLayout.h"
#include "win32/MappedFile.h"

// Posted to the view: news of the conversion under way (CStreamProgress); the reduced picture
// decoded aside is ready (lParam: the conversion it is of).
inline constexpr UINT WM_STREAM_PROGRESS = WM_USER + 0x270;
inline constexpr UINT WM_STREAMED_PICTURE = WM_USER + 0x271;

class CStreamedPicture {
 public:
  CStreamedPicture();
  // Stops the reduced decode and waits for it.
  ~CStreamedPicture();
  CStreamedPicture(const CStreamedPicture&) = delete;
  CStreamedPicture& operator=(const CStreamedPicture&) = delete;

  // Follows the conversion nSerial of source from now on, dropping what was followed. With
  // wanted, a reduced picture at least that large is decoded aside; its end is posted to pWnd
  // as WM_STREAMED_PICTURE and sets pWake.
  void Begin(unsigned nSerial, const std::string& source, CWnd* pWnd, CEvent* pWake, vimo::convert::ReducedSize wanted);
  // Forgets the picture; a reduced decode under way is stopped and waited for.
  void Reset();
  unsigned Serial() const { return m_nSerial; }
  const std::string& Source() const { return m_strSource; }

  // The top nRows rows are complete in the BMP file written (the file is mapped at the first
  // rows); the rows complete before. -1 when the file cannot be shown.
  int TakeRows(const std::string& written, int nRows);
  // WM_STREAMED_PICTURE: takes the reduced picture into use; FALSE when it is not this
  // conversion's, or none came.
  BOOL TakeReduced(LPARAM lParam);

  // Something to show: rows, or the reduced picture.
  BOOL IsShown() const { return m_nRows > 0 || HasReduced(); }
  BOOL HasReduced() const { return !m_reduced.bmp.empty(); }
  int Rows() const { return m_nRows; }
  // The reduced picture's own size.
  CSize ReducedSize() const;
  // A reduced decode is under way.
  BOOL IsDecoding() const { return m_pDecoder != nullptr; }
  // The full image's size as stored.
  CSize StoredSize() const { return m_sizeStored; }
  // Where stored rows nFirst .. nLast - 1 lie in the view for the layout, the image's top-left
  // corner at origin.
  static CRect RowsShown(int nFirst, int nLast, CPoint origin, const CImageLayout::CLayout& layout);
  // What the picture covers as it is drawn.
  CRect Covered(CPoint origin, const CImageLayout::CLayout& layout) const;
  // Draws the picture as the layout says: the reduced picture when there is one, else the rows.
  void Draw(CDC* pDC, CPoint origin, const CImageLayout::CLayout& layout);

 private:
  struct CDecode;
  static UINT DecodeProc(LPVOID pParam);

  unsigned m_nSerial = 0;
  std::string m_strSource;
  HDRAWDIB m_hdd = nullptr;  // the rows' drawing handle
  HDRAWDIB m_hddReduced = nullptr;
  std::string m_strWritten;
  vimo::platform::MappedFile m_file;  // the BMP file being written, mapped from offset 14
  int m_nRows = 0;
  CSize m_sizeStored;
  vimo::convert::ReducedJpeg m_reduced;
  std::unique_ptr<CDecode> m_pDecode;
  std::unique_ptr<CWinThread> m_pDecoder;  // joined by Reset
};
