// The layer's private meeting point with Qt: the widgets behind the window objects and the
// conversions between the program's byte strings and Qt's strings. Only the layer's own .cpp
// files include this header.
#pragma once

#include <QAbstractScrollArea>
#include <QDialog>
#include <QEvent>
#include <QMainWindow>
#include <QString>

#include "afx/Wnd.h"

inline QString AfxToQString(const char* psz) { return QString::fromUtf8(psz != nullptr ? psz : ""); }
inline CString AfxFromQString(const QString& text) { return CString(text.toUtf8().toStdString()); }
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
