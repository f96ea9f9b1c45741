#include "afx/OleDataSource.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QWidget>

#include <climits>
#include <cstring>
#include <memory>

#include "afx/QtBridge.h"
#include "win32/GlobalMemory.h"

namespace {

Qt::DropActions ToQt(DWORD effects) {
  Qt::DropActions actions;
  if ((effects & DROPEFFECT_COPY) != 0) actions |= Qt::CopyAction;
  if ((effects & DROPEFFECT_MOVE) != 0) actions |= Qt::MoveAction;
  return actions;
}

DROPEFFECT FromQt(Qt::DropAction action) {
  switch (action) {
    case Qt::CopyAction:
      return DROPEFFECT_COPY;
    case Qt::MoveAction:
    case Qt::TargetMoveAction:
      return DROPEFFECT_MOVE;
    default:
      return DROPEFFECT_NONE;
  }
}

}  // namespace

COleDataSource::DragDropHook COleDataSource::s_testDragHook;

COleDataSource::~COleDataSource() { Empty(); }

void COleDataSource::CacheGlobalData(CLIPFORMAT cfFormat, HGLOBAL hGlobal, FORMATETC* /*lpFormatEtc*/) {
  HGLOBAL* pSlot = cfFormat == CF_HDROP ? &m_hDrop : cfFormat == CF_DIB ? &m_hDib : cfFormat == CF_TEXT ? &m_hText : nullptr;
  if (pSlot == nullptr) {
    GlobalFree(hGlobal);  // a format not offered; the block is ours all the same
    return;
  }
  if (*pSlot != nullptr) GlobalFree(*pSlot);
  *pSlot = hGlobal;
}

void COleDataSource::Empty() {
  for (HGLOBAL* pSlot : {&m_hDrop, &m_hDib, &m_hText}) {
    if (*pSlot != nullptr) GlobalFree(*pSlot);
    *pSlot = nullptr;
  }
}

namespace {

// A packed 24- or 32-bit uncompressed bitmap as an image; a null image for anything else.
QImage ImageOfDib(HGLOBAL hDib) {
  const std::size_t size = GlobalSize(hDib);
  if (size < sizeof(BITMAPINFOHEADER)) return QImage();
  const auto* bytes = static_cast<const BYTE*>(GlobalLock(hDib));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes, sizeof(header));
  const std::uint64_t width = header.biWidth > 0 ? static_cast<std::uint64_t>(header.biWidth) : 0;
  const std::uint64_t height = header.biHeight < 0 ? -static_cast<std::int64_t>(header.biHeight) : header.biHeight;
  const int bytesPerPixel = header.biBitCount / 8;
  const std::uint64_t stride = (width * static_cast<std::uint64_t>(header.biBitCount) + 31) / 32 * 4;
  QImage image;
  if (header.biSize >= sizeof(BITMAPINFOHEADER) && header.biCompression == BI_RGB && (bytesPerPixel == 3 || bytesPerPixel == 4) &&
      width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX && header.biSize + stride * height <= size)
    image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    const std::uint64_t stored = header.biHeight < 0 ? static_cast<std::uint64_t>(y) : height - 1 - static_cast<std::uint64_t>(y);
    const BYTE* row = bytes + header.biSize + stored * stride;
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x, row += bytesPerPixel) line[x] = qRgb(row[2], row[1], row[0]);
  }
  GlobalUnlock(hDib);
  return image;
}

// The bytes of a CF_TEXT block, up to its NUL.
QByteArray TextOfBlock(HGLOBAL hText) {
  const std::size_t size = GlobalSize(hText);
  const auto* bytes = static_cast<const char*>(GlobalLock(hText));
  const void* end = std::memchr(bytes, '\0', size);
  QByteArray text(bytes, end != nullptr ? static_cast<const char*>(end) - bytes : static_cast<qsizetype>(size));
  GlobalUnlock(hText);
  return text;
}

}  // namespace

