#include "ui/widgets.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace dovu::ui {

SpinPair::SpinPair(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);
  const struct {
    QToolButton* button;
    Qt::ArrowType arrow;
    const char* name;
  } halves[] = {{up_, Qt::UpArrow, "up"}, {down_, Qt::DownArrow, "down"}};
  for (const auto& h : halves) {
    h.button->setObjectName(QString::fromLatin1(h.name));
    h.button->setArrowType(h.arrow);
    h.button->setAutoRepeat(true);
    h.button->setFocusPolicy(Qt::NoFocus);
    h.button->setFixedSize(16, 11);
    box->addWidget(h.button);
  }
  connect(up_, &QToolButton::clicked, this, &SpinPair::up);
  connect(down_, &QToolButton::clicked, this, &SpinPair::down);
}

void ChoiceBox::hidePopup() {
  QComboBox::hidePopup();
  // The list hides before the picked item is applied; report once the pick has gone through.
  QMetaObject::invokeMethod(this, &ChoiceBox::closedUp, Qt::QueuedConnection);
}

template <class Step>
void ChoiceBox::stepFromShownItem(Step step) {
  const bool none = currentIndex() < 0 && count() > 0 && isEditable() && currentText() == itemText(0);
  auto select = [this](int i) {
    const QSignalBlocker block(this);
    const QSignalBlocker blockEdit(lineEdit());
    setCurrentIndex(i);
    if (i < 0) setEditText(itemText(0));
  };
  if (none) select(0);
  step();
  if (none && currentIndex() == 0) select(-1);
}

void ChoiceBox::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (!(e->modifiers() & (Qt::AltModifier | Qt::ControlModifier))) {
        stepFromShownItem([&] { QComboBox::keyPressEvent(e); });
        return;
      }
      break;
    default:
      break;
  }
  QComboBox::keyPressEvent(e);
}

void ChoiceBox::wheelEvent(QWheelEvent* e) {
  stepFromShownItem([&] { QComboBox::wheelEvent(e); });
}

CheckGrid::CheckGrid(std::vector<std::vector<QCheckBox*>> cells, QObject* parent)
    : QObject(parent), cells_(std::move(cells)) {
  for (const auto& row : cells_)
    for (QCheckBox* c : row) {
      c->setFocusPolicy(Qt::ClickFocus);
      c->installEventFilter(this);
    }
  if (!cells_.empty() && !cells_.front().empty()) makeCurrent(cells_.front().front());
}

void CheckGrid::makeCurrent(QCheckBox* cell) {
  if (cell == current_) return;
  if (current_) current_->setFocusPolicy(Qt::ClickFocus);
  current_ = cell;
  current_->setFocusPolicy(Qt::StrongFocus);
}

bool CheckGrid::eventFilter(QObject* watched, QEvent* event) {
  // A cell being destroyed is no longer a check box: its last events are not the grid's business.
  auto* cell = qobject_cast<QCheckBox*>(watched);
  if (!cell) return false;
  if (event->type() == QEvent::FocusIn) {
    makeCurrent(cell);
  } else if (event->type() == QEvent::KeyPress) {
    const auto* k = static_cast<QKeyEvent*>(event);
    int dr = 0, dc = 0;
    switch (k->key()) {
      case Qt::Key_Up: dr = -1; break;
      case Qt::Key_Down: dr = 1; break;
      case Qt::Key_Left: dc = -1; break;
      case Qt::Key_Right: dc = 1; break;
      default: return false;
    }
    for (std::size_t r = 0; r < cells_.size(); ++r)
      for (std::size_t c = 0; c < cells_[r].size(); ++c) {
        if (cells_[r][c] != cell) continue;
        // The next enabled cell that way; disabled ones are passed over, the edge stops.
        auto row = static_cast<long>(r) + dr, col = static_cast<long>(c) + dc;
        for (; row >= 0 && col >= 0 && row < static_cast<long>(cells_.size()) &&
               col < static_cast<long>(cells_[r].size());
             row += dr, col += dc) {
          QCheckBox* next = cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
          if (next->isEnabled()) {
            makeCurrent(next);
            next->setFocus(Qt::OtherFocusReason);
            break;
          }
        }
        return true;
      }
  }
  return false;
}

QValidator::State FieldValidator::validate(QString& input, int& pos) const {
  if (input == last_) return Acceptable;
  const Form::Edit e = form_.filterEdit(id_, last_, input, pos);
  if (!e.accepted) return Invalid;
  if (e.text != input) {
    input = e.text;
    pos = e.cursor;
  }
  last_ = input;
  return Acceptable;
}

}  // namespace dovu::ui
