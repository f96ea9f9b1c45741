#include "view/ThumbnailMaker.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "win32/ThumbnailCache.h"

namespace {

// How Vimo names itself in the desktop's thumbnail cache.
constexpr THUMBNAILMAKER kVimoInCache = {"Vimo 3.2", "vimo-3.2", "X-Vimo::Reason"};
constexpr const char* kUnknownReason = "cannot be read";

// While the program holds the makers back, they look again this often (milliseconds).
constexpr DWORD kHoldRecheck = 15;
// While more are being made, ready thumbnails are handed over at most this often: each handing
// over costs the window a repaint, and the screen a copy of it.
constexpr auto kAnnounceInterval = std::chrono::milliseconds(100);
// The makers' niceness above the program's other threads.
constexpr int kLowerPriority = 10;
// At most this much of made thumbnails' pictures waits to be written to the cache while more are
// to be shown: a screenful of the small ones (a grid scrolled on and on keeps asking for more).
constexpr std::size_t kMostUnwrittenBytes = 4 << 20;

std::size_t BytesOf(const CBitmap& picture) {
  const CSize size = picture.GetSize();
  return std::size_t{4} * static_cast<std::size_t>(size.cx) * static_cast<std::size_t>(size.cy);
}

}  // namespace

// What the window's thread and the makers share. Everything but the events is guarded by lock.
struct CThumbnailMaker::CState {
  struct CWanted {
    std::string path;
    UINT cx = 0;
    bool shown = false;
    bool onScreen = false;  // its screenful is complete only once it is there
  };
  // A made thumbnail still to be written to the cache.
  struct CUnwritten {
    CThumbnailCache::CEntry entry;
    CBitmap picture;
  };

  // A maker's loop, until stop: takes the first of wanted, makes it with the lock released, writes
  // it to the cache or holds it back, and delivers it.
  void Run();
  bool HasWork() const { return stop || !wanted.empty() || !unwritten.empty(); }
  // Writes those held back and write, if any, with the lock released meanwhile.
  void WriteUnwritten(CSingleLock& guard, std::optional<CUnwritten> write);
  // Whether any wanted, or being made, is of that kind (shown, on screen).
  bool Left(bool CWanted::*kind) const;
  CThumbnail Make(const CWanted& item, PFNTHUMBNAILPROVIDER pfnProvider, std::optional<CUnwritten>& write) const;

  const CThumbnailCache cache{kVimoInCache};
  CCriticalSection lock;
  CEvent work{FALSE, TRUE};     // set while there may be work (HasWork)
  CEvent stopped{FALSE, TRUE};  // set by Close
  std::deque<CWanted> wanted;
  // Made and delivered, written once no more are wanted on screen: encoding them would hold up
  // those (the first screenful of a folder never seen, some 5 % sooner).
  std::vector<CUnwritten> unwritten;
  std::size_t nUnwrittenBytes = 0;
  std::vector<CWanted> making;  // those being made
  bool stop = false;
  std::vector<CThumbnail> ready;
  bool announced = false;  // the window was told of those ready, and has not taken them
  bool lastReady = false;  // the last of those shown, or of those on screen, is among them
  std::chrono::steady_clock::time_point lastTaken;
  PFNTHUMBNAILPROVIDER pfnProvider = nullptr;
  PFNTHUMBNAILCAPTION pfnCaption = nullptr;
  std::function<bool()> hold;
  int nThreads = 1;
  bool background = true;
  std::vector<std::unique_ptr<CWinThread>> threads;
  HWND hNotify = nullptr;
  UINT nMessage = 0;
};

