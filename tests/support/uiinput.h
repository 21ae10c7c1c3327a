#pragma once
// Input as a person gives it, for the widget tests: QTest key and mouse events on the real
// widgets, a list's entry clicked in its open pop-up.
#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>
#include <QWheelEvent>

#include "support/testapp.h"

namespace dovu::test {

// Opens the list's pop-up (F4, as a mouse press on the arrow also does) and clicks the entry `row`
// in its view.  (Right after a press on the arrow the list ignores a release for a moment, so
// that pressing, dragging and releasing on an entry picks it; F4 has no such wait.)  Returns
// false when the pop-up did not open or close as it should.
inline bool pickInPopup(QComboBox* c, int row) {
  QTest::keyClick(c, Qt::Key_F4);
  QAbstractItemView* view = c->view();
  if (!waitFor([view] { return view->isVisible(); }, 3000)) return false;
  const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  if (!waitFor([view] { return !view->isVisible(); }, 3000)) return false;
  QCoreApplication::processEvents();  // the queued report of the closing
  // Without a window manager (offscreen, bare Xvfb) nobody gives the window back its activation.
  c->window()->activateWindow();
  return waitFor([c] { return c->window()->isActiveWindow(); }, 3000);
}

// Types text key by key, letters beyond ASCII (ż, ł, ...) as the keyboard layout gives them.
inline void typeText(QWidget* w, const QString& text) {
  for (QChar c : text) {
    if (c.unicode() >= 0x20 && c.unicode() < 0x7F) QTest::keyClick(w, static_cast<char>(c.unicode()));
    else QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

// One notch of the wheel over the widget (positive: away from the user).
inline void wheel(QWidget* w, int notches) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, notches * QWheelEvent::DefaultDeltasPerStep),
                Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(w, &e);
}

}  // namespace dovu::test
