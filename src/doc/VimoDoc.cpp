#include "doc/VimoDoc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "convert/ImageFormat.h"
#include "doc/ExifOrientation.h"
#include "doc/LosslessTurn.h"
#include "doc/Orientation.h"
#include "res/Resource.h"
#include "settings/Preferences.h"
#include "win32/DibLayout.h"
#include "win32/FileMoves.h"
#include "win32/ThumbnailCache.h"

int g_bPollQueue = 0;

IMPLEMENT_DYNCREATE(CVimoDoc, CDocument)

BEGIN_MESSAGE_MAP(CVimoDoc, CDocument)
  ON_COMMAND_EX_RANGE(ID_VIEW_SORT_NAME, ID_VIEW_SORT_SIZE, OnViewSortOrder)
  ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SORT_NAME, ID_VIEW_SORT_SIZE, OnUpdateViewSortOrder)
  ON_COMMAND(ID_VIEW_SORT_REVERSE, OnViewSortReverse)
  ON_UPDATE_COMMAND_UI(ID_VIEW_SORT_REVERSE, OnUpdateViewSortReverse)
END_MESSAGE_MAP()

namespace {

// The two filters of the Open and Save dialogs: the image files opened now, and every file.
std::string ImageFilter() {
  using namespace std::string_literals;
  const std::string patterns = JoinedImageExtensions(g_bOtherFormats != 0, "*", ";");
  return "ｲﾒｰｼﾞﾌｧｲﾙ\0"s + patterns + "\0他のファイル (*.*)\0*.*\0\0"s;
}

const char* NameOf(const char* path) {
  const char* slash = std::strrchr(path, PATH_SEPARATOR);
  return slash != nullptr ? slash + 1 : path;
}

// Copies text into m_szFolder-sized storage; FALSE (and nothing copied) when it does not fit.
BOOL SetFolder(char (&folder)[PATH_MAX], const char* text, std::size_t length) {
  if (length >= sizeof(folder)) return FALSE;
  std::memcpy(folder, text, length);
  folder[length] = '\0';
  return TRUE;
}

// Folders and devices (FIFOs, sockets, devices, broken links) are never browsed: only
// regular files can be converted, and opening anything else could block.
bool IsBrowsable(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Whether the file's content is a JPEG's (its first bytes).
BOOL IsJpegFile(const char* path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  unsigned char head[3] = {0, 0, 0};
  return file && std::fread(head, 1, 3, file.get()) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

}  // namespace

BOOL IsImageName(const char* name) { return ImageFormatOfName(name, g_bOtherFormats != 0) != nullptr ? TRUE : FALSE; }

CVimoDoc::CVimoDoc() {
  m_queue.StartThread();
  m_hDrawDib = DrawDibOpen();
  m_pOpenBuf = std::make_unique<char[]>(kOpenBufSize);
  m_pOpenBuf[0] = '\0';
  m_nNextName = 0;
  m_szFolder[0] = '\0';
  m_pBits = nullptr;
  m_nReadAhead = 0;
}

CVimoDoc::~CVimoDoc() {
  m_queue.ClearAll();
  ReleaseDib();
  if (m_hDrawDib != nullptr) DrawDibClose(m_hDrawDib);
  m_hDrawDib = nullptr;
  m_pOpenBuf.reset();
  // m_strFileName goes next, then m_queue, whose worker has ended before its lists go.
}

void CVimoDoc::Serialize(CArchive& /*ar*/) {}

BOOL CVimoDoc::OnNewDocument() { return CDocument::OnNewDocument() ? TRUE : FALSE; }

void CVimoDoc::ReleaseDib() {
  // Drawing lets go of the image (and stops reducing it) before it goes.
  DrawDibSetSource(m_hDrawDib, nullptr, 0, -1, 0);
  m_pAnimation.reset();  // before the file it plays from goes
  m_pDib = CShownDib();
  m_nDibSize = 0;
  m_pBits = nullptr;
  m_fileDib.reset();
  m_shownTurn = CConvertedTurn{};
  m_bShownJpeg = FALSE;
}

BOOL CVimoDoc::IsOpenedName(const char* name) const {
  return _mbscmp(reinterpret_cast<const unsigned char*>(name),
                 reinterpret_cast<const unsigned char*>(static_cast<const char*>(m_strFileName))) == 0;
}

// ---- browsing ---------------------------------------------------------------------------------

void CVimoDoc::ResetBrowsing() {
  m_folderWatch.Stop();
  m_nNextName = 0;
  m_nReadAhead = 0;
  m_nQueued = 0;
  m_nNextWanted = 0;
  m_bWrapPending = FALSE;
  m_bWrapped = FALSE;
}

void CVimoDoc::OpenImages(const char* path) {
  ResetBrowsing();
  CString openedPath;
  if (path == nullptr) {
    if (!RunOpenDialog(openedPath)) return;
  } else {
    if (std::strlen(path) >= PATH_MAX) {
      RefuseLongPath(path);
      return;
    }
    m_queue.ClearAll();
    Queue(path);
    m_strFileName = NameOf(path);
    openedPath = path;
  }
  if (m_nNextName == 0) {
    const char* name = NameOf(openedPath);
    const auto folderLength = static_cast<std::size_t>(name - openedPath.str().c_str());
    if (!SetFolder(m_szFolder, openedPath, folderLength)) {
      RefuseLongPath(CString(openedPath, static_cast<int>(folderLength)));
      return;
    }
    // The folder is read once, into the browse list the walk goes through.
    m_nReadAhead = ListFolder();
    if (m_nReadAhead == 0) return;
    // On from the opened file: the walk continues after it, and wraps.
    const int opened = g_bBrowseFromOpened ? m_images.Find(m_strFileName) : -1;
    if (opened >= 0) {
      m_nNextEntry = opened + 1;
      m_bWrapPending = TRUE;
    }
  } else {
    // The chosen image files, in the order chosen, for the grid and the film strip.
    m_images.Clear(FALSE);
    for (const char* name = m_pOpenBuf.get() + m_nNextName; *name != '\0'; name += std::strlen(name) + 1) {
      if (IsImageName(name)) m_images.Add(name);
    }
  }
  SetTitle(CString("Reading...") + m_szFolder);
  QueueNextImage();
  if (m_nReadAhead > 2) QueueNextImage();
  // The frame waits only for an image that can come.
  if (m_nQueued > 0) g_bPollQueue = 1;
  UpdateAllViews(nullptr, kHintBrowseList, nullptr);
}

void CVimoDoc::ListFolderInto(CFolderImages& images) const {
  images.Clear(TRUE);
  WIN32_FIND_DATAA entry;
  const HANDLE hFind = FindFirstFileA(CString(m_szFolder) + "*.*", &entry);
  if (hFind == INVALID_HANDLE_VALUE) return;
  do {
    if (IsBrowsable(entry) && IsImageName(entry.cFileName)) images.Add(entry.cFileName);
  } while (FindNextFileA(hFind, &entry));
  FindClose(hFind);
  images.Sort(m_szFolder, g_nSortOrder, g_bSortReverse);
}

int CVimoDoc::ListFolder() {
  m_nNextEntry = 0;
  ListFolderInto(m_images);
  // Files other programs put there or take away show up in the list.
  if (CWnd* pMainWnd = AfxGetMainWnd()) m_folderWatch.Watch(m_szFolder, pMainWnd, WM_FOLDER_CHANGED);
  return m_images.GetCount();
}

void CVimoDoc::OpenFolder(const char* folder) {
  ResetBrowsing();
  m_strFileName.Empty();
  CString path(folder);
  if (path.IsEmpty() || path.GetAt(path.GetLength() - 1) != PATH_SEPARATOR) path += PATH_SEPARATOR;
  if (!SetFolder(m_szFolder, path, static_cast<std::size_t>(path.GetLength()))) {
    RefuseLongPath(path);
    return;
  }
  m_queue.ClearAll();
  ReleaseDib();
  m_nReadAhead = ListFolder();
  SetTitle(path.GetLength() > 1 ? path.Left(path.GetLength() - 1) : path);
  UpdateAllViews(nullptr, 0, nullptr);
}

int CVimoDoc::GetShownIndex() const { return m_pDib == nullptr ? -1 : m_images.Find(GetTitle()); }

void CVimoDoc::WalkOnFrom(int nNext, const CString& name) {
  m_nNextWanted = 0;
  m_nNextName = 0;  // a selection, too, is walked through its browse list from now on
  m_strFileName = name;
  m_nNextEntry = std::clamp(nNext, 0, m_images.GetCount());
  m_bWrapped = FALSE;
  m_bWrapPending = m_nNextEntry > 0 ? TRUE : FALSE;
  m_nReadAhead = m_images.GetCount();
  QueueNextImage();
  if (m_nReadAhead > 2) QueueNextImage();
}

void CVimoDoc::BrowseFrom(int nIndex) {
  if (nIndex < 0 || nIndex >= m_images.GetCount() || nIndex == GetShownIndex()) return;
  const CString name = m_images.GetName(nIndex);
  m_queue.DropAhead();
  m_nQueued = 0;
  Queue(CString(m_szFolder) + name);
  WalkOnFrom(nIndex + 1, name);
  g_bPollQueue = 1;
}

void CVimoDoc::SortImages() {
  if (!m_images.IsFolder()) return;
  const int shown = GetShownIndex();
  const CString name = shown >= 0 ? m_images.GetName(shown) : CString();
  m_images.Sort(m_szFolder, g_nSortOrder, g_bSortReverse);
  const int place = m_images.Find(name);
  m_queue.DropAhead();
  WalkOnFrom(place + 1, name);
  UpdateAllViews(nullptr, kHintBrowseList, nullptr);
}

BOOL CVimoDoc::OnViewSortOrder(UINT nID) {
  g_nSortOrder = static_cast<int>(nID - ID_VIEW_SORT_NAME);
  WriteViewPreference("SortOrder", g_nSortOrder);
  SortImages();
  return TRUE;
}

void CVimoDoc::OnUpdateViewSortOrder(CCmdUI* pCmdUI) {
  pCmdUI->SetCheck(static_cast<int>(pCmdUI->m_nID - ID_VIEW_SORT_NAME) == g_nSortOrder ? 1 : 0);
}

void CVimoDoc::OnViewSortReverse() {
  g_bSortReverse = g_bSortReverse ? 0 : 1;
  WriteViewPreference("SortReverse", g_bSortReverse);
  SortImages();
}

void CVimoDoc::OnUpdateViewSortReverse(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bSortReverse); }

void CVimoDoc::ForgetImages(const std::vector<CString>& names) {
  const int shown = GetShownIndex();
  const CString shownName = shown >= 0 ? m_images.GetName(shown) : CString();
  // Where the walk goes on: the first image after the shown one that stays.
  CString following;
  for (int i = shown + 1; i < m_images.GetCount() && following.IsEmpty(); ++i) {
    if (std::find(names.begin(), names.end(), m_images.GetName(i)) == names.end()) following = m_images.GetName(i);
  }
  for (const CString& name : names) {
    m_images.Remove(name);
    if (name == shownName) {
      SetTitle("");
      m_queue.DeleteCurrent();
    }
  }
  const int next = following.IsEmpty() ? m_images.GetCount() : m_images.Find(following);
  m_queue.DropAhead();
  WalkOnFrom(next, shownName);
  UpdateAllViews(nullptr, kHintBrowseList, nullptr);
}

void CVimoDoc::ConvertAgain() {
  if (m_szFolder[0] == '\0') return;
  m_nNextWanted = 0;
  if (m_queue.RequeueFromShown(m_szFolder) > 0) g_bPollQueue = 1;
}

void CVimoDoc::RefuseLongPath(const char* path) {
  m_queue.ClearAll();
  m_nNextName = 0;
  m_nReadAhead = 0;
  m_szFolder[0] = '\0';
  SetTitle("");
  AfxMessageBox("path too long\n" + CString(path));
}

void CVimoDoc::Queue(const char* path) {
  if (std::strlen(path) >= PATH_MAX) {
    AfxMessageBox("path too long\n" + CString(path));
    return;
  }
  m_queue.Enqueue(path);
  ++m_nQueued;
}

void CVimoDoc::QueueNextImage() {
  --m_nReadAhead;
  if (m_nReadAhead < 0) return;
  if (m_nNextName != 0) {
    const char* name = nullptr;
    for (;;) {
      name = m_pOpenBuf.get() + m_nNextName;
      m_nNextName += static_cast<int>(std::strlen(name)) + 1;
      if (name[0] == '\0' || IsImageName(name)) break;
      --m_nReadAhead;
    }
    if (name[0] == '\0') {
      m_nNextName = 0;
      return;
    }
    // Names are tested lower-cased but reach the file as listed: file names are case-sensitive.
    Queue(CString(m_szFolder) + name);
    return;
  }
  for (;;) {
    while (m_nNextEntry < m_images.GetCount()) {
      const CString& name = m_images.GetName(m_nNextEntry++);
      if (!IsOpenedName(name)) {
        Queue(CString(m_szFolder) + name);
        return;
      }
      if (m_bWrapped) m_nNextEntry = m_images.GetCount();  // once round: browsing ends before the opened file
    }
    if (!m_bWrapPending) break;
    // The list ran out after the opened file: on from its beginning.
    m_bWrapPending = FALSE;
    m_bWrapped = TRUE;
    m_nNextEntry = 0;
  }
  // Run out: a later step, if one is still allowed, starts again at the list's beginning.
  m_nNextEntry = 0;
  if (m_bWrapped) m_nReadAhead = 0;
}

// ---- loading ----------------------------------------------------------------------------------

void CVimoDoc::LoadDib(const char* path) {
  POSITION pos = GetFirstViewPosition();
  CView* pView = GetNextView(pos);

  struct _stat status {};
  if (_stat(path, &status) != 0) {
    FailLoad(CString("stat error ") + path);
    return;
  }
  // A folder, FIFO, socket or device cannot be opened as an image, whatever its size says.
  if ((status.st_mode & _S_IFMT) != _S_IFREG) {
    FailLoad("Open error");
    return;
  }
  if (status.st_size < 200) {
    FailLoad("Invalid File Size");
    return;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  if (!file) {
    FailLoad("Open error");
    return;
  }
  // The block is the file itself, mapped from offset 14: nothing is copied, and drawing reads
  // only the rows it shows.
  vimo::platform::MappedFile block = vimo::platform::MappedFile::Map(file.get(), sizeof(BITMAPFILEHEADER));
  if (block == nullptr && errno == ENOMEM) {
    FailLoad("No memory");
    return;
  }
  // The name may have been given to a shorter file since its status was read.
  if (block == nullptr || block.size() + sizeof(BITMAPFILEHEADER) < 200) {
    FailLoad(block == nullptr ? "Open error" : "Invalid File Size");
    return;
  }

  const char* name = std::strrchr(path, PATH_SEPARATOR);
  name = name != nullptr ? name + 1 : path;
  const std::size_t nameLength = std::strlen(name);
  SetTitle(nameLength > 4 ? CString(name, static_cast<int>(nameLength - 4)) : CString());
  // The photo's own orientation, from its source file (the converted one keeps the pixels as
  // stored): the shown file is the folder followed by the title.
  m_nOrientation = ReadExifOrientation(CString(m_szFolder) + GetTitle());

  ReleaseDib();
  m_bAnimationStopped = FALSE;
  m_shownTurn = m_queue.GetShownTurn();
  m_bShownJpeg = IsJpegFile(CString(m_szFolder) + GetTitle());
  m_fileDib = std::move(block);
  ShowDib(m_fileDib.get(), m_fileDib.size(), m_fileDib.descriptor(), m_fileDib.offset());
  // An animated GIF plays on a canvas the size of its screen, from its first frame on.
  m_pAnimation = CGifAnimation::Create(m_fileDib, m_crAnimationBackground);
  if (m_pAnimation != nullptr) ShowDib(m_pAnimation->GetDib(), m_pAnimation->GetDibSize(), -1, 0);

  // The views take up the new image, and its animation when it has one.
  if (pView != nullptr) pView->InvalidateRect(nullptr, FALSE);
  UpdateAllViews(nullptr, kHintNewImage, nullptr);
}

void CVimoDoc::ShowDib(const BYTE* pDib, std::size_t cbDib, int fd, std::uint64_t offset) {
  m_pDib.m_pBytes = pDib;
  m_nDibSize = cbDib;
  m_pBits = GetBits();
  DrawDibSetSource(m_hDrawDib, pDib, cbDib, fd, offset);
}

void CVimoDoc::FailLoad(const char* lpszTitle) {
  SetTitle(lpszTitle);
  m_bAnimationStopped = TRUE;
}

void CVimoDoc::ForgetShownFile() {
  // It leaves the browse list too; the walk goes on where it was.
  const int shown = GetShownIndex();
  if (shown >= 0) {
    const CString name = m_images.GetName(shown);
    m_images.Remove(name);
    if (shown < m_nNextEntry) --m_nNextEntry;
    UpdateAllViews(nullptr, kHintBrowseList, nullptr);
  }
  SetTitle("");
  m_queue.DeleteCurrent();
  m_bAnimationStopped = TRUE;
}

// ---- deleting and Undo -------------------------------------------------------------------------

void CVimoDoc::RememberTrashed(std::vector<CTrashed> step) {
  m_trashSteps.push_back(std::move(step));
  if (m_trashSteps.size() > kUndoSteps) m_trashSteps.pop_front();
}

namespace {

// Undoes one file of a step: 0, else errno's reason (ESTALE or ENOENT: it can never be).
int UndoFile(const CVimoDoc::CTrashed& file) {
  if (file.movedTo.IsEmpty()) return vimo::platform::RestoreFromTrash(file.entry);
  if (!file.bCopy) return vimo::platform::MoveFileWhole(file.movedTo, file.path, false);
  const vimo::platform::TrashOutcome outcome = vimo::platform::MoveToTrash(file.movedTo);
  if (outcome.result == vimo::platform::TrashResult::kMoved) return 0;
  return outcome.result == vimo::platform::TrashResult::kNotRegularFile ? ENOENT : outcome.error;
}

}  // namespace

std::vector<CVimoDoc::CRestored> CVimoDoc::RestoreTrashed() {
  std::vector<CRestored> restored;
  if (m_trashSteps.empty()) return restored;
  std::vector<CTrashed> step = std::move(m_trashSteps.back());
  m_trashSteps.pop_back();
  std::vector<CTrashed> again;  // to be tried again
  std::vector<CString> leftFolder;  // names in the browsed folder that Undo took away
  for (CTrashed& file : step) {
    const int error = UndoFile(file);
    restored.push_back({file.bCopy ? file.movedTo : file.path, error, !file.bCopy});
    const char* gone = file.movedTo.IsEmpty() ? nullptr : static_cast<const char*>(file.movedTo);
    if (error == 0 && gone != nullptr && std::strncmp(gone, m_szFolder, std::strlen(m_szFolder)) == 0 &&
        std::strchr(gone + std::strlen(m_szFolder), PATH_SEPARATOR) == nullptr)
      leftFolder.emplace_back(gone + std::strlen(m_szFolder));
    if (error != 0 && error != ESTALE && error != ENOENT) again.push_back(std::move(file));
  }
  if (m_szFolder[0] != '\0' && !leftFolder.empty()) ForgetImages(leftFolder);
  if (!again.empty()) m_trashSteps.push_back(std::move(again));
  return restored;
}

BOOL CVimoDoc::BrowseRestored(const char* path) {
  const char* name = NameOf(path);
  const auto folderLength = static_cast<std::size_t>(name - path);
  if (m_szFolder[0] == '\0' || std::strlen(m_szFolder) != folderLength || std::strncmp(path, m_szFolder, folderLength) != 0)
    return FALSE;
  // Back at its place in the browse order, wherever the delete took it out.
  if (m_images.IsFolder() && m_images.Find(name) < 0) {
    ListFolder();
    UpdateAllViews(nullptr, kHintBrowseList, nullptr);
  }
  const int place = m_images.Find(name);
  if (place < 0) return FALSE;
  BrowseFrom(place);
  return TRUE;
}

// ---- renames, and changes other programs make ---------------------------------------------------

void CVimoDoc::RenameImage(const CString& oldName, const CString& newName) {
  const BOOL bShown = m_pDib != nullptr && GetTitle() == oldName;
  m_queue.RenameSource(m_szFolder, oldName, newName);
  if (m_strFileName == oldName) m_strFileName = newName;
  if (bShown) SetTitle(newName);
  if (m_images.Find(oldName) < 0) return;
  if (m_images.IsFolder()) ListFolderAgain();  // at its place in the browse order
  else m_images.Rename(oldName, newName);
  UpdateAllViews(nullptr, kHintBrowseList, nullptr);
}

void CVimoDoc::ListFolderAgain() {
  const int oldCount = m_images.GetCount();
  std::vector<CString> taken;  // by the walk, in its order
  for (int i = 0; i < std::min(m_nNextEntry, oldCount); ++i) taken.push_back(m_images.GetName(i));
  ListFolder();
  // The walk goes on after the last file it took that is still there: nothing is taken twice,
  // and what came after it is taken too.
  for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
    const int place = m_images.Find(*it);
    if (place < 0) continue;
    m_nNextEntry = place + 1;
    break;
  }
  if (m_nReadAhead >= 0 && m_images.GetCount() > oldCount) m_nReadAhead += m_images.GetCount() - oldCount;
}

CString CVimoDoc::FolderChanged() {
  if (m_szFolder[0] == '\0' || !m_images.IsFolder()) return CString();
  const int shown = GetShownIndex();
  const CString shownName = shown >= 0 ? m_images.GetName(shown) : CString();
  std::vector<CString> before;
  for (int i = 0; i < m_images.GetCount(); ++i) before.push_back(m_images.GetName(i));
  CFolderImages now;
  ListFolderInto(now);
  std::vector<CString> after;
  for (int i = 0; i < now.GetCount(); ++i) after.push_back(now.GetName(i));
  if (after == before) return CString();  // a change that is none of the list's (or ours, taken up already)

  ListFolderAgain();
  UpdateAllViews(nullptr, kHintBrowseList, nullptr);
  if (shownName.IsEmpty() || m_images.Find(shownName) >= 0) return CString();
  // The shown file is gone: the image after it that stays is shown next.
  CString following;
  for (std::size_t i = static_cast<std::size_t>(shown) + 1; i < before.size() && following.IsEmpty(); ++i) {
    if (m_images.Find(before[i]) >= 0) following = before[i];
  }
  SetTitle("");
  m_queue.DeleteCurrent();
  m_bAnimationStopped = TRUE;
  if (!following.IsEmpty()) BrowseFrom(m_images.Find(following));
  else if (m_images.GetCount() > 0) BrowseFrom(0);
  return shownName;
}

// ---- the turn saved into the file ---------------------------------------------------------------

BOOL CVimoDoc::GetShownSource(CSize& sizeStored, CRect& rcSource) const {
  if (m_pDib == nullptr) return FALSE;
  const vimo::platform::DibLayout dib = vimo::platform::ReadDibLayout(m_pDib.get(), m_nDibSize);
  if (dib.kind == vimo::platform::DibHeaderKind::kNone || dib.width < 0 || dib.height < 0) return FALSE;
  sizeStored = CSize(dib.width, dib.height);
  const CConvertedTurn& turned = m_shownTurn;
  const BOOL bCut = turned.right > turned.left && turned.bottom > turned.top && turned.right <= dib.width &&
                    turned.bottom <= dib.height;
  rcSource = bCut ? CRect(turned.left, turned.top, turned.right, turned.bottom) : CRect(0, 0, dib.width, dib.height);
  return TRUE;
}

BOOL CVimoDoc::SaveTurn(int nTurn, const std::function<BOOL(const CTurnCut&)>& askCut) {
  const CString path = CString(m_szFolder) + GetTitle();
  CLosslessTurn turn;
  if (!turn.Load(path)) {
    AfxMessageBox("cannot turn, not a readable JPEG file\n" + path);
    return FALSE;
  }
  int nKeptWidth = 0;
  int nKeptHeight = 0;
  const BOOL bWhole = turn.IsWhole(nTurn, nKeptWidth, nKeptHeight);
  // The sizes as the picture is shown.
  const BOOL bSideways = nTurn >= 5;
  const CTurnCut cut{bSideways ? CSize(turn.GetHeight(), turn.GetWidth()) : CSize(turn.GetWidth(), turn.GetHeight()),
                     bSideways ? CSize(nKeptHeight, nKeptWidth) : CSize(nKeptWidth, nKeptHeight)};
  if (!bWhole && !askCut(cut)) return FALSE;
  switch (turn.Save(nTurn, !bWhole)) {
    case CLosslessTurn::Result::kDone:
      break;
    case CLosslessTurn::Result::kNotWritten:
      AfxMessageBox("cannot write the turned file, the file is unchanged\n" + path + "\n" + std::strerror(turn.GetError()));
      return FALSE;
    case CLosslessTurn::Result::kExifUnreadable:
      AfxMessageBox("cannot turn, its EXIF block cannot be read safely, the file is unchanged\n" + path);
      return FALSE;
    default:
      // Damaged data.
      AfxMessageBox("cannot turn without loss, the file is unchanged\n" + path);
      return FALSE;
  }
  // Its thumbnails in the desktop's cache show the old turn: they go, and are made again.
  CThumbnailCache::ForgetFile(path);

  // The converted file is not made again: it is shown turned as the file is now, and cut to what
  // the file kept.
  CSize sizeStored;
  CRect rcSource;
  if (GetShownSource(sizeStored, rcSource)) {
    const CRect kept = COrientation::StoredRect(m_shownTurn.nOrientation, CRect(0, 0, nKeptWidth, nKeptHeight),
                                                CSize(rcSource.Width(), rcSource.Height()));
    CConvertedTurn converted;
    converted.nOrientation = COrientation::Compose(m_shownTurn.nOrientation, nTurn);
    converted.left = rcSource.left + kept.left;
    converted.top = rcSource.top + kept.top;
    converted.right = rcSource.left + kept.right;
    converted.bottom = rcSource.top + kept.bottom;
    m_queue.MarkShownTurned(converted);
    m_shownTurn = converted;
  }
  m_nOrientation = 1;
  return TRUE;
}

// The view's timer asks for the next step; a stopped animation answers 0, which ends it.
UINT CVimoDoc::StepAnimation() {
  if (m_pAnimation == nullptr || m_bAnimationStopped) return 0;
  m_pAnimation->Step();
  // Set again: the canvas's bytes changed, so nothing drawing kept from them holds.
  ShowDib(m_pAnimation->GetDib(), m_pAnimation->GetDibSize(), -1, 0);
  UpdateAllViews(nullptr, kHintNextFrame, nullptr);
  return m_pAnimation->GetDelay();
}

void CVimoDoc::SetAnimationBackground(COLORREF crBackground) {
  if (crBackground == m_crAnimationBackground) return;
  m_crAnimationBackground = crBackground;
  if (m_pAnimation == nullptr) return;
  m_pAnimation->SetBackground(crBackground);
  // Set again: the canvas's bytes changed.
  ShowDib(m_pAnimation->GetDib(), m_pAnimation->GetDibSize(), -1, 0);
  UpdateAllViews(nullptr, kHintNextFrame, nullptr);
}

const BYTE* CVimoDoc::GetBits() {
  return m_pDib.get() + vimo::platform::ReadDibLayout(m_pDib.get(), m_nDibSize).bitsOffset;
}

// ---- dialogs ----------------------------------------------------------------------------------

BOOL CVimoDoc::RunOpenDialog(CString& rPath) {
  CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, AfxGetMainWnd());
  const std::string filter = ImageFilter();
  dialog.m_ofn.lpstrFilter = filter.c_str();
  dialog.m_ofn.nFilterIndex = 1;
  dialog.m_ofn.lpstrFile = m_pOpenBuf.get();
  dialog.m_ofn.nMaxFile = kOpenBufSize - 1;
  m_pOpenBuf[0] = '\0';
  dialog.m_ofn.lpstrTitle = "Open Local File";
  dialog.m_ofn.Flags |= OFN_ALLOWMULTISELECT;
  if (dialog.DoModal() != IDOK) return FALSE;

