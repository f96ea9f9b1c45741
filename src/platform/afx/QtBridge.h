// The layer's private meeting point with Qt: the widgets behind the window objects and the
// conversions between the program's byte strings and Qt's strings. Only the layer's own .cpp
// files include this header.
//
// The program's strings are bytes. Every conversion between them and Qt's strings is here.
// Where bytes must come back from Qt unchanged (settings in edit controls, titles, file names
// in a drag or a drop), the functions below keep them exact; where Qt cannot keep them (its file
// names), they say so, and the caller refuses the name with a message. The plain conversions
// are for the program's own texts (UTF-8 sources) and for text that is only shown.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QDialog>
#include <QEvent>
#include <QMainWindow>
#include <QString>

#include <cstddef>
#include <string>
#include <vector>

#include "afx/Wnd.h"

class QLabel;
class QUrl;

// Text that is only shown (titles, boxes, menus, labels, captions): UTF-8, and each byte that is
// not part of a UTF-8 character as its code, \xNN. The program joins its own UTF-8 texts with
// file names, so a text is never read whole in another encoding (the program's part would turn
// into other characters), and names that differ in a byte never look alike.
QString AfxToQString(const char* psz);
QString AfxToQString(const char* pch, std::size_t nLength);
// Text that Qt made (its own texts, what the program's texts became in a widget) as UTF-8.
inline CString AfxFromQString(const QString& text) { return CString(text.toUtf8().toStdString()); }

// A window's title and a label's text given bytes: shown as AfxToQString shows them, and read
// back as those same bytes while the widget still shows that text.
void AfxSetWindowTitle(QWidget* pWidget, const char* psz);
CString AfxGetWindowTitle(const QWidget* pWidget);
void AfxSetLabelText(QLabel* pLabel, const char* psz);
CString AfxGetLabelText(const QLabel* pLabel);

// Paths in Qt's file names. Qt decodes a file name as UTF-8 and puts U+FFFD for each byte that
// is not part of a character, so a name that is not UTF-8 comes back from Qt as another name.
// The name as Qt's file dialogs show it (U+FFFD where bytes could not be decoded).
QString AfxQtFileName(const char* path);
// The bytes of a name that came back from Qt (a file dialog's choice); false when the name holds
// U+FFFD: Qt may have put it for bytes it could not decode, so the file meant may be another.
bool AfxPathOfQtFileName(const QString& name, CString& rPath);
// The path of a file: URL of a drop, its percent-encoded bytes decoded one by one; false for
// other URLs, another machine's files and paths that hold a NUL.
bool AfxPathOfFileUrl(const QUrl& url, CString& rPath);

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
// The file managers' copied files (x-special/gnome-copied-files): "copy", then each file's URL
// as in AfxUriListOfFiles, one a line.
QByteArray AfxCopiedFilesOf(const std::vector<std::string>& files);
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

// The widget that holds a window's children and is painted as its client area: a view's
// viewport, a bar's content, else the window's widget itself.
QWidget* AfxClientOf(QWidget* pWidget);
// The virtual-key code of a Qt key; 0 for keys the program has no code for.
UINT AfxVirtualKey(int qtKey);

// Delivers a posted message to the owner; TRUE when the event was one.
bool AfxDeliverPosted(CWnd* pOwner, QEvent* pEvent);
// An event posted from one thread to an object of another, and taken over there before it is
// read. Qt's queue hands it over through locks the thread sanitizer does not see: these tell it.
void AfxPostAcrossThreads(QObject* pReceiver, QEvent* pEvent);
void AfxTakeOverPosted(QEvent* pEvent);

// Modal loops (dialogs, boxes, a drag) run no idle processing, as on Windows.
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

// Bitmaps and image lists over Qt's images: a bitmap of an image (empty for a null image), the
// image of a bitmap (nullptr when empty), the image at a place of a list (nullptr when empty).
class CBitmap;
class CImageList;
CBitmap AfxBitmapOf(QImage image);
// The image in the form the screen's painter draws fastest: an opaque one is copied, not blended.
QImage AfxDrawableImage(const QImage& image);
const QImage* AfxImageOf(const CBitmap& bitmap);
const QImage* AfxImageOf(const CImageList& list, int nImage);
