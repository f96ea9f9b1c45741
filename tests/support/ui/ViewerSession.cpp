#include "support/ui/ViewerSession.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "app/Globals.h"
#include "app/TempFiles.h"
#include "convert/ConvertImage.h"
#include "win32/DibLayout.h"

namespace vimo::test {

int RunWindowTests(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QT_NO_GLIB", "1", 0);
  SetUpTempFiles();
  AfxWinInit(argc, argv);
  const int result = RUN_ALL_TESTS();
  AfxWinTerm();
  return result;
}

Rgb Pixels::At(int x, int y) const {
  const DWORD value = argb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  return Rgb{static_cast<std::uint8_t>((value >> 16) & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
             static_cast<std::uint8_t>(value & 0xFF)};
}

ViewerSession::ViewerSession() {
  setenv("XDG_CONFIG_HOME", (m_home.Path() / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (m_home.Path() / "data").c_str(), 1);
  AfxSetModalHook([this](AfxModalRequest& request) {
    switch (request.kind) {
      case AfxModalRequest::Kind::MessageBox: {
        messages.emplace_back(request.strText.str());
        captions.emplace_back(request.strCaption.str());
        if (whileMessageShown) whileMessageShown();
        if (messageAnswers.empty()) return IDOK;
        const int answer = messageAnswers.front();
        messageAnswers.erase(messageAnswers.begin());
        return answer;
      }
      case AfxModalRequest::Kind::FileDialog: {
        fileDialogTitles.emplace_back(request.strText.str());
        fileDialogFilters.emplace_back(request.filterLabels.begin(), request.filterLabels.end());
        fileDialogPatterns.emplace_back(request.patterns.begin(), request.patterns.end());
        if (fileDialogAnswers.empty()) return IDCANCEL;
        const std::vector<std::string> answer = fileDialogAnswers.front();
        fileDialogAnswers.erase(fileDialogAnswers.begin());
        for (const std::string& path : answer) request.files.emplace_back(path);
        return answer.empty() ? IDCANCEL : IDOK;
      }
      case AfxModalRequest::Kind::PopupMenu: {
        popups.emplace_back(request.items.begin(), request.items.end());
        if (popupHandler) return static_cast<int>(popupHandler(popups.back()));
        if (popupMenuAnswers.empty()) return 0;  // closed without a choice
        const UINT nChosen = popupMenuAnswers.front();
        popupMenuAnswers.erase(popupMenuAnswers.begin());
        return static_cast<int>(nChosen);
      }
      case AfxModalRequest::Kind::Print: {
        if (printAnswers.empty()) return IDCANCEL;
        const auto [file, nChoice] = printAnswers.front();
        printAnswers.erase(printAnswers.begin());
        request.strPrintFile = file;
        if (nChoice >= 0) request.nChoice = nChoice;
        return file.empty() ? IDCANCEL : IDOK;
      }
      default:
        dialogs.emplace_back(request.strText.str());
        return dialogHandler ? dialogHandler(request.pDialog) : IDOK;
    }
  });
  g_bPollQueue = 0;
  g_bDragging = 0;
}

ViewerSession::~ViewerSession() {
  if (m_bRunning) Stop();
  AfxSetModalHook(nullptr);
  AfxTestAccess::SetConvertFunction(nullptr);
  g_bPollQueue = 0;
  // The next session starts from its own profile, like a new process.
  g_bOtherFormats = 0;
  g_bBrowseFromOpened = 0;
  g_bFitToWindow = 0;
  g_bPhotosUpright = 1;
  g_bKeepZoom = 0;
  g_nSlideshowSeconds = 5;
  SetConvertOtherFormats(false, 0);
}

bool ViewerSession::Start(const std::vector<std::string>& args, const std::function<void()>& beforeWindow) {
  std::vector<CString> arguments;
  for (const std::string& arg : args) arguments.emplace_back(arg);
  for (CString* setting : {&g_strServer, &g_strTo, &g_strFrom, &g_strSubject, &g_strBody}) setting->Empty();
  g_bSettingsChanged = 0;
  g_mapGiftState.RemoveAll();
  m_bRunning = AfxTestAccess::StartInstance(theApp, arguments, beforeWindow) != FALSE;
  // A window that knows its bars' space from the last close makes them after its first paint.
  if (CMainFrame* pFrame = Frame(); m_bRunning && pFrame != nullptr && pFrame->IsWindowVisible() && !pFrame->IsIconic())
    WaitFor([pFrame] { return pFrame->m_wndStatusBar.GetWidget() != nullptr; });
  return m_bRunning;
}

void ViewerSession::Stop() {
  theApp.StopInstance();
  m_bRunning = false;
  g_bPollQueue = 0;
}

CMainFrame* ViewerSession::Frame() const { return DYNAMIC_DOWNCAST(CMainFrame, theApp.m_pMainWnd); }

CVimoDoc* ViewerSession::Doc() const {
  CSingleDocTemplate* pTemplate = theApp.GetDocTemplate();
  return pTemplate != nullptr ? DYNAMIC_DOWNCAST(CVimoDoc, pTemplate->GetDocument()) : nullptr;
}

CVimoView* ViewerSession::View() const {
  CMainFrame* pFrame = Frame();
  return pFrame != nullptr ? DYNAMIC_DOWNCAST(CVimoView, pFrame->GetActiveView()) : nullptr;
}

bool ViewerSession::WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  return AfxPumpMessagesUntil(pred, static_cast<DWORD>(timeoutMs)) != FALSE;
}

bool ViewerSession::WaitForImage(const std::string& title, int timeoutMs) {
  return WaitFor([this, &title] { return Doc() != nullptr && Doc()->m_pDib != nullptr && Doc()->GetTitle() == title.c_str(); },
                 timeoutMs);
}

namespace {

Pixels PixelsOf(const QImage& grabbed) {
  Pixels pixels;
  const QImage image = grabbed.convertToFormat(QImage::Format_ARGB32);
  pixels.width = image.width();
  pixels.height = image.height();
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    pixels.argb.insert(pixels.argb.end(), row, row + image.width());
  }
  return pixels;
}

}  // namespace

Pixels ViewerSession::ViewPixels() const {
  QWidget* pClient = View() != nullptr ? View()->GetWidget() : nullptr;
  if (auto* pArea = qobject_cast<QAbstractScrollArea*>(pClient)) pClient = pArea->viewport();
  return pClient != nullptr ? PixelsOf(pClient->grab().toImage()) : Pixels{};
}

Pixels ViewerSession::ShownPixels() const {
  QWidget* pClient = View() != nullptr ? View()->GetWidget() : nullptr;
  if (auto* pArea = qobject_cast<QAbstractScrollArea*>(pClient)) pClient = pArea->viewport();
  QWindow* pWindow = pClient != nullptr ? pClient->window()->windowHandle() : nullptr;
  if (pWindow == nullptr) return Pixels{};
  const QPoint at = pClient->mapTo(pClient->window(), QPoint(0, 0));
  return PixelsOf(pWindow->screen()->grabWindow(pWindow->winId(), at.x(), at.y(), pClient->width(), pClient->height()).toImage());
}

Pixels DrawBitmap(const Bytes& bmpFile, int width, int height, int orientation, int fd, UINT flags) {
  const BYTE* block = bmpFile.data() + 14;
  const std::size_t size = bmpFile.size() - 14;
  const vimo::platform::DibLayout layout = vimo::platform::ReadDibLayout(block, size);
  QImage canvas(width, height, QImage::Format_RGB32);
  canvas.fill(Qt::magenta);
  {
    QPainter painter(&canvas);
    CDC dc(&painter);
    const HDRAWDIB drawDib = DrawDibOpen();
    DrawDibSetSource(drawDib, block, size, fd, 14);
    DrawDibDraw(drawDib, &dc, 0, 0, width, height, reinterpret_cast<const BITMAPINFOHEADER*>(block), block + layout.bitsOffset,
                0, 0, layout.width, layout.height, flags, orientation);
    DrawDibClose(drawDib);
  }
  return PixelsOf(canvas);
}

std::filesystem::path ViewerSession::ProfilePath() const { return m_home.Path() / "config" / "vimo.ini"; }

std::string ViewerSession::ProfileText() const { return TextOfFile(ProfilePath()); }

void ViewerSession::WriteProfile(const std::string& text) const {
  std::filesystem::create_directories(ProfilePath().parent_path());
  WriteText(ProfilePath(), text);
}

int GiftStateOf(const std::string& path) {
  void* value = nullptr;
  if (!g_mapGiftState.Lookup(path.c_str(), value)) return -1;
  return static_cast<int>(reinterpret_cast<std::intptr_t>(value));
}

TrashInfo ReadTrashInfo(const std::filesystem::path& infoFile) {
  std::ifstream file(infoFile, std::ios::binary);
  std::string header, path, date;
  if (!std::getline(file, header) || header != "[Trash Info]" || !std::getline(file, path) ||
      path.rfind("Path=", 0) != 0 || !std::getline(file, date) || date.rfind("DeletionDate=", 0) != 0)
    return {};
  std::string decoded;
  for (size_t i = 5; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      decoded += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += path[i];
    }
  }
  return {decoded, date.substr(13)};
}

