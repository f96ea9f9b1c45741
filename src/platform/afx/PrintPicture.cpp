#include "afx/PrintPicture.h"

#include <QComboBox>
#include <QFormLayout>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>

#include "afx/Dialog.h"
#include "afx/QtBridge.h"
#include "afx/WinApp.h"

namespace {

// The picture, made once and drawn on every page the printer or the preview asks for.
class PicturePage {
 public:
  explicit PicturePage(AFX_PRINT_PICTURE& picture) : m_picture(picture) {}

  bool Paint(QPrinter* pPrinter) {
    if (m_image.isNull() && !MakeImage()) return false;
    QPainter painter;
    if (!painter.begin(pPrinter)) {
      m_reason = "cannot start printing";
      return false;
    }
    const QPageLayout page = pPrinter->pageLayout();
    const QRectF area = page.paintRect(QPageLayout::Point);
    const QRect pixels = page.paintRectPixels(pPrinter->resolution());
    const double dScaleX = pixels.width() / area.width();
    const double dScaleY = pixels.height() / area.height();
    const AFX_PRINT_RECT where = m_picture.layOut(area.width(), area.height(), m_picture.nChoice);
    painter.setClipRect(QRect(0, 0, pixels.width(), pixels.height()));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(where.x * dScaleX, where.y * dScaleY, where.cx * dScaleX, where.cy * dScaleY), m_image);
    if (!painter.end() || pPrinter->printerState() == QPrinter::Error) {
      m_reason = "the printer refused the page";
      return false;
    }
    return true;
  }

  const CString& Reason() const { return m_reason; }

 private:
  bool MakeImage() {
    const QImage::Format format = m_picture.nBytesPerPixel == 4 ? QImage::Format_RGB32 : QImage::Format_BGR888;
    m_image = QImage(m_picture.nWidth, m_picture.nHeight, format);
    if (m_image.isNull()) {
      m_reason = "out of memory";
      return false;
    }
    m_picture.fillRows(0, m_picture.nHeight, m_image.bits(), static_cast<std::size_t>(m_image.bytesPerLine()));
    return true;
  }

  AFX_PRINT_PICTURE& m_picture;
  QImage m_image;
  CString m_reason;
};

QWidget* MainWidget() {
  CWnd* pMain = AfxGetMainWnd();
  return pMain != nullptr ? pMain->GetWidget() : nullptr;
}

QComboBox* ChoiceBox(const AFX_PRINT_PICTURE& picture, QWidget* pParent) {
  auto* pBox = new QComboBox(pParent);
  for (const CString& choice : picture.choices) pBox->addItem(AfxToQString(choice));
  pBox->setCurrentIndex(picture.nChoice);
  return pBox;
}

int Finish(bool bPrinted, const PicturePage& page, CString& rReason) {
  if (bPrinted) return IDOK;
  rReason = page.Reason();
  return -1;
}

}  // namespace

int AfxPrintPicture(AFX_PRINT_PICTURE& picture, BOOL bPreview, CString& rReason) {
  AfxModalScope scope;
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(AfxToQString(picture.strDocName));
  printer.setPageOrientation(picture.bLandscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  PicturePage page(picture);
  if (AfxHasModalHook()) {
    AfxModalRequest request;
    request.kind = AfxModalRequest::Kind::Print;
    request.strText = picture.strDocName;
    request.choices = picture.choices;
    request.nChoice = picture.nChoice;
    if (AfxCallModalHook(request) != IDOK) return IDCANCEL;
    picture.nChoice = request.nChoice;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(AfxQtFileName(request.strPrintFile));
    return Finish(page.Paint(&printer), page, rReason);
  }
  if (bPreview) {
    QPrintPreviewDialog dialog(&printer, MainWidget());
    bool bPrinted = true;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&page, &bPrinted](QPrinter* pPrinter) { bPrinted = page.Paint(pPrinter) && bPrinted; });
    // As large as the viewer's window, with the choice first in the tool bar (where it shows however
    // narrow the bar); a choice draws the page again at once.
    if (QWidget* pMain = MainWidget()) dialog.resize(pMain->size());
    if (auto* pBar = dialog.findChild<QToolBar*>()) {
      QComboBox* pBox = ChoiceBox(picture, pBar);
      QAction* pFirst = pBar->actions().value(0);
      pBar->insertSeparator(pFirst);
      pBar->insertWidget(pBar->actions().value(0), pBox);
      QObject::connect(pBox, &QComboBox::currentIndexChanged, &dialog, [&picture, &dialog](int nChoice) {
        picture.nChoice = nChoice;
        if (auto* pWidget = dialog.findChild<QPrintPreviewWidget*>()) pWidget->updatePreview();
      });
    }
    if (dialog.exec() != QDialog::Accepted) return IDCANCEL;
    return Finish(bPrinted, page, rReason);
  }
  QPrintDialog dialog(&printer, MainWidget());
  // The choice in a tab of the dialog's options.
  auto* pOptions = new QWidget;
  pOptions->setWindowTitle(AfxToQString(picture.strChoiceTab));
  auto* pForm = new QFormLayout(pOptions);
  QComboBox* pBox = ChoiceBox(picture, pOptions);
  pForm->addRow(AfxToQString(picture.strChoiceLabel), pBox);
  dialog.setOptionTabs({pOptions});
  if (dialog.exec() != QDialog::Accepted) return IDCANCEL;
  picture.nChoice = pBox->currentIndex();
  return Finish(page.Paint(&printer), page, rReason);
}
