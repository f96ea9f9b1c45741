#include "view/Slideshow.h"

#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "settings/Preferences.h"
#include "view/VimoView.h"

BEGIN_MESSAGE_MAP(CSlideshow, CCmdTarget)
  ON_COMMAND(ID_VIEW_SLIDESHOW, OnViewSlideshow)
  ON_UPDATE_COMMAND_UI(ID_VIEW_SLIDESHOW, OnUpdateViewSlideshow)
  ON_COMMAND_EX_RANGE(ID_VIEW_SLIDESHOW_2S, ID_VIEW_SLIDESHOW_10S, OnViewSlideshowInterval)
  ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SLIDESHOW_2S, ID_VIEW_SLIDESHOW_10S, OnUpdateViewSlideshowInterval)
END_MESSAGE_MAP()

namespace {

// The slideshow's intervals, as the menu offers them.
constexpr struct {
  UINT nID;
  int nSeconds;
} kIntervals[] = {{ID_VIEW_SLIDESHOW_2S, 2}, {ID_VIEW_SLIDESHOW_3S, 3}, {ID_VIEW_SLIDESHOW_5S, 5}, {ID_VIEW_SLIDESHOW_10S, 10}};

}  // namespace

BOOL CSlideshow::IsFullScreen() const {
  CFrameWnd* pFrame = m_pView->GetParentFrame();
  return pFrame != nullptr && pFrame->IsFullScreen();
}

void CSlideshow::SwitchFullScreen() { m_pView->GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN); }

void CSlideshow::OnViewSlideshow() {
  if (m_bRunning) {
    End();
    return;
  }
  m_bRunning = TRUE;
  m_bPaused = FALSE;
  m_bMadeFullScreen = !IsFullScreen();
  if (m_bMadeFullScreen) SwitchFullScreen();
  WaitForSlide();
}

void CSlideshow::OnUpdateViewSlideshow(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_bRunning || m_pView->GetDocument()->m_pDib != nullptr);
  pCmdUI->SetCheck(m_bRunning ? 1 : 0);
}

BOOL CSlideshow::OnViewSlideshowInterval(UINT nID) {
  for (const auto& interval : kIntervals) {
    if (interval.nID == nID) g_nSlideshowSeconds = interval.nSeconds;
  }
  WriteViewPreference("SlideshowSeconds", g_nSlideshowSeconds);
  WaitForSlide();
  return TRUE;
}

void CSlideshow::OnUpdateViewSlideshowInterval(CCmdUI* pCmdUI) {
  for (const auto& interval : kIntervals) {
    if (interval.nID == pCmdUI->m_nID) pCmdUI->SetCheck(interval.nSeconds == g_nSlideshowSeconds ? 1 : 0);
  }
}

void CSlideshow::WaitForSlide() {
  if (m_bRunning && !m_bPaused) m_pView->SetTimer(kTimer, static_cast<UINT>(g_nSlideshowSeconds) * 1000);
}

void CSlideshow::TogglePause() {
  if (!m_bRunning) return;
  m_bPaused = !m_bPaused;
  if (m_bPaused) m_pView->KillTimer(kTimer);
  else WaitForSlide();
}

void CSlideshow::End() {
  m_pView->KillTimer(kTimer);
  m_bRunning = FALSE;
  if (m_bMadeFullScreen && IsFullScreen()) SwitchFullScreen();
  m_bMadeFullScreen = FALSE;
}

void CSlideshow::OnStep() {
  if (!IsFullScreen()) {
    End();
    return;
  }
  CVimoDoc* pDoc = m_pView->GetDocument();
  if (m_pView->GetParentFrame()->InModalState() || pDoc->m_nNextWanted > 0) return;
  CConvertQueue& queue = pDoc->m_queue;
  if (!queue.CanNext() && !queue.IsNextComing()) {
    End();  // the last image of the browse order stays, in the window
    return;
  }
  // The next image, as Tab brings it.
  m_pView->ExecuteCommand(ID_GO_NEXT);
}
