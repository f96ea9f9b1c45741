#include "view/ReducedCopies.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>

#include "win32/VirtualMemory.h"

using vimo::platform::AxisTaps;
using vimo::platform::MakeAxisTaps;
using vimo::platform::PackedRows;
using vimo::platform::RowFetch;
using vimo::platform::ScaleRows;

namespace {

// What is posted in wParam of WM_REDUCED_COPIES.
enum : WPARAM {
  kStartBuild,  // the paint that wants the copies is done: their builder may start
  kBuilt,       // the builder has ended
  kSmooth,      // the paints under way are done: the averaged drawing is due
};

// All reduced copies of one image together take at most this many bytes.
constexpr std::uint64_t kBudget = 16'000'000;

// The copies of an image of width x height: the finest that the budget allows with the coarser
// ones (which add a third), each twice as coarse as the one before, down to a few dozen pixels.
std::vector<DRAWDIBCOPY> PlanCopies(int width, int height) {
  std::vector<DRAWDIBCOPY> copies;
  for (int first = 2;; ++first) {
    copies.clear();
    std::uint64_t bytes = 0;
    for (std::int64_t k = first; k <= INT32_MAX; k *= 2) {
      const int w = static_cast<int>((width + k - 1) / k);
      const int h = static_cast<int>((height + k - 1) / k);
      copies.push_back({static_cast<int>(k), w, h, nullptr});
      bytes += 3ull * static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
      if (std::max(w, h) <= 32) break;
    }
    if (bytes <= kBudget) return copies;
  }
}

std::size_t BytesOf(const DRAWDIBCOPY& copy) {
  return 3 * static_cast<std::size_t>(copy.nWidth) * static_cast<std::size_t>(copy.nHeight);
}

}  // namespace

// What the builder's threads work on. Fixed before the builder starts, but for `cancel`;
// bWhole is read once the builder has been waited for.
struct CReducedCopies::CBuild {
  ~CBuild() { DrawDibCloseRows(hRows); }
  // Scales rows [first, last) of copy `into` from the image's rows (copy 0) or from the copy before.
  bool ScaleInto(std::size_t into, int first, int last) const;
  // The first copy's rows in bands on threads of their own, then the coarser copies from it.
  bool BuildAll() const;

  HDIBROWS hRows = nullptr;
  int nWidth = 0;
  int nHeight = 0;
  std::vector<DRAWDIBCOPY> copies;
  std::vector<BYTE*> rows;  // each copy's rows, where the builder writes them
  std::atomic<bool> cancel{false};
  bool bWhole = false;
  HWND hWnd = nullptr;
  LPARAM nImage = 0;
};

bool CReducedCopies::CBuild::ScaleInto(std::size_t into, int first, int last) const {
  const DRAWDIBCOPY& copy = copies[into];
  const int element = into == 0 ? 1 : copies[into - 1].nFactor;
  const AxisTaps x = MakeAxisTaps(0, copy.nWidth, copy.nWidth, 0, std::int64_t{copy.nWidth} * copy.nFactor, element, nWidth);
  const AxisTaps y = MakeAxisTaps(first, last, copy.nHeight, 0, std::int64_t{copy.nHeight} * copy.nFactor, element, nHeight);
  const std::size_t stride = 3 * static_cast<std::size_t>(copy.nWidth);
  BYTE* out = rows[into] + stride * static_cast<std::size_t>(first);
  if (into > 0) {
    const DRAWDIBCOPY& finer = copies[into - 1];
    const RowFetch fetch = PackedRows(finer.lpBits, 3 * static_cast<std::size_t>(finer.nWidth), finer.nHeight,
                                      3 * static_cast<std::size_t>(x.elementFirst));
    return ScaleRows(x, y, 3, fetch, out, stride, 3, &cancel);
  }
  int bytesPerPixel = 0;
  const RowFetch fetch = DrawDibFetchRows(hRows, x.elementFirst, x.elementCount, &bytesPerPixel);
  return ScaleRows(x, y, bytesPerPixel, fetch, out, stride, 3, &cancel);
}

