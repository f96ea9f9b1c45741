#include "afx/QtBridge.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrl>
#include <QVariant>

#include <cstring>

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

// The length of the UTF-8 character at p (at most n bytes there); 0 when no character starts
// there: a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short.
std::size_t Utf8CharLength(const unsigned char* p, std::size_t n) {
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  else return 0;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (n < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

// Bytes a widget was given, kept on the widget beside the text it showed for them.
void RememberBytes(QObject* pObject, const char* lpszKey, const char* psz, const QString& shown) {
  pObject->setProperty(lpszKey, QByteArray(psz != nullptr ? psz : ""));
  pObject->setProperty((std::string(lpszKey) + "Shown").c_str(), shown);
}

CString RecallBytes(const QObject* pObject, const char* lpszKey, const QString& shownNow) {
  const QVariant given = pObject->property(lpszKey);
  if (given.isValid() && pObject->property((std::string(lpszKey) + "Shown").c_str()).toString() == shownNow)
    return CString(given.toByteArray().toStdString());
  return AfxFromQString(shownNow);
}

}  // namespace

QString AfxToQString(const char* psz) { return psz != nullptr ? AfxToQString(psz, std::strlen(psz)) : QString(); }

QString AfxToQString(const char* pch, std::size_t nLength) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(pch);
  QString text;
  std::size_t runStart = 0;
  for (std::size_t at = 0; at < nLength;) {
    const std::size_t length = Utf8CharLength(bytes + at, nLength - at);
    if (length > 0) {
      at += length;
      continue;
    }
    text += QString::fromUtf8(pch + runStart, static_cast<qsizetype>(at - runStart));
    // Only bytes from 0x80 up fail to start a character: always two digits.
    text += QStringLiteral("\\x") + QString::number(bytes[at], 16).toUpper();
    runStart = ++at;
  }
  return text + QString::fromUtf8(pch + runStart, static_cast<qsizetype>(nLength - runStart));
}

void AfxSetWindowTitle(QWidget* pWidget, const char* psz) {
  pWidget->setWindowTitle(AfxToQString(psz));
  RememberBytes(pWidget, "afxTitleBytes", psz, pWidget->windowTitle());
}

CString AfxGetWindowTitle(const QWidget* pWidget) { return RecallBytes(pWidget, "afxTitleBytes", pWidget->windowTitle()); }

void AfxSetLabelText(QLabel* pLabel, const char* psz) {
  pLabel->setText(AfxToQString(psz));
  RememberBytes(pLabel, "afxLabelBytes", psz, pLabel->text());
}

CString AfxGetLabelText(const QLabel* pLabel) { return RecallBytes(pLabel, "afxLabelBytes", pLabel->text()); }

QString AfxQtFileName(const char* path) { return QFile::decodeName(QByteArray(path != nullptr ? path : "")); }

bool AfxPathOfQtFileName(const QString& name, CString& rPath) {
  if (name.contains(QChar::ReplacementCharacter)) return false;
  QStringEncoder encoder(Utf8());
  const QByteArray bytes = encoder(name);
  if (encoder.hasError() || bytes.contains('\0')) return false;
  rPath = CString(bytes.toStdString());
  return true;
}

bool AfxPathOfFileUrl(const QUrl& url, CString& rPath) {
  if (url.scheme() != QLatin1String("file")) return false;
  if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) return false;
  const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  if (!bytes.startsWith('/') || bytes.contains('\0')) return false;
  rPath = CString(bytes.toStdString());
  return true;
}

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

namespace {

// A file: URL of a path's bytes, each percent-encoded but letters, digits and "-._~/".
QByteArray FileUrlOf(const std::string& file) { return "file://" + QByteArray::fromStdString(file).toPercentEncoding("/"); }

}  // namespace

QByteArray AfxUriListOfFiles(const std::vector<std::string>& files) {
  QByteArray list;
  for (const std::string& file : files) list += FileUrlOf(file) + "\r\n";
  return list;
}

QByteArray AfxCopiedFilesOf(const std::vector<std::string>& files) {
  QByteArray list("copy");
  for (const std::string& file : files) list += "\n" + FileUrlOf(file);
  return list;
}
