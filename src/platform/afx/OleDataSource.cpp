#include "afx/OleDataSource.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QWidget>

#include <cstring>

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
  if (cfFormat != CF_HDROP) {
    GlobalFree(hGlobal);  // only file drops are offered; the block is ours all the same
    return;
  }
  Empty();
  m_hDrop = hGlobal;
}

void COleDataSource::Empty() {
  if (m_hDrop != nullptr) GlobalFree(m_hDrop);
  m_hDrop = nullptr;
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