bool CReducedCopies::CBuild::BuildAll() const {
  // A band of the first copy on a helper thread.
  struct CBand {
    const CBuild* pBuild;
    int first;
    int last;
    bool bDone = false;
  };
  const auto bandProc = [](LPVOID pParam) -> UINT {
    auto* band = static_cast<CBand*>(pParam);
    band->bDone = band->pBuild->ScaleInto(0, band->first, band->last);
    return 0;
  };
  const int height = copies[0].nHeight;
  const int count = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
  std::vector<CBand> bands;
  for (int band = 1; band < count && height >= 64 * count; ++band)
    bands.push_back({this, height * band / count, height * (band + 1) / count});
  std::vector<std::unique_ptr<CWinThread>> helpers;
  for (CBand& band : bands) helpers.push_back(AfxBeginThread(bandProc, &band));
  bool whole = ScaleInto(0, 0, bands.empty() ? height : bands.front().first);
  helpers.clear();  // waits for them
  for (const CBand& band : bands) whole = whole && band.bDone;
  for (std::size_t i = 1; i < copies.size() && whole; ++i) whole = ScaleInto(i, 0, copies[i].nHeight);
  return whole;
}

void CReducedCopies::CMemoryRelease::operator()(BYTE* p) const { VirtualFree(p, 0, MEM_RELEASE); }

CReducedCopies::CReducedCopies() = default;

CReducedCopies::~CReducedCopies() {
  // The drawing handle may be gone already: the copies it was given are never drawn again.
  if (m_pBuild != nullptr) m_pBuild->cancel = true;
  m_pBuilder.reset();
}

void CReducedCopies::Reset() {
  if (m_pBuild != nullptr) m_pBuild->cancel = true;
  m_pBuilder.reset();  // waits for it
  m_pBuild.reset();
  if (m_state == State::kReady) DrawDibSetCopies(m_hdd, nullptr, nullptr, 0);
  m_state = State::kNone;
  ++m_nImage;
  m_copies.clear();
  m_averaged = CShown();
  m_bSmoothAsked = FALSE;
  m_bSmoothDue = FALSE;
}

BOOL CReducedCopies::IsBuilding() const { return m_state == State::kAsked || m_state == State::kBuilding; }

BOOL CReducedCopies::IsReady() const { return m_state == State::kReady; }

int CReducedCopies::FactorFor(double dReduce, BOOL& bPending) const {
  bPending = FALSE;
  if (m_copies.empty() || dReduce < m_copies.front().nFactor * (1 - 1e-9)) return 1;
  if (m_state != State::kReady) {
    bPending = IsBuilding();
    return 1;
  }
  int factor = 1;
  for (const DRAWDIBCOPY& copy : m_copies) {
    if (copy.nFactor <= dReduce * (1 + 1e-9)) factor = copy.nFactor;
  }
  return factor;
}

BOOL CReducedCopies::Draw(CWnd* pWnd, HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst,
                          const BITMAPINFOHEADER* lpbi, const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc,
                          int nOrientation, BOOL bOnlySmooth) {
  if (dxDst <= 0 || dyDst <= 0) return FALSE;
  m_pWnd = pWnd;
  const bool bTurned = nOrientation >= 5;  // shown rows are stored columns
  const double dReduce = std::min(static_cast<double>(dxSrc) / (bTurned ? dyDst : dxDst),
                                  static_cast<double>(dySrc) / (bTurned ? dxDst : dyDst));
  if (m_state != State::kNone && (hdd != m_hdd || lpbi != m_lpbi || lpBits != m_lpBits)) Reset();  // another image
  if (m_state == State::kNone && dReduce >= 2.0) {
    // The header may lie anywhere in a mapped file: it is copied before it is read.
    BITMAPINFOHEADER header;
    std::memcpy(&header, lpbi, sizeof(header));
    m_copies = PlanCopies(header.biWidth, header.biHeight < 0 ? -header.biHeight : header.biHeight);
    m_hdd = hdd;
    m_lpbi = lpbi;
    m_lpBits = lpBits;
    m_state = State::kPlanned;
  }
  // The builder starts once this paint is done, so that its quick drawing has the processors to
  // itself.
  if (m_state == State::kPlanned && dReduce >= m_copies.front().nFactor * (1 - 1e-9)) {
    m_state = State::kAsked;
    Post(kStartBuild);
  }
  BOOL bPending = FALSE;
  const CShown shown{dxDst, dyDst, nOrientation, FactorFor(dReduce, bPending)};
  // While the copies it wants are coming, a reduction is drawn quickly; their arrival brings the
  // averaged drawing. Otherwise a new size, turn or copy is drawn quickly once, then averaged.
  const BOOL bSmoothDue = std::exchange(m_bSmoothDue, FALSE);
  const BOOL bHurry = dReduce > 1 + 1e-9 && (bPending || (!bSmoothDue && !(shown == m_averaged)));
  if (bHurry && !bPending && !m_bSmoothAsked) {
    m_bSmoothAsked = TRUE;
    Post(kSmooth);
  }
  if (bHurry && bOnlySmooth) {
    m_bSmoothDue = bSmoothDue;
    return FALSE;
  }
  const BOOL bDrawn = DrawDibDraw(hdd, pDC, xDst, yDst, dxDst, dyDst, lpbi, lpBits, xSrc, ySrc, dxSrc, dySrc,
                                  bHurry ? DDF_HURRYUP : 0, nOrientation);
  if (!bHurry) m_averaged = shown;
  return bDrawn;
}

