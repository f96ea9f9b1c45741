// The least a Qt program does to show a JPEG: the floor under the viewer's start-up figures in
// bench/peers. Built twice: vimo-qt-floor-widgets, a QLabel in a widget window (what any Qt
// Widgets program starts with), and vimo-qt-floor-gui, a bare raster window painting the image
// (Qt Gui alone, without the widgets library). The window is the size of the screen, like the
// viewers' in bench/peers.
//
//   vimo-qt-floor-widgets FILE
//   vimo-qt-floor-gui FILE
#include <QImageReader>
#include <QScreen>
#include <cstdio>
#include <utility>
#ifdef QT_FLOOR_WIDGETS
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#else
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#endif

namespace {

#ifndef QT_FLOOR_WIDGETS
class ImageWindow : public QRasterWindow {
 public:
  explicit ImageWindow(QImage image) : m_image(std::move(image)) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(0, 0), size()), Qt::white);
    painter.drawImage(0, 0, m_image);
  }

 private:
  QImage m_image;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const QString file = QString::fromLocal8Bit(argv[1]);
#ifdef QT_FLOOR_WIDGETS
  QApplication app(argc, argv);
  QLabel label;
  label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label.setPixmap(QPixmap::fromImage(QImageReader(file).read()));
  label.resize(QGuiApplication::primaryScreen()->size());
  label.show();
#else
  QGuiApplication app(argc, argv);
  ImageWindow window(QImageReader(file).read());
  window.resize(QGuiApplication::primaryScreen()->size());
  window.show();
#endif
  return app.exec();
}