void CThumbnailMaker::CState::Run() {
  // Below the program's own work: the conversion the user waits for comes first.
  if (background) vimo::platform::LowerThreadPriority(kLowerPriority);
  CSingleLock guard(&lock, TRUE);
  for (;;) {
    if (stop) return;
    if (!HasWork()) {
      work.ResetEvent();  // under the lock: whoever adds work sets it again after
      guard.Unlock();
      work.Lock();
      guard.Lock();
      continue;
    }
    if (wanted.empty() || !wanted.front().shown) {
      if (!unwritten.empty()) WriteUnwritten(guard, std::nullopt);
      if (wanted.empty()) continue;
    }
    if (hold) {
      const std::function<bool()> holding = hold;
      guard.Unlock();
      const bool held = holding();
      if (held) stopped.Lock(kHoldRecheck);
      guard.Lock();
      if (held || wanted.empty()) continue;
    }
    const CWanted item = wanted.front();
    wanted.pop_front();
    making.push_back(item);
    const PFNTHUMBNAILPROVIDER provider = pfnProvider;
    const PFNTHUMBNAILCAPTION caption = pfnCaption;
    guard.Unlock();
    std::optional<CUnwritten> write;
    CThumbnail thumbnail = Make(item, provider, write);
    if (caption != nullptr && item.shown) thumbnail.strCaption = caption(item.path.c_str());
    guard.Lock();
    const bool moreShown = !wanted.empty() && wanted.front().shown;
    if (write && moreShown && nUnwrittenBytes + BytesOf(write->picture) <= kMostUnwrittenBytes) {
      nUnwrittenBytes += BytesOf(write->picture);
      unwritten.push_back(std::move(*write));
    } else if (!moreShown) {
      // In the cache before it is delivered, and those held back with it: none waits past the
      // screenful it was made for.
      WriteUnwritten(guard, std::move(write));
    } else if (write) {
      guard.Unlock();
      cache.Put(write->entry, write->picture);
      guard.Lock();
    }
    const auto made = std::find_if(making.begin(), making.end(), [&item](const CWanted& each) {
      return each.path == item.path && each.cx == item.cx && each.shown == item.shown;
    });
    const bool onScreen = made->onScreen;  // as the latest request has it
    making.erase(made);
    if (!item.shown) continue;
    ready.push_back(std::move(thumbnail));
    // The screenful it completes is not kept waiting for the next handing over either.
    const bool last = !Left(&CWanted::shown) || (onScreen && !Left(&CWanted::onScreen));
    lastReady = lastReady || last;
    if ((!announced || last) && hNotify != nullptr) {
      announced = true;
      PostMessageA(hNotify, nMessage, 0, 0);
    }
  }
}

bool CThumbnailMaker::CState::Left(bool CWanted::*kind) const {
  const auto of = [kind](const CWanted& each) { return each.*kind; };
  return std::any_of(making.begin(), making.end(), of) || std::any_of(wanted.begin(), wanted.end(), of);
}

void CThumbnailMaker::CState::WriteUnwritten(CSingleLock& guard, std::optional<CUnwritten> write) {
  std::vector<CUnwritten> writes = std::exchange(unwritten, {});
  nUnwrittenBytes = 0;
  if (write) writes.push_back(std::move(*write));
  if (writes.empty()) return;
  guard.Unlock();
  for (const CUnwritten& each : writes) cache.Put(each.entry, each.picture);
  guard.Lock();
}

CThumbnailMaker::CThumbnail CThumbnailMaker::CState::Make(const CWanted& item, PFNTHUMBNAILPROVIDER pfnProvider,
                                                          std::optional<CUnwritten>& write) const {
  CThumbnail thumbnail;
  thumbnail.strPath = item.path;
  thumbnail.cx = item.cx;
  CThumbnailCache::CEntry entry;
  switch (cache.Find(item.path.c_str(), item.cx, item.shown, entry)) {
    case CThumbnailCache::Found::kPicture:
      if (item.shown) thumbnail.bitmap = DrawableThumbnail(entry.picture, item.cx);
      return thumbnail;
    case CThumbnailCache::Found::kFailure:
    case CThumbnailCache::Found::kNoFile:
      thumbnail.strReason = entry.strReason.IsEmpty() ? CString(kUnknownReason) : entry.strReason;
      return thumbnail;
    case CThumbnailCache::Found::kNothing:
      break;
  }
  THUMBNAILPIXELS pixels;
  CString reason;
  CBitmap picture;
  if (pfnProvider != nullptr && pfnProvider(item.path.c_str(), entry.cx, pixels, reason))
    picture = UprightThumbnail(pixels, entry.cx);
  if (picture.IsEmpty()) {
    thumbnail.strReason = reason.IsEmpty() ? CString(kUnknownReason) : reason;
    cache.PutFailure(entry, thumbnail.strReason);
    return thumbnail;
  }
  if (item.shown) thumbnail.bitmap = DrawableThumbnail(picture, item.cx);
  write = CUnwritten{std::move(entry), std::move(picture)};
  return thumbnail;
}

CThumbnailMaker::CThumbnailMaker(int nThreads, BOOL bBackground) : m_pState(std::make_unique<CState>()) {
  m_pState->nThreads = std::max(1, nThreads);
  m_pState->background = bBackground != FALSE;
}

CThumbnailMaker::~CThumbnailMaker() { Close(); }

UINT CThumbnailMaker::RunProc(LPVOID pParam) {
  static_cast<CState*>(pParam)->Run();
  return 0;
}

void CThumbnailMaker::Close() {
  std::vector<std::unique_ptr<CWinThread>> threads;
  {
    CSingleLock guard(&m_pState->lock, TRUE);
    m_pState->stop = true;
    m_pState->wanted.clear();
    threads = std::move(m_pState->threads);
    m_pState->work.SetEvent();
    m_pState->stopped.SetEvent();
  }
  threads.clear();  // waits for them
}