void CReducedCopies::Post(WPARAM wWhat) {
  if (m_pWnd != nullptr) m_pWnd->PostMessage(WM_REDUCED_COPIES, wWhat, m_nImage);
}

void CReducedCopies::OnMessage(WPARAM wParam, LPARAM lParam) {
  if (lParam != m_nImage) return;  // for an image shown before
  if (wParam == kSmooth) {
    m_bSmoothAsked = FALSE;
    m_bSmoothDue = TRUE;
  } else if (wParam == kStartBuild && m_state == State::kAsked) {
    Start();
    if (m_state == State::kBuilding) return;
    m_bSmoothDue = TRUE;  // no copies to wait for: averaged from the image itself
  } else if (wParam == kBuilt && m_state == State::kBuilding) {
    m_pBuilder.reset();  // it has ended: what it wrote is seen from here on
    const bool bWhole = m_pBuild->bWhole;
    m_pBuild.reset();
    m_state = bWhole ? State::kReady : State::kFailed;
    if (bWhole) DrawDibSetCopies(m_hdd, m_lpbi, m_copies.data(), static_cast<int>(m_copies.size()));
    m_bSmoothDue = TRUE;
  } else {
    return;
  }
  if (m_pWnd != nullptr) m_pWnd->InvalidateRect(nullptr, FALSE);
}

void CReducedCopies::Start() {
  m_state = State::kFailed;
  auto build = std::make_unique<CBuild>();
  build->hRows = DrawDibOpenRows(m_hdd, m_lpbi, m_lpBits);
  if (build->hRows == nullptr || !DrawDibGetRowsSize(build->hRows, &build->nWidth, &build->nHeight)) return;
  std::size_t bytes = 0;
  for (const DRAWDIBCOPY& copy : m_copies) bytes += BytesOf(copy);
  BYTE* memory = Reserve(bytes);
  if (memory == nullptr) return;
  for (DRAWDIBCOPY& copy : m_copies) {
    copy.lpBits = memory;
    build->rows.push_back(memory);
    memory += BytesOf(copy);
  }
  build->copies = m_copies;
  build->hWnd = m_pWnd != nullptr ? m_pWnd->m_hWnd : nullptr;
  build->nImage = m_nImage;
  m_pBuild = std::move(build);
  m_pBuilder = AfxBeginThread(&CReducedCopies::BuildProc, m_pBuild.get());
  m_state = State::kBuilding;
}

UINT CReducedCopies::BuildProc(LPVOID pParam) {
  auto* build = static_cast<CBuild*>(pParam);
  build->bWhole = build->BuildAll();
  PostMessageA(build->hWnd, WM_REDUCED_COPIES, kBuilt, build->nImage);
  return 0;
}

BYTE* CReducedCopies::Reserve(std::size_t nBytes) {
  if (nBytes <= m_nMemory) return m_pMemory.get();
  m_pMemory.reset();
  m_nMemory = 0;
  m_pMemory.reset(static_cast<BYTE*>(VirtualAlloc(nullptr, nBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)));
  if (m_pMemory != nullptr) m_nMemory = nBytes;
  return m_pMemory.get();
}
