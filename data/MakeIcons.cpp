// Build tool: renders the program's icon (resource 128) as the PNG sizes of the desktop's icon
// theme and as SVG, so an install carries the same artwork as the window.
//   vimo-icons OUTDIR   writes OUTDIR/<N>x<N>/apps/vimo.png and OUTDIR/scalable/apps/vimo.svg
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <fstream>
#include <string>

#include "afx/QtBridge.h"
#include "afx/Resource.h"
#include "res/Resource.h"

namespace {

constexpr int kSizes[] = {16, 32, 48, 64, 128, 256};

// The artwork is pixel art: every artwork pixel becomes a whole block of pixels. A size that is
// not a whole multiple of the artwork is drawn at twice the size and averaged 2:1, so block
// edges fall on half pixels at worst instead of being smeared.
QImage Scaled(const QImage& artwork, int size) {
  const bool wholeMultiple = size % artwork.width() == 0;
  const int drawn = wholeMultiple ? size : 2 * size;
  if (drawn % artwork.width() != 0) return {};
  const QImage blocks = artwork.scaled(drawn, drawn)  // nearest neighbour: whole blocks
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (wholeMultiple) return blocks.convertToFormat(QImage::Format_ARGB32);
  QImage halved(size, size, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      int sum[4] = {};
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const QRgb pixel = blocks.pixel(2 * x + dx, 2 * y + dy);
          sum[0] += qAlpha(pixel), sum[1] += qRed(pixel), sum[2] += qGreen(pixel), sum[3] += qBlue(pixel);
        }
      }
      halved.setPixel(x, y, qRgba((sum[1] + 2) / 4, (sum[2] + 2) / 4, (sum[3] + 2) / 4, (sum[0] + 2) / 4));
    }
  }
  return halved.convertToFormat(QImage::Format_ARGB32);
}

// One rectangle per run of equal opaque pixels in a row; transparent pixels are left out.
std::string Svg(const QImage& artwork) {
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(artwork.width()) + "\" height=\"" + std::to_string(artwork.height()) +
                    "\" viewBox=\"0 0 " + std::to_string(artwork.width()) + " " + std::to_string(artwork.height()) +
                    "\" shape-rendering=\"crispEdges\" stroke=\"none\">\n";
  for (int y = 0; y < artwork.height(); ++y) {
    for (int x = 0; x < artwork.width();) {
      const QRgb pixel = artwork.pixel(x, y);
      int end = x + 1;
      while (end < artwork.width() && artwork.pixel(end, y) == pixel) ++end;
      if (qAlpha(pixel) != 0) {
        char colour[8];
        std::snprintf(colour, sizeof(colour), "#%02x%02x%02x", qRed(pixel), qGreen(pixel), qBlue(pixel));
        svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
               std::to_string(end - x) + "\" height=\"1\" fill=\"" + colour + "\"/>\n";
      }
      x = end;
    }
  }
  return svg + "</svg>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: vimo-icons OUTDIR\n", stderr);
    return 2;
  }
  const QString outDir = QFile::decodeName(argv[1]);
  const QImage artwork = AfxImageFromResource(AfxFindIconResource(IDR_MAINFRAME));
  if (artwork.isNull()) {
    std::fputs("vimo-icons: icon 128 not found\n", stderr);
    return 1;
  }
  for (const int size : kSizes) {
    const QString folder = outDir + QStringLiteral("/%1x%1/apps").arg(size);
    const QImage icon = Scaled(artwork, size);
    if (icon.isNull() || !QDir().mkpath(folder) || !icon.save(folder + QStringLiteral("/vimo.png"), "PNG")) {
      std::fprintf(stderr, "vimo-icons: cannot write the %dx%d icon\n", size, size);
      return 1;
    }
  }
  const QString scalable = outDir + QStringLiteral("/scalable/apps");
  if (!QDir().mkpath(scalable)) return 1;
  std::ofstream svg(QFile::encodeName(scalable + QStringLiteral("/vimo.svg")).toStdString(), std::ios::binary);
  svg << Svg(artwork);
  svg.close();
  if (svg.fail()) {
    std::fputs("vimo-icons: cannot write the SVG icon\n", stderr);
    return 1;
  }
  return 0;
}