void CThumbnailMaker::SetCaption(PFNTHUMBNAILCAPTION pfnCaption) {
  CSingleLock guard(&m_pState->lock, TRUE);
  m_pState->pfnCaption = pfnCaption;
}

void CThumbnailMaker::SetProvider(PFNTHUMBNAILPROVIDER pfnProvider) {
  CSingleLock guard(&m_pState->lock, TRUE);
  m_pState->pfnProvider = pfnProvider;
}

void CThumbnailMaker::SetHold(std::function<bool()> hold) {
  CSingleLock guard(&m_pState->lock, TRUE);
  m_pState->hold = std::move(hold);
}

void CThumbnailMaker::SetNotifyWindow(HWND hWnd, UINT nMessage) {
  CSingleLock guard(&m_pState->lock, TRUE);
  m_pState->hNotify = hWnd;
  m_pState->nMessage = nMessage;
}

void CThumbnailMaker::Request(const std::vector<CString>& paths, std::size_t nShown, UINT cx, std::size_t nOnScreen) {
  CState& state = *m_pState;
  CSingleLock guard(&state.lock, TRUE);
  if (state.stop) return;
  state.wanted.clear();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    CState::CWanted item{paths[i].str(), cx, i < nShown, i < std::min(nOnScreen, nShown)};
    // One being made that will be delivered if need be, or one to show that was made and not
    // yet taken, is not begun again (those only to be made, the rest of a large folder, are
    // not looked for among the ready: the request is made on every scroll).
    const auto same = [&item](const CState::CWanted& other) {
      return other.path == item.path && other.cx == item.cx && (other.shown || !item.shown);
    };
    const auto taken = [&item](const CThumbnail& ready) { return ready.strPath.str() == item.path && ready.cx == item.cx; };
    const auto beingMade = std::find_if(state.making.begin(), state.making.end(), same);
    if (beingMade != state.making.end()) beingMade->onScreen = item.onScreen;
    else if (!item.shown || std::none_of(state.ready.begin(), state.ready.end(), taken))
      state.wanted.push_back(std::move(item));
  }
  try {
    while (!state.wanted.empty() && static_cast<int>(state.threads.size()) < state.nThreads)
      state.threads.push_back(AfxBeginThread(&CThumbnailMaker::RunProc, &state));
  } catch (const std::system_error&) {
    // Fewer threads than asked: those there are do the work.
  }
  if (state.HasWork()) state.work.SetEvent();
}

std::vector<CThumbnailMaker::CThumbnail> CThumbnailMaker::TakeReady() {
  CState& state = *m_pState;
  CSingleLock guard(&state.lock, TRUE);
  if (state.ready.empty()) return {};
  const auto now = std::chrono::steady_clock::now();
  const auto due = state.lastTaken + kAnnounceInterval;
  CWnd* pNotify = CWnd::FromHandle(state.hNotify);
  if (!state.lastReady && now < due) {
    // Again when the time is up (a timer that fired early comes back here and is set again).
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    if (pNotify != nullptr) pNotify->SetTimer(state.nMessage, static_cast<UINT>(wait), &CThumbnailMaker::AnnounceAgain);
    return {};
  }
  if (pNotify != nullptr) pNotify->KillTimer(state.nMessage);
  state.lastTaken = now;
  state.announced = false;
  state.lastReady = false;
  return std::exchange(state.ready, {});
}

// The timer's ID is the message that announces ready thumbnails.
void CThumbnailMaker::AnnounceAgain(HWND hWnd, UINT /*uMsg*/, UINT_PTR nIDEvent, DWORD /*dwTime*/) {
  CWnd* pWnd = CWnd::FromHandle(hWnd);
  if (pWnd == nullptr) return;
  pWnd->KillTimer(nIDEvent);
  pWnd->PostMessage(static_cast<UINT>(nIDEvent));
}

CThumbnailMaker::CCarried CThumbnailMaker::TakeThumbnails(const char* path) {
  CCarried carried;
  const CThumbnailCache cache{kVimoInCache};
  for (const UINT cx : {128u, 256u, 512u, 1024u}) {
    CThumbnailCache::CEntry entry;
    if (cache.Find(path, cx, TRUE, entry) == CThumbnailCache::Found::kPicture && entry.cx == cx)
      carried.pictures.emplace_back(cx, entry.picture);
  }
  return carried;
}

void CThumbnailMaker::PutThumbnails(const CCarried& carried, const char* oldPath, const char* newPath) {
  CThumbnailCache::ForgetFile(oldPath);
  const CThumbnailCache cache{kVimoInCache};
  for (const auto& [cx, picture] : carried.pictures) {
    CThumbnailCache::CEntry entry;
    if (cache.Find(newPath, cx, FALSE, entry) == CThumbnailCache::Found::kNothing) cache.Put(entry, picture);
  }
}
