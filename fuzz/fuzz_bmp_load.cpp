// A converted file as the window meets it: any bytes through the document's LoadDib and its
// checks, GetBits, and DrawDib painting the bitmap into an offscreen image as the view does,
// its rows read from the mapped file's descriptor.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "doc/VimoDoc.h"
#include "win32/DibLayout.h"
#include "win32/DrawDib.h"

namespace {

CVimoDoc* Document() {
  static CVimoDoc* const document = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_bmp_load";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    return static_cast<CVimoDoc*>(RUNTIME_CLASS(CVimoDoc)->CreateObject());
  }();
  return document;
}

// Paints the bitmap at its place in an offscreen image, at the size the view reads from it.
void Paint(HDRAWDIB drawDib, const BYTE* block, std::size_t size, const BYTE* bits) {
  const vimo::platform::DibLayout layout = vimo::platform::ReadDibLayout(block, size);
  QImage canvas(256, 256, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&canvas);
  CDC dc(&painter);
  (void)DrawDibDraw(drawDib, &dc, 0, 0, layout.width, layout.height, reinterpret_cast<const BITMAPINFOHEADER*>(block),
                    bits, 0, 0, layout.width, layout.height, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = vimo::fuzz::ScratchPath("in.bmp");
  CVimoDoc* document = Document();
  // A fresh file each time, as the worker renames a fresh file into place: the document may
  // still map the previous one, which must not change under it.
  std::filesystem::remove(path);
  vimo::fuzz::WriteBytes(path, data, size);
  document->LoadDib(path.c_str());
  if (document->m_pDib == nullptr) return 0;
  const BYTE* block = document->m_pDib.get();
  const std::size_t loaded = document->m_nDibSize;
  Paint(document->m_hDrawDib, block, loaded, document->GetBits());
  // Again from a block of exactly the loaded bytes, so that the address sanitizer sees any read
  // of the header, colour table or run-length rows past them (a mapping ends on a page boundary,
  // beyond the file's last byte), with the rows still read from the file into a handle's fresh
  // buffers of exactly their size.
  const std::vector<BYTE> copy(block, block + loaded);
  const HDRAWDIB fresh = DrawDibOpen();
  DrawDibSetSource(fresh, copy.data(), loaded, document->m_fileDib.descriptor(), document->m_fileDib.offset());
  Paint(fresh, copy.data(), loaded, copy.data() + (document->GetBits() - block));
  DrawDibClose(fresh);
  return 0;
}
