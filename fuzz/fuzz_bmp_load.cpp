// A converted file as the window meets it: any bytes through the document's LoadDib and its
// checks, GetBits, and DrawDib painting the bitmap into an offscreen image as the view does.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "doc/VimoDoc.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = vimo::fuzz::ScratchPath("in.bmp");
  CVimoDoc* document = Document();
  vimo::fuzz::WriteBytes(path, data, size);
  document->LoadDib(path.c_str());
  if (!document->m_pDib) return 0;
  const BYTE* block = &document->m_pDib[0];
  BITMAPINFOHEADER header;
  std::memcpy(&header, block, sizeof(header));
  const BYTE* bits = document->GetBits();
  QImage canvas(256, 256, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&canvas);
  CDC dc(&painter);
  (void)DrawDibDraw(document->m_hDrawDib, &dc, 0, 0, header.biWidth, header.biHeight,
                    reinterpret_cast<const BITMAPINFOHEADER*>(block), bits, 0, 0, header.biWidth, header.biHeight, 0);
  return 0;
}
