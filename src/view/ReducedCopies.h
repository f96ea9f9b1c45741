// How the view draws its image through DrawDib, with the reduced copies that its large reductions
// are drawn from.
//
// A reduction at a new size or turn is drawn quickly first (each pixel the stored one at its
// centre) and averaged in a paint of its own right after. An image reduced two times and more is
// averaged from reduced copies of it (k, 2 k, 4 k ... times smaller, at most 16 MB together),
// built by threads of their own once a paint needs them, after that paint: until they are ready
// the quick drawing stands, and the window is repainted when they are. The window's thread only
// draws, whatever the image: a file's, or an animation's frame.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "afx/afxwin.h"

// Posted to the window drawn into, whose handler passes it to OnMessage: wParam what is due,
// lParam the image it is due for.
inline constexpr UINT WM_REDUCED_COPIES = WM_USER + 0x260;

class CReducedCopies {
 public:
  CReducedCopies();
  // A build under way is stopped and waited for.
  ~CReducedCopies();
  CReducedCopies(const CReducedCopies&) = delete;
  CReducedCopies& operator=(const CReducedCopies&) = delete;

  // The image changed: the copies and what was drawn are forgotten, and a build under way is
  // stopped and waited for, so that the rows it reads may go. The memory stays for the next.
  void Reset();

  // Draws the part xSrc, ySrc, dxSrc x dySrc (as stored) of the image lpbi / lpBits of hdd into the
  // destination of pDC, turned by nOrientation, as DrawDibDraw does; the copies are of the whole
  // image. pWnd is the window painted, which gets the messages that ask for what follows. FALSE
  // when nothing could be drawn. With bOnlySmooth a drawing that would be the quick one is not
  // made (FALSE): the averaged one is asked for, and the window repainted when it is due.
  BOOL Draw(CWnd* pWnd, HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
            const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, int nOrientation, BOOL bOnlySmooth = FALSE);
  // WM_REDUCED_COPIES: starts the build asked for, or takes the built copies into use, or has the
  // averaged drawing made; the window is repainted where that changes what it shows.
  void OnMessage(WPARAM wParam, LPARAM lParam);

  // Copies of the image are being built; are ready to draw from.
  BOOL IsBuilding() const;
  BOOL IsReady() const;

 private:
  enum class State { kNone, kPlanned, kAsked, kBuilding, kReady, kFailed };
  // What a drawing showed: its size, turn and the copy it was made from (1: the image itself).
  struct CShown {
    int dx = 0;
    int dy = 0;
    int nOrientation = 0;
    int nFactor = 0;
    friend bool operator==(const CShown&, const CShown&) = default;
  };
  struct CBuild;
  // The builder's thread: fills the copies, then posts what it came to.
  static UINT BuildProc(LPVOID pParam);
  void Start();
  void Post(WPARAM wWhat);
  // The factor of the copy a reduction by dReduce is drawn from; 1 for the image itself. Sets
  // bPending while the copy it wants is still to come.
  int FactorFor(double dReduce, BOOL& bPending) const;
  // At least nBytes of memory for the copies; NULL when there is none.
  BYTE* Reserve(std::size_t nBytes);

  struct CMemoryRelease {
    void operator()(BYTE* p) const;
  };

  State m_state = State::kNone;
  LPARAM m_nImage = 0;  // raised by each Reset: what was posted for an earlier image is dropped
  CWnd* m_pWnd = nullptr;
  HDRAWDIB m_hdd = nullptr;
  const BITMAPINFOHEADER* m_lpbi = nullptr;
  const void* m_lpBits = nullptr;
  std::vector<DRAWDIBCOPY> m_copies;  // planned; their rows once built
  std::unique_ptr<CBuild> m_pBuild;   // what the builder works on, while there is one
  std::unique_ptr<CWinThread> m_pBuilder;
  std::unique_ptr<BYTE, CMemoryRelease> m_pMemory;  // the copies' rows, kept from image to image
  std::size_t m_nMemory = 0;
  // The last averaged drawing, and the averaged drawing after a quick one: asked for, and due.
  CShown m_averaged;
  BOOL m_bSmoothAsked = FALSE;
  BOOL m_bSmoothDue = FALSE;
};
