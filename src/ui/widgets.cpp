#include "ui/widgets.h"

#include <QVBoxLayout>
#include <algorithm>

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

QValidator::State FieldValidator::validate(QString& input, int& pos) const {
  auto filter = [this](const QString& text) {
    QString out;
    for (QChar c : text)
      if (c != u'\r' && c != u'\b' && form_.acceptsChar(id_, c)) out.append(c);
    return out;
  };
  QString left = filter(input.left(pos));
  const QString right = filter(input.mid(pos));
  // Over the limit: what was just typed or pasted (before the cursor) gives way, so the limit
  // counts the characters that are really kept.
  const int limit = Form::def(id_).maxLength;
  if (limit > 0 && left.size() + right.size() > limit)
    left.truncate(std::max(0, limit - static_cast<int>(right.size())));
  const QString result = left + right;
  if (result != input) {
    input = result;
    pos = static_cast<int>(left.size());
  }
  return Acceptable;
}

}  // namespace dovu::ui
