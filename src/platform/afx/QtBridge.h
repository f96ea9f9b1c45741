// The layer's private meeting point with Qt: the widgets behind the window objects and the
// conversions between the program's byte strings and Qt's strings. Only the layer's own .cpp
// files include this header.
//
// The program's strings are bytes. Where bytes must come back from Qt unchanged (settings in
// edit controls, file names in a drag), the functions below keep them exact; the plain
// conversions are for the program's own texts (UTF-8 sources) and for text that is only shown.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QDialog>
#include <QEvent>
#include <QMainWindow>
#include <QString>

#include <string>
#include <vector>

#include "afx/Wnd.h"

inline QString AfxToQString(const char* psz) { return QString::fromUtf8(psz != nullptr ? psz : ""); }
inline CString AfxFromQString(const QString& text) { return CString(text.toUtf8().toStdString()); }

// The two encodings a settings text can be in: UTF-8 (Linux) or Shift_JIS (a file from Windows).
enum class AfxTextEncoding { Utf8, ShiftJis };
// UTF-8 when the bytes are valid UTF-8 (the empty text included), else Shift_JIS.
AfxTextEncoding AfxEncodingOf(const char* psz);
// The bytes as text to show, decoded from encoding by Qt's converter (ICU for Shift_JIS).
QString AfxDecodeText(const char* psz, AfxTextEncoding encoding);
// The text as bytes in encoding; in UTF-8 when encoding cannot hold every character of it.
CString AfxEncodeText(const QString& text, AfxTextEncoding encoding);

// Edit controls (QLineEdit, QPlainTextEdit) given bytes: the text is shown decoded as
// AfxEncodingOf says, CR LF as line breaks in a multi-line control. Reading it back gives the
// same bytes as long as the shown text was not changed; a changed text is encoded in the
// encoding it was read in, with CR LF between lines of a multi-line control.
void AfxSetEditBytes(QWidget* pEdit, const char* psz);
CString AfxGetEditBytes(const QWidget* pEdit);

// The text/uri-list of a file drop: one file: URL per path, CR LF after each, the path's bytes
// percent-encoded one by one (letters, digits, "-._~/" as they are), so that a name that is not
// UTF-8 reaches the drop target unchanged.
QByteArray AfxUriListOfFiles(const std::vector<std::string>& files);
inline QColor AfxToQColor(COLORREF cr) { return QColor(GetRValue(cr), GetGValue(cr), GetBValue(cr)); }

// Ties a widget to its window object; whichever goes first unties the other.
struct AfxWidgetLink {
  explicit AfxWidgetLink(CWnd* pOwner) : m_pOwner(pOwner) {}
  virtual ~AfxWidgetLink();
  AfxWidgetLink(const AfxWidgetLink&) = delete;
  AfxWidgetLink& operator=(const AfxWidgetLink&) = delete;
  CWnd* m_pOwner;
};

// A message posted with PostMessageA, delivered to the window's WindowProc.
class AfxPostedMessage : public QEvent {
 public:
  static QEvent::Type EventType();
  AfxPostedMessage(UINT nMessage, WPARAM wParam, LPARAM lParam)
      : QEvent(EventType()), m_nMessage(nMessage), m_wParam(wParam), m_lParam(lParam) {}
  UINT m_nMessage;
  WPARAM m_wParam;
  LPARAM m_lParam;
};

// Delivers a posted message to the owner; TRUE when the event was one.
bool AfxDeliverPosted(CWnd* pOwner, QEvent* pEvent);

// Modal loops (dialogs, boxes) run no idle processing, as on Windows.
struct AfxModalScope {
  AfxModalScope();
  ~AfxModalScope();
  AfxModalScope(const AfxModalScope&) = delete;
  AfxModalScope& operator=(const AfxModalScope&) = delete;
  static bool Active();
};

// The modal hook, when a test installed one.
struct AfxModalRequest;
bool AfxHasModalHook();
int AfxCallModalHook(AfxModalRequest& request);

// An image resource as a Qt image (transparent where the artwork has '.').
class QImage;
QImage AfxImageFromResource(const struct AFX_IMAGE* pImage);