  rPath = dialog.GetPathName();
  const char* buffer = m_pOpenBuf.get();
  const std::size_t firstLength = std::strlen(buffer);
  if (buffer[firstLength + 1] != '\0') {
    m_nNextName = static_cast<int>(firstLength + 1);
    CString folder(buffer);
    if (folder.GetLength() == 0 || folder.GetAt(folder.GetLength() - 1) != PATH_SEPARATOR) folder += PATH_SEPARATOR;
    if (!SetFolder(m_szFolder, folder, static_cast<std::size_t>(folder.GetLength()))) {
      RefuseLongPath(folder);
      return FALSE;
    }
    rPath = CString(m_szFolder) + (buffer + m_nNextName);
    m_nReadAhead = 0;
    for (const char* name = buffer + m_nNextName; *name != '\0'; name += std::strlen(name) + 1) ++m_nReadAhead;
  }
  // One file chosen is opened as a path is: shown first, then its folder in the browse order.
  // Several are browsed in the order chosen, none passed over by name.
  const BOOL bOneFile = m_nNextName == 0;
  m_strFileName = bOneFile ? CString(NameOf(rPath)) : CString();
  AfxGetApp()->CWinApp::OpenDocumentFile(rPath);
  m_queue.ClearAll();
  if (bOneFile) Queue(rPath);
  return TRUE;
}

void CVimoDoc::SaveCopyAs(const char* path) {
  char fileName[PATH_MAX];
  std::snprintf(fileName, sizeof(fileName), "%s", NameOf(path));
  CFileDialog dialog(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, AfxGetMainWnd());
  const std::string filter = ImageFilter();
  dialog.m_ofn.lpstrFilter = filter.c_str();
  dialog.m_ofn.nFilterIndex = 1;
  dialog.m_ofn.lpstrFile = fileName;
  dialog.m_ofn.nMaxFile = PATH_MAX;
  dialog.m_ofn.lpstrTitle = "Save File - Vimo";
  if (dialog.DoModal() != IDOK) {
    // The dialog leaves what fit of a refused name in the buffer.
    if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) AfxMessageBox("path too long\n" + CString(fileName));
    return;
  }
  // A copy that fails is said, so that nobody believes the file was saved.
  if (!CopyFileA(path, dialog.GetFileName(), FALSE)) AfxMessageBox("cannot save\n" + dialog.GetPathName());
}
