#include "doc/VimoDoc.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "app/Globals.h"
#include "view/VimoView.h"

IMPLEMENT_DYNCREATE(CVimoDoc, CDocument)

BEGIN_MESSAGE_MAP(CVimoDoc, CDocument)
END_MESSAGE_MAP()

namespace {

// The two filters of the Open and Save dialogs.
constexpr char kImageFilter[] = "ｲﾒｰｼﾞﾌｧｲﾙ\0*.bmp;*.gif;*.jpg;*.jpeg;*.jpe;*.pcd\0他のファイル (*.*)\0*.*\0";

const char* NameOf(const char* path) {
  const char* slash = std::strrchr(path, PATH_SEPARATOR);
  return slash != nullptr ? slash + 1 : path;
}

// Copies text into m_szFolder-sized storage; FALSE (and nothing copied) when it does not fit.
BOOL SetFolder(char (&folder)[256], const char* text, std::size_t length) {
  if (length >= sizeof(folder)) return FALSE;
  std::memcpy(folder, text, length);
  folder[length] = '\0';
  return TRUE;
}

}  // namespace

BOOL IsImageName(const char* name) {
  CString lower(name);
  lower.MakeLower();
  const int length = lower.GetLength();
  if (length >= 4) {
    const CString last4 = lower.Right(4);
    for (const char* ending : {".bmp", ".jpg", ".jpe", ".gif", ".pcd"}) {
      if (last4 == ending) return TRUE;
    }
  }
  return length >= 5 && lower.Right(5) == ".jpeg" ? TRUE : FALSE;
}

CVimoDoc::CVimoDoc() {
  m_queue.StartThread();
  m_pDib = nullptr;
  m_hFind = nullptr;
  m_hDrawDib = DrawDibOpen();
  m_pOpenBuf = std::make_unique<char[]>(kOpenBufSize);
  m_pOpenBuf[0] = '\0';
  m_nNextName = 0;
  m_szFolder[0] = '\0';
  m_pBits = nullptr;
  m_nReadAhead = 0;
  std::memset(&m_findData, 0, sizeof(m_findData));
}

CVimoDoc::~CVimoDoc() {
  m_queue.ClearAll();
  m_pDib.reset();
  if (m_hDrawDib != nullptr) DrawDibClose(m_hDrawDib);
  m_hDrawDib = nullptr;
  CloseSearch();
  m_pOpenBuf.reset();
  // m_strFileName goes next, then m_queue, whose worker has ended before its lists go.
}

void CVimoDoc::Serialize(CArchive& /*ar*/) {}

BOOL CVimoDoc::OnNewDocument() { return CDocument::OnNewDocument() ? TRUE : FALSE; }

void CVimoDoc::CloseSearch() {
  if (m_hFind != nullptr) FindClose(m_hFind);
  m_hFind = nullptr;
}

// ---- browsing ---------------------------------------------------------------------------------

void CVimoDoc::OpenImages(const char* path) {
  m_nNextName = 0;
  m_nReadAhead = 0;
  m_nQueued = 0;
  CString openedPath;
  if (path == nullptr) {
    if (!RunOpenDialog(openedPath)) return;
  } else {
    m_queue.ClearAll();
    Queue(path);
    m_strFileName = NameOf(path);
    openedPath = path;
  }
  CloseSearch();
  if (m_nNextName == 0) {
    const char* name = NameOf(openedPath);
    if (!SetFolder(m_szFolder, openedPath, static_cast<std::size_t>(name - openedPath.str().c_str()))) {
      // A folder too long to hold: nothing is browsed, and no earlier folder can be mistaken
      // for this file's.
      m_queue.ClearAll();
      m_szFolder[0] = '\0';
      SetTitle("");
      return;
    }
    WIN32_FIND_DATAA entry;
    const HANDLE hCount = FindFirstFileA(CString(m_szFolder) + "*.*", &entry);
    if (hCount != INVALID_HANDLE_VALUE) {
      do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsImageName(entry.cFileName)) ++m_nReadAhead;
      } while (FindNextFileA(hCount, &entry));
      FindClose(hCount);
    }
    if (m_nReadAhead == 0) return;
  }
  SetTitle(CString("Reading...") + m_szFolder);
  QueueNextImage();
  if (m_nReadAhead > 2) QueueNextImage();
  // The frame waits only for an image that can come.
  if (m_nQueued > 0) g_bPollQueue = 1;
}

