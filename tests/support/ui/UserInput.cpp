#include "support/ui/UserInput.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QTest>
#include <QWidget>

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

}  // namespace vimo::test
