#include "afx/OleDataSource.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "afx/QtBridge.h"
#include "win32/GlobalMemory.h"

namespace {

// Registered formats are numbered from 0xC000, as the desktop's own registry numbers them.
constexpr CLIPFORMAT kPngFormat = 0xC000;

// The MIME type a registered format goes by; nullptr for none.
const char* MimeTypeOf(CLIPFORMAT cfFormat) { return cfFormat == kPngFormat ? "image/png" : nullptr; }

// A rendering kept in memory for the program that asked for it. It is written into large blocks
// and put together once at the end, each block let go as soon as it is copied, so that it is held
// about once: an array grown as the bytes come copies itself at each growth, and holds a large
// rendering twice at the peak.
class CRenderedFile : public CFile {
 public:
  void Write(const void* lpBuf, UINT nCount) override {
    const char* bytes = static_cast<const char*>(lpBuf);
    while (nCount > 0) {
      if (m_blocks.empty() || m_blocks.back().size() == kBlockBytes) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(kBlockBytes);
      }
      std::vector<char>& block = m_blocks.back();
      const UINT part = static_cast<UINT>(std::min<std::size_t>(nCount, kBlockBytes - block.size()));
      block.insert(block.end(), bytes, bytes + part);
      bytes += part;
      nCount -= part;
      m_nSize += part;
    }
  }
  QByteArray Take() {
    QByteArray whole(static_cast<qsizetype>(m_nSize), Qt::Uninitialized);
    char* out = whole.data();
    for (std::vector<char>& block : m_blocks) {
      std::memcpy(out, block.data(), block.size());
      out += block.size();
      std::vector<char>().swap(block);
    }
    m_blocks.clear();
    m_nSize = 0;
    return whole;
  }

 private:
  // As large as the C library's largest threshold for mapping a block of its own, so that each
  // block goes back to the system when it is let go.
  static constexpr std::size_t kBlockBytes = std::size_t{32} << 20;
  std::vector<std::vector<char>> m_blocks;
  std::size_t m_nSize = 0;
};

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

// The clipboard's data while formats are rendered on request: it owns the data source that renders
// them, and asks it each time another program asks for one of them.
class CRenderingMimeData : public QMimeData {
 public:
  explicit CRenderingMimeData(std::unique_ptr<COleDataSource> pSource) : m_pSource(std::move(pSource)) {}

  QStringList formats() const override {
    QStringList types = QMimeData::formats();
    for (const CLIPFORMAT cfFormat : m_pSource->m_delayed) types << QString::fromLatin1(MimeTypeOf(cfFormat));
    return types;
  }
  bool hasFormat(const QString& type) const override { return formats().contains(type); }

 protected:
  QVariant retrieveData(const QString& type, QMetaType metaType) const override {
    for (const CLIPFORMAT cfFormat : m_pSource->m_delayed) {
      if (type != QLatin1String(MimeTypeOf(cfFormat))) continue;
      FORMATETC format;
      format.cfFormat = cfFormat;
      CRenderedFile file;
      try {
        if (!m_pSource->OnRenderFileData(&format, &file)) return QVariant();
        return QVariant(file.Take());
      } catch (const std::bad_alloc&) {
        return QVariant();
      }
    }
    return QMimeData::retrieveData(type, metaType);
  }

 private:
  std::unique_ptr<COleDataSource> m_pSource;
};

CLIPFORMAT RegisterClipboardFormat(LPCSTR lpszFormat) {
  return lpszFormat != nullptr && std::strcmp(lpszFormat, "PNG") == 0 ? kPngFormat : 0;
}

COleDataSource::DragDropHook COleDataSource::s_testDragHook;

COleDataSource::~COleDataSource() { Empty(); }

void COleDataSource::CacheGlobalData(CLIPFORMAT cfFormat, HGLOBAL hGlobal, FORMATETC* /*lpFormatEtc*/) {
  HGLOBAL* pSlot = cfFormat == CF_HDROP ? &m_hDrop : cfFormat == CF_TEXT ? &m_hText : nullptr;
  if (pSlot == nullptr) {
    GlobalFree(hGlobal);  // a format not offered; the block is ours all the same
    return;
  }
  if (*pSlot != nullptr) GlobalFree(*pSlot);
  *pSlot = hGlobal;
}

void COleDataSource::DelayRenderFileData(CLIPFORMAT cfFormat, FORMATETC* /*lpFormatEtc*/) {
  if (MimeTypeOf(cfFormat) != nullptr && std::find(m_delayed.begin(), m_delayed.end(), cfFormat) == m_delayed.end())
    m_delayed.push_back(cfFormat);
}

BOOL COleDataSource::OnRenderFileData(FORMATETC* /*lpFormatEtc*/, CFile* /*pFile*/) { return FALSE; }

void COleDataSource::Empty() {
  FreeCachedData();
  m_delayed.clear();
}

void COleDataSource::FreeCachedData() {
  for (HGLOBAL* pSlot : {&m_hDrop, &m_hText}) {
    if (*pSlot != nullptr) GlobalFree(*pSlot);
    *pSlot = nullptr;
  }
}

namespace {

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
  // Formats rendered later need their renderer: the clipboard's data takes this data source.
  std::unique_ptr<QMimeData> data;
  if (m_delayed.empty()) data = std::make_unique<QMimeData>();
  else data = std::make_unique<CRenderingMimeData>(std::unique_ptr<COleDataSource>(this));
  if (m_hDrop != nullptr) {
    const std::vector<std::string> files = FilesOfDropBlock(m_hDrop);
    if (!files.empty()) {
      data->setData(QStringLiteral("text/uri-list"), AfxUriListOfFiles(files));
      data->setData(QStringLiteral("x-special/gnome-copied-files"), AfxCopiedFilesOf(files));
    }
  }
  if (m_hText != nullptr) {
    // Qt's Wayland clipboard sends text/plain as UTF-8 made from the text, so bytes that are not
    // UTF-8 cannot travel as text/plain: that form shows them as the window does (\xNN), and the
    // bytes themselves go as 8-bit text of no known charset.
    const QByteArray text = TextOfBlock(m_hText);
    data->setText(AfxToQString(text.constData(), static_cast<std::size_t>(text.size())));
    if (AfxEncodingOf(text.constData()) != AfxTextEncoding::Utf8) data->setData(QStringLiteral("text/plain;charset=unknown-8bit"), text);
  }
  FreeCachedData();
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