BOOL COleDataSource::SetClipboard() {
  auto data = std::make_unique<QMimeData>();
  if (m_hDrop != nullptr) {
    const std::vector<std::string> files = FilesOfDropBlock(m_hDrop);
    if (!files.empty()) {
      data->setData(QStringLiteral("text/uri-list"), AfxUriListOfFiles(files));
      data->setData(QStringLiteral("x-special/gnome-copied-files"), AfxCopiedFilesOf(files));
    }
  }
  if (m_hDib != nullptr) {
    const QImage image = ImageOfDib(m_hDib);
    if (!image.isNull()) data->setImageData(image);
  }
  if (m_hText != nullptr) {
    // Qt's Wayland clipboard sends text/plain as UTF-8 made from the text, so bytes that are not
    // UTF-8 cannot travel as text/plain: that form shows them as the window does (\xNN), and the
    // bytes themselves go as 8-bit text of no known charset.
    const QByteArray text = TextOfBlock(m_hText);
    data->setText(AfxToQString(text.constData(), static_cast<std::size_t>(text.size())));
    if (AfxEncodingOf(text.constData()) != AfxTextEncoding::Utf8) data->setData(QStringLiteral("text/plain;charset=unknown-8bit"), text);
  }
  Empty();
  if (data->formats().isEmpty()) return FALSE;
  QGuiApplication::clipboard()->setMimeData(data.release());  // the clipboard owns it now
  return TRUE;
}

std::vector<std::string> COleDataSource::FilesOfDropBlock(HGLOBAL hGlobal) {
  std::vector<std::string> files;
  const std::size_t size = GlobalSize(hGlobal);
  if (size < sizeof(DROPFILES)) return files;
  const auto* bytes = static_cast<const char*>(GlobalLock(hGlobal));
  DROPFILES header;
  std::memcpy(&header, bytes, sizeof(header));
  if (header.fWide == 0) {
    // NUL-terminated names, one after the other, ended by an empty one; never past the block.
    for (std::size_t at = header.pFiles; at < size;) {
      const void* end = std::memchr(bytes + at, '\0', size - at);
      if (end == nullptr || end == bytes + at) break;
      const std::size_t length = static_cast<const char*>(end) - (bytes + at);
      files.emplace_back(bytes + at, length);
      at += length + 1;
    }
  } else {
    for (std::size_t at = header.pFiles; at + 1 < size;) {
      QString name;
      while (at + 1 < size) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
        at += 2;
        if (unit == 0) break;
        name += QChar(unit);
      }
      if (name.isEmpty()) break;
      // Wide names are characters, not bytes: a Linux name holds them as UTF-8.
      files.push_back(AfxFromQString(name).str());
    }
  }
  GlobalUnlock(hGlobal);
  return files;
}

DROPEFFECT COleDataSource::DoDragDrop(DWORD dwEffects, const RECT* /*lpRectStartDrag*/, COleDropSource* /*pDropSource*/) {
  if (m_hDrop == nullptr) return DROPEFFECT_NONE;
  const std::vector<std::string> files = FilesOfDropBlock(m_hDrop);
  if (files.empty()) return DROPEFFECT_NONE;
  // The drag's loop is modal, as on Windows: no idle processing runs in it, so files other starts
  // hand over meanwhile wait for its end instead of meeting a program that refuses them now.
  AfxModalScope scope;
  if (s_testDragHook) return s_testDragHook(files, dwEffects);

  QObject* source = QApplication::widgetAt(QCursor::pos());
  if (source == nullptr) source = QApplication::activeWindow();
  if (source == nullptr) source = qApp;
  auto* drag = new QDrag(source);  // Qt deletes the drag when it ends
  auto* data = new QMimeData;      // owned by the drag
  // The list is built from the paths' bytes: a QString on the way would change a name that is
  // not UTF-8.
  data->setData(QStringLiteral("text/uri-list"), AfxUriListOfFiles(files));
  drag->setMimeData(data);
  return FromQt(drag->exec(ToQt(dwEffects), Qt::CopyAction));
}
