#include "afx/QtBridge.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QVariant>

namespace {

// What an edit control was given, kept on the control itself.
constexpr char kEditBytes[] = "afxEditBytes";
constexpr char kEditShown[] = "afxEditShown";
constexpr char kEditEncoding[] = "afxEditEncoding";

// A byte-order mark is text like any other here: kept when decoding and encoding.
constexpr auto kKeepBom = QStringConverter::Flag::ConvertInitialBom;

QStringConverter::Encoding Utf8() { return QStringConverter::Utf8; }
const char* ShiftJisName() { return "Shift_JIS"; }

QString ShownText(const QWidget* pEdit) {
  if (auto* pLine = qobject_cast<const QLineEdit*>(pEdit)) return pLine->text();
  if (auto* pText = qobject_cast<const QPlainTextEdit*>(pEdit)) return pText->toPlainText();
  return {};
}

}  // namespace

AfxTextEncoding AfxEncodingOf(const char* psz) {
  QStringDecoder decoder(Utf8(), kKeepBom);
  const QString text = decoder(QByteArray(psz != nullptr ? psz : ""));
  Q_UNUSED(text);  // decoded only to learn whether it decodes
  return decoder.hasError() ? AfxTextEncoding::ShiftJis : AfxTextEncoding::Utf8;
}

QString AfxDecodeText(const char* psz, AfxTextEncoding encoding) {
  const QByteArray bytes(psz != nullptr ? psz : "");
  QStringDecoder decoder = encoding == AfxTextEncoding::Utf8 ? QStringDecoder(Utf8(), kKeepBom)
                                                              : QStringDecoder(ShiftJisName(), kKeepBom);
  return decoder(bytes);
}

CString AfxEncodeText(const QString& text, AfxTextEncoding encoding) {
  if (encoding == AfxTextEncoding::ShiftJis) {
    QStringEncoder encoder(ShiftJisName(), kKeepBom);
    const QByteArray bytes = encoder(text);
    if (encoder.isValid() && !encoder.hasError()) return CString(bytes.toStdString());
  }
  QStringEncoder encoder(Utf8(), kKeepBom);
  const QByteArray bytes = encoder(text);
  return CString(bytes.toStdString());
}

void AfxSetEditBytes(QWidget* pEdit, const char* psz) {
  const AfxTextEncoding encoding = AfxEncodingOf(psz);
  const QString text = AfxDecodeText(psz, encoding);
  if (auto* pLine = qobject_cast<QLineEdit*>(pEdit)) pLine->setText(text);
  else if (auto* pText = qobject_cast<QPlainTextEdit*>(pEdit)) pText->setPlainText(QString(text).replace("\r\n", "\n"));
  else return;
  pEdit->setProperty(kEditBytes, QByteArray(psz != nullptr ? psz : ""));
  // What the control shows may differ from the decoded text (it may drop or replace
  // characters), so the comparison later is with what it showed.
  pEdit->setProperty(kEditShown, ShownText(pEdit));
  pEdit->setProperty(kEditEncoding, static_cast<int>(encoding));
}

CString AfxGetEditBytes(const QWidget* pEdit) {
  const QString shown = ShownText(pEdit);
  const QVariant given = pEdit->property(kEditBytes);
  if (given.isValid() && shown == pEdit->property(kEditShown).toString()) {
    return CString(given.toByteArray().toStdString());
  }
  const auto encoding = static_cast<AfxTextEncoding>(pEdit->property(kEditEncoding).toInt());
  const bool multiLine = qobject_cast<const QPlainTextEdit*>(pEdit) != nullptr;
  return AfxEncodeText(multiLine ? QString(shown).replace('\n', "\r\n") : shown, encoding);
}

QByteArray AfxUriListOfFiles(const std::vector<std::string>& files) {
  QByteArray list;
  for (const std::string& file : files) {
    list += "file://";
    list += QByteArray::fromStdString(file).toPercentEncoding("/");
    list += "\r\n";
  }
  return list;
}
