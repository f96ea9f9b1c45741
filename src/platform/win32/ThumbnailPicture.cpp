#include "win32/ThumbnailPicture.h"

#include <QImage>
#include <QTransform>

#include "afx/QtBridge.h"

namespace {

// The picture, reduced to cx on its longer side when larger.
QImage Fitted(const QImage& image, UINT cx) {
  const int side = static_cast<int>(cx);
  if (image.width() <= side && image.height() <= side) return image;
  return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

CBitmap UprightThumbnail(const THUMBNAILPIXELS& pixels, UINT cx) {
  if (pixels.cx == 0 || pixels.cy == 0 || pixels.cx > 65535 || pixels.cy > 65535 ||
      pixels.rgba.size() != std::size_t{pixels.cx} * pixels.cy * 4)
    return {};
  // The provider's rows as they are, not copied: the reduction makes a picture of its own, and
  // one already small enough is copied once. A square's bound fits either way round, so the
  // reduction comes before the turn, which then has fewer pixels to move.
  const QImage stored(pixels.rgba.data(), static_cast<int>(pixels.cx), static_cast<int>(pixels.cy),
                      static_cast<qsizetype>(pixels.cx) * 4, QImage::Format_RGBA8888);
  QImage fitted = Fitted(stored, cx);
  if (fitted.constBits() == stored.constBits()) fitted = stored.copy();
  // Orientation 5 to 8 turn a quarter clockwise (5, 7 then mirror across or upside down, 8 three
  // quarters); 2 to 4 mirror across, turn a half, mirror upside down.
  switch (pixels.nOrientation) {
    case 2: return AfxBitmapOf(fitted.mirrored(true, false));
    case 3: return AfxBitmapOf(fitted.mirrored(true, true));
    case 4: return AfxBitmapOf(fitted.mirrored(false, true));
    case 5: return AfxBitmapOf(fitted.transformed(QTransform().rotate(90)).mirrored(true, false));
    case 6: return AfxBitmapOf(fitted.transformed(QTransform().rotate(90)));
    case 7: return AfxBitmapOf(fitted.transformed(QTransform().rotate(90)).mirrored(false, true));
    case 8: return AfxBitmapOf(fitted.transformed(QTransform().rotate(270)));
    default: return AfxBitmapOf(std::move(fitted));
  }
}

CBitmap DrawableThumbnail(const CBitmap& picture, UINT cx) {
  const QImage* pImage = AfxImageOf(picture);
  if (pImage == nullptr) return {};
  // Converted here, on the maker's thread, rather than on the window's.
  return AfxBitmapOf(AfxDrawableImage(Fitted(*pImage, cx)));
}
