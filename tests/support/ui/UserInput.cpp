#include "support/ui/UserInput.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QWidget>

#include "support/TestAccess.h"

namespace vimo::test {

void PressKey(CFrameWnd* pFrame, int qtKey, int qtModifiers) {
  QWidget* window = pFrame->GetWidget();
  window->activateWindow();
  QApplication::setActiveWindow(window);
  QWidget* target = QApplication::focusWidget();
  if (target == nullptr || target->window() != window) target = window;
  QTest::keyClick(target, static_cast<Qt::Key>(qtKey), Qt::KeyboardModifiers(qtModifiers));
}

void ClickView(CView* pView, int x, int y, bool bRelease) {
  QWidget* widget = pView->GetWidget();
  if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) widget = area->viewport();
  QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
  if (bRelease) QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}

void DragInView(CView* pView, POINT from, POINT to) {
  QWidget* widget = pView->GetWidget();
  if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) widget = area->viewport();
  QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, QPoint(from.x, from.y));
  for (const QPoint point : {QPoint((from.x + to.x) / 2, (from.y + to.y) / 2), QPoint(to.x, to.y)}) {
    QMouseEvent move(QEvent::MouseMove, point, widget->mapToGlobal(point), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
  }
  QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, QPoint(to.x, to.y));
}

void TypeInDialog(CDialog* pDialog, int nID, const std::string& utf8Text, bool bAppend) {
  RECT rect{};
  if (!AfxTestAccess::GetDlgItemRect(pDialog, nID, &rect)) return;
  QWidget* edit = pDialog->GetWidget()->childAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  while (edit != nullptr && qobject_cast<QLineEdit*>(edit) == nullptr && qobject_cast<QPlainTextEdit*>(edit) == nullptr) {
    edit = edit->parentWidget();
  }
  if (edit != nullptr) TypeInEdit(edit, utf8Text, bAppend);
}

void TypeInEdit(QWidget* edit, const std::string& utf8Text, bool bAppend) {
  if (bAppend) QTest::keyClick(edit, Qt::Key_End, Qt::ControlModifier);
  else QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  const QString text = QString::fromUtf8(utf8Text);
  const QStringList lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (i > 0) QTest::keyClick(edit, Qt::Key_Return);
    QInputMethodEvent commit;
    commit.setCommitString(lines[i]);
    QApplication::sendEvent(edit, &commit);
  }
}

}  // namespace vimo::test