std::vector<std::string> ImageNamesInListingOrder(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  const HANDLE hFind = FindFirstFileA((folder.string() + "/*.*").c_str(), &entry);
  if (hFind == INVALID_HANDLE_VALUE) return names;
  do {
    const bool browsable = (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    if (browsable && IsImageName(entry.cFileName))
      names.emplace_back(entry.cFileName);
  } while (FindNextFileA(hFind, &entry));
  FindClose(hFind);
  return names;
}

namespace {

// The file and information headers of a bottom-up BMP whose rows follow a colour table of
// `colours` entries.
Bytes BmpHeaders(int width, int height, int bitCount, int colours) {
  const int stride = ((width * bitCount + 31) / 32) * 4;
  const std::uint32_t offset = 54 + 4 * static_cast<std::uint32_t>(colours);
  const std::uint32_t imageSize = static_cast<std::uint32_t>(stride * height);
  Bytes bytes;
  bytes.push_back('B');
  bytes.push_back('M');
  AppendU32(bytes, offset + imageSize);
  AppendU32(bytes, 0);
  AppendU32(bytes, offset);
  AppendU32(bytes, 40);
  AppendU32(bytes, static_cast<std::uint32_t>(width));
  AppendU32(bytes, static_cast<std::uint32_t>(height));
  AppendU16(bytes, 1);
  AppendU16(bytes, static_cast<std::uint32_t>(bitCount));
  AppendU32(bytes, 0);
  AppendU32(bytes, imageSize);
  AppendU32(bytes, 2925);
  AppendU32(bytes, 2925);
  AppendU32(bytes, static_cast<std::uint32_t>(colours));
  AppendU32(bytes, 0);
  return bytes;
}

}  // namespace

Bytes MakeBmp24(int width, int height, const std::vector<Rgb>& pixels) {
  Bytes bytes = BmpHeaders(width, height, 24, 0);
  const int stride = (width * 3 + 3) & ~3;
  for (int row = height - 1; row >= 0; --row) {
    for (int x = 0; x < width; ++x) {
      const Rgb& c = pixels[static_cast<size_t>(row * width + x)];
      bytes.push_back(c.blue);
      bytes.push_back(c.green);
      bytes.push_back(c.red);
    }
    for (int pad = width * 3; pad < stride; ++pad) bytes.push_back(0);
  }
  return bytes;
}

Bytes MakeBmp8(int width, int height, const std::vector<Rgb>& palette, const std::vector<std::uint8_t>& indexes) {
  Bytes bytes = BmpHeaders(width, height, 8, 256);
  for (int i = 0; i < 256; ++i) {
    const Rgb c = static_cast<size_t>(i) < palette.size() ? palette[static_cast<size_t>(i)] : Rgb{};
    bytes.insert(bytes.end(), {c.blue, c.green, c.red, 0});
  }
  const int stride = (width + 3) & ~3;
  for (int row = height - 1; row >= 0; --row) {
    const auto first = indexes.begin() + static_cast<std::ptrdiff_t>(row) * width;
    bytes.insert(bytes.end(), first, first + width);
    bytes.resize(bytes.size() + static_cast<size_t>(stride - width), 0);
  }
  return bytes;
}

int RunningTimers(const CWnd* pWnd) {
  const QList<QTimer*> timers = pWnd->GetWidget()->findChildren<QTimer*>();
  return static_cast<int>(std::count_if(timers.begin(), timers.end(), [](const QTimer* pTimer) { return pTimer->isActive(); }));
}

Rgb WindowColour() {
  const COLORREF colour = GetSysColor(COLOR_WINDOW);
  return Rgb{GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

std::vector<Rgb> Pattern(int width, int height, unsigned seed) {
  std::vector<Rgb> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned v = (static_cast<unsigned>(x) * 2654435761u) ^ (static_cast<unsigned>(y) * 40503u) ^ seed;
      pixels.push_back(Rgb{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(x * 7 + y)});
    }
  }
  return pixels;
}

}  // namespace vimo::test