void CVimoDoc::Queue(const char* path) {
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
  BOOL bFound = FALSE;
  if (m_hFind == nullptr) {
    const HANDLE hFind = FindFirstFileA(CString(m_szFolder) + "*.*", &m_findData);
    if (hFind == INVALID_HANDLE_VALUE) return;
    m_hFind = hFind;
    bFound = TRUE;
  } else {
    bFound = FindNextFileA(m_hFind, &m_findData);
  }
  for (; bFound; bFound = FindNextFileA(m_hFind, &m_findData)) {
    if (m_findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (_mbscmp(reinterpret_cast<const unsigned char*>(m_findData.cFileName),
                reinterpret_cast<const unsigned char*>(static_cast<const char*>(m_strFileName))) == 0)
      continue;
    if (IsImageName(m_findData.cFileName)) break;
  }
  if (!bFound) {
    CloseSearch();
    return;
  }
  Queue(CString(m_szFolder) + m_findData.cFileName);
}

// ---- loading ----------------------------------------------------------------------------------

void CVimoDoc::LoadDib(const char* path) {
  POSITION pos = GetFirstViewPosition();
  CVimoView* pView = DYNAMIC_DOWNCAST(CVimoView, GetNextView(pos));

  struct _stat status {};
  if (_stat(path, &status) != 0) {
    SetTitle(CString("stat error ") + path);
    return;
  }
  const std::int64_t size = status.st_size;
  if (size < 200) {
    SetTitle("Invalid File Size");
    return;
  }
  const auto blockSize = static_cast<std::size_t>(size - 14);
  std::unique_ptr<BYTE[]> pBlock(new (std::nothrow) BYTE[blockSize]);
  if (pBlock == nullptr) {
    SetTitle("No memory");
    return;
  }
  std::FILE* pFile = std::fopen(path, "rb");
  if (pFile == nullptr) {
    SetTitle("Open error");
    return;
  }
  BITMAPFILEHEADER fileHeader;
  const std::size_t headerRead = std::fread(&fileHeader, 1, sizeof(fileHeader), pFile);
  std::size_t bytesRead = 0;
  if (headerRead == sizeof(fileHeader)) bytesRead = std::fread(pBlock.get(), 1, blockSize, pFile);
  std::fclose(pFile);
  // A file that shrank since its status was read leaves the rest of the block unread: it is
  // cleared, and drawing stops at the bytes that were read.
  if (bytesRead < blockSize) std::memset(pBlock.get() + bytesRead, 0, blockSize - bytesRead);

  const char* name = std::strrchr(path, PATH_SEPARATOR);
  name = name != nullptr ? name + 1 : path;
  const std::size_t nameLength = std::strlen(name);
  SetTitle(nameLength > 4 ? CString(name, static_cast<int>(nameLength - 4)) : CString());

  m_pDib = std::move(pBlock);
  m_nDibSize = bytesRead;
  m_pBits = GetBits();
  DrawDibSetSource(m_hDrawDib, m_pDib.get(), m_nDibSize);

  if (pView != nullptr) pView->InvalidateRect(nullptr, FALSE);
  UpdateAllViews(nullptr, 0, nullptr);
}

BYTE* CVimoDoc::GetBits() {
  BITMAPINFOHEADER header;
  std::memcpy(&header, m_pDib.get(), sizeof(header));
  std::uint64_t entries = 0;
  if (header.biSize >= 36 && header.biClrUsed != 0) entries = header.biClrUsed;
  else if (header.biBitCount <= 8) entries = 1ull << header.biBitCount;
  // 16 and 32 bits per pixel carry no colour table; their bit-field masks follow a 40-byte header.
  std::uint64_t offset = static_cast<std::uint64_t>(header.biSize) + 4 * entries;
  if (header.biBitCount > 8 && header.biClrUsed == 0 && header.biCompression == BI_BITFIELDS && header.biSize == 40)
    offset += 12;
  const std::uint64_t limit = m_nDibSize;
  return m_pDib.get() + (offset < limit ? offset : limit);
}

// ---- dialogs ----------------------------------------------------------------------------------

BOOL CVimoDoc::RunOpenDialog(CString& rPath) {
  CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, AfxGetMainWnd());
  dialog.m_ofn.lpstrFilter = kImageFilter;
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
      m_nNextName = 0;
      return FALSE;
    }
    rPath = CString(m_szFolder) + (buffer + m_nNextName);
    m_nReadAhead = 0;
    for (const char* name = buffer + m_nNextName; *name != '\0'; name += std::strlen(name) + 1) ++m_nReadAhead;
  }
  // The chosen file is found in its folder's listing: no earlier name is passed over.
  m_strFileName.Empty();
  AfxGetApp()->CWinApp::OpenDocumentFile(rPath);
  m_queue.ClearAll();
  return TRUE;
}

void CVimoDoc::SaveCopyAs(const char* path) {
  char fileName[MAX_PATH];
  std::snprintf(fileName, sizeof(fileName), "%s", NameOf(path));
  CFileDialog dialog(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, AfxGetMainWnd());
  dialog.m_ofn.lpstrFilter = kImageFilter;
  dialog.m_ofn.nFilterIndex = 1;
  dialog.m_ofn.lpstrFile = fileName;
  dialog.m_ofn.nMaxFile = MAX_PATH;
  dialog.m_ofn.lpstrTitle = "Save File - Vimo";
  if (dialog.DoModal() != IDOK) return;
  CopyFileA(path, dialog.GetFileName(), FALSE);
}
