#include "ui/binder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolTip>
#include <QUndoStack>
#include <QWheelEvent>
#include <stdexcept>
#include <string>

#include "ui/application.h"
#include "ui/edithistory.h"
#include "ui/formview.h"
#include "ui/widgets.h"

namespace dovu::ui {

namespace {

const char* kIdProperty = "dovuFieldId";

Form::Id idOf(const QObject* o) {
  const QVariant v = o->property(kIdProperty);
  return v.isValid() ? v.toInt() : Form::kNoField;
}

void paint(QWidget* w, QPalette::ColorRole role, Colour c, bool fill) {
  QPalette p = w->palette();
  const QColor colour = FieldBinder::toColor(c, role);
  if (p.color(role) != colour) {
    p.setColor(role, colour);
    w->setPalette(p);
  }
  if (fill) w->setAutoFillBackground(c != kDefaultColour);
}

void paintText(QWidget* w, Colour c) {
  QPalette p = w->palette();
  const QColor colour = FieldBinder::toColor(c, QPalette::WindowText);
  if (p.color(QPalette::WindowText) != colour) {
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, FieldBinder::toColor(c, QPalette::Text));
    w->setPalette(p);
  }
}

// Shows a text the program chose: past the key filter (a text from the controller or a file is
// shown as it is, even when it is longer than the field's limit or holds characters its filter
// would not take), and as the text the filter compares the user's next edit with.
class ProgramText {
 public:
  explicit ProgramText(QLineEdit* e) : edit_(e), validator_(e ? e->validator() : nullptr) {
    if (validator_) edit_->setValidator(nullptr);
  }
  ~ProgramText() {
    if (!validator_) return;
    edit_->setValidator(validator_);
    if (auto* f = dynamic_cast<const FieldValidator*>(validator_)) f->shown(edit_->text());
  }
  ProgramText(const ProgramText&) = delete;
  ProgramText& operator=(const ProgramText&) = delete;

 private:
  QLineEdit* edit_;
  const QValidator* validator_;
};

// The sensor setting a threshold field or its step pair changes; nullptr for any other entry.
const SensorInfo* steppedBy(Form::Id id) {
  const FieldDef& d = Form::def(id);
  if (d.kind == FieldKind::Spin) return sensorByField(d.name);
  if (d.kind == FieldKind::Button) return sensorBySpin(d.name);
  return nullptr;
}

// A text wider than its field is shown whole in the tool tip, under the field's hint.
bool showWholeText(QObject* watched, const QHelpEvent* e) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (!edit) return false;
  const QString text = edit->text();
  // The line edit keeps a few pixels of margin inside its frame.
  if (edit->fontMetrics().horizontalAdvance(text) <= edit->contentsRect().width() - 6) return false;
  QString tip = text.toHtmlEscaped();
  if (!edit->toolTip().isEmpty()) tip = edit->toolTip().toHtmlEscaped() + QStringLiteral("<br>") + tip;
  QToolTip::showText(e->globalPos(), QStringLiteral("<p style='white-space:pre'>%1</p>").arg(tip), edit);
  return true;
}

// Focus changes that come from another window (a message box, a context menu) are not the user
// leaving or entering a field.
bool movedInsideWindow(const QFocusEvent* e) {
  return e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason;
}

}  // namespace

FieldBinder::FieldBinder(Form& form, QObject* parent)
    : QObject(parent), form_(form), views_(static_cast<std::size_t>(form.size()), nullptr) {
  connect(&form_, &Form::changed, this, &FieldBinder::refresh);
}

QColor FieldBinder::toColor(Colour c, QPalette::ColorRole platformRole) {
  const QPalette p = QApplication::palette();
  switch (c) {
    case kWindowColour: return p.color(QPalette::Base);
    case kFaceColour: return p.color(QPalette::Button);
    case kDefaultColour: return p.color(platformRole);
    default: return QColor::fromRgb(static_cast<QRgb>(c));
  }
}

Form::Id FieldBinder::idOrThrow(std::string_view name) const {
  const Form::Id id = Form::idOf(name);
  if (id == Form::kNoField) throw std::invalid_argument("no form entry " + std::string(name));
  return id;
}

QObject* FieldBinder::view(std::string_view name) const {
  const Form::Id id = Form::idOf(name);
  return id == Form::kNoField ? nullptr : views_[static_cast<std::size_t>(id)];
}

QWidget* FieldBinder::create(std::string_view name, QWidget* parent) {
  const Form::Id id = idOrThrow(name);
  const FieldDef& d = Form::def(id);
  QWidget* w = nullptr;
  switch (d.kind) {
    case FieldKind::Text:
    case FieldKind::NoSpaceText:
    case FieldKind::Digits:
    case FieldKind::PhoneDigits:
    case FieldKind::Spin:
    case FieldKind::Readout: {
      auto* e = new QLineEdit(parent);
      const bool readOnly = d.kind == FieldKind::Spin || d.kind == FieldKind::Readout;
      e->setReadOnly(readOnly);
      // A threshold takes the focus so that the arrow keys can step it; a readout never does.
      if (d.kind == FieldKind::Readout) e->setFocusPolicy(Qt::NoFocus);
      if (!readOnly) e->setValidator(new FieldValidator(form_, id, e));  // also keeps the length limit
      w = e;
      break;
    }
    case FieldKind::Check: w = new QCheckBox(parent); break;
    case FieldKind::Choice: {
      auto* c = new ChoiceBox(parent);
      c->setEditable(true);
      c->setInsertPolicy(QComboBox::NoInsert);
      c->addItems(Form::items(id));
      // Typing only writes text; no inline completion, so the list shows what the form holds.
      c->setCompleter(nullptr);
      c->lineEdit()->setValidator(new FieldValidator(form_, id, c));
      // Leaving the list is the form's exit rule (a typed item name picks it, other text gives
      // way to the selection), not the list's own match, which would pick "Brak" on any pass.
      QObject::disconnect(c->lineEdit(), &QLineEdit::editingFinished, c, nullptr);
      w = c;
      break;
    }
    case FieldKind::Label: w = new QLabel(parent); break;
    case FieldKind::Lamp: {
      auto* l = new QLabel(QString::fromUtf8(d.caption), parent);
      l->setAlignment(Qt::AlignCenter);
      l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      l->setMinimumWidth(30);
      w = l;
      break;
    }
    case FieldKind::Gauge: {
      auto* g = new QProgressBar(parent);
      g->setRange(0, d.maxValue);
      g->setTextVisible(false);
      w = g;
      break;
    }
    case FieldKind::StatusLine: {
      auto* s = new QStatusBar(parent);
      s->setSizeGripEnabled(false);
      auto* panel = new QLabel(s);
      panel->setObjectName(QStringLiteral("panel"));
      panel->setMinimumWidth(130);
      s->addWidget(panel, 1);
      // Hidden while the live view is off; the layout keeps its place so nothing jumps.
      QSizePolicy keep = s->sizePolicy();
      keep.setRetainSizeWhenHidden(true);
      s->setSizePolicy(keep);
      w = s;
      break;
    }
    case FieldKind::Button:
      if (const SensorInfo* s = steppedBy(id)) {
        auto* pair = new SpinPair(parent);
        const QString field = QString::fromUtf8(Form::def(Form::idOf(displayFieldOf(*s))).caption);
        pair->upButton()->setAccessibleName(field + QStringLiteral(" w górę"));
        pair->downButton()->setAccessibleName(field + QStringLiteral(" w dół"));
        w = pair;
      } else {
        w = new QPushButton(QString::fromUtf8(d.caption), parent);
      }
      break;
    case FieldKind::MenuItem:
    case FieldKind::Container:
      throw std::invalid_argument("no widget of its own for " + std::string(name));
  }
  bind(w, name);
  return w;
}

void FieldBinder::attach(QObject* view, Form::Id id) {
  view->setObjectName(QString::fromUtf8(Form::def(id).name));
  view->setProperty(kIdProperty, id);
  views_[static_cast<std::size_t>(id)] = view;
  connect(view, &QObject::destroyed, this, [this, id, view] {
    if (views_[static_cast<std::size_t>(id)] == view) views_[static_cast<std::size_t>(id)] = nullptr;
  });
}

void FieldBinder::bind(QAction* a, std::string_view name) {
  const Form::Id id = idOrThrow(name);
  attach(a, id);
  refresh(id);
}

template <class F>
void FieldBinder::act(Form::Id id, bool joins, F&& f) {
  if (!history_) return guarded(f);
  history_->record(QString::fromUtf8(Form::def(id).caption), joins ? id : Form::kNoField, [&] { guarded(f); });
}

void FieldBinder::bind(QWidget* w, std::string_view name) {
  const Form::Id id = idOrThrow(name);
  const FieldDef& d = Form::def(id);
  attach(w, id);
  const QString caption = QString::fromUtf8(d.caption);
  const QString hint = QString::fromUtf8(d.hint);
  w->setAccessibleName(caption.isEmpty() ? QString::fromUtf8(d.name) : caption);
  if (!hint.isEmpty()) w->setToolTip(hint);

  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    takeEdits(e, id);
    e->installEventFilter(this);
  } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
    connect(c, &QCheckBox::clicked, this, [this, id](bool on) {
      act(id, false, [&] { form_.userToggled(id, on); });
      refresh(id);
    });
    c->installEventFilter(this);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    connect(c, &QComboBox::activated, this, [this, id](int index) {
      act(id, false, [&] { form_.userPicked(id, index); });
      refresh(id);
    });
    if (QLineEdit* e = c->lineEdit()) takeListEdits(c, e, id);
    // The focus of an editable list goes to the list itself, not to its line edit.
    c->installEventFilter(this);
  } else if (auto* s = qobject_cast<SpinPair*>(w)) {
    connect(s, &SpinPair::up, this, [this, id] { step(id, true); });
    connect(s, &SpinPair::down, this, [this, id] { step(id, false); });
    s->installEventFilter(this);
  }
  refresh(id);
}

void FieldBinder::takeEdits(QLineEdit* e, Form::Id id) {
  // Every change of the text that is not the program's own (signals are blocked while the
  // program sets it) is the user's: typing, pasting, undo, and a text set or inserted through
  // the accessibility interface.  All of them take the key filter and the limit, and are stored.
  connect(e, &QLineEdit::textChanged, this, [this, e, id](const QString& t) {
    act(id, true, [&] {
      const Form::Edit f = form_.filterEdit(id, form_.state(id).text, t, e->cursorPosition());
      if (f.accepted) form_.userEdited(id, f.text);
    });
    refresh(id);
  });
}

void FieldBinder::takeListEdits(QComboBox* c, QLineEdit* e, Form::Id id) {
  // The list moves its selection before it shows the item's text, so a text change that shows
  // the item now selected is a pick (pop-up, Up/Down, wheel, Enter on a typed name): it goes to
  // the form as one, before the refresh could put the form's old selection back.  Any other
  // change is typing.
  connect(e, &QLineEdit::textChanged, this, [this, c, e, id](const QString& t) {
    act(id, true, [&] {
      const int i = c->currentIndex();
      if (i >= 0 && t == c->itemText(i) && (i != form_.state(id).index || form_.state(id).text != t)) {
        form_.userPicked(id, i);
        return;
      }
      const Form::Edit f = form_.filterEdit(id, form_.state(id).text, t, e->cursorPosition());
      if (f.accepted) form_.userEdited(id, f.text);
    });
    refresh(id);
  });
}

void FieldBinder::step(Form::Id id, bool up) {
  const SensorInfo* s = steppedBy(id);
  if (!s || !form_.state(id).enabled) return;
  act(id, true, [&] { up ? form_.spinUp(spinButtonOf(*s)) : form_.spinDown(spinButtonOf(*s)); });
}

bool FieldBinder::eventFilter(QObject* watched, QEvent* event) {
  const Form::Id id = idOf(watched);
  if (id == Form::kNoField) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
      if (!movedInsideWindow(static_cast<QFocusEvent*>(event))) break;
      const bool in = event->type() == QEvent::FocusIn;
      if (qobject_cast<QCheckBox*>(watched)) {
        break;  // the focus changes nothing a box holds
      } else if (in) {
        form_.setEditing(id);
      } else {
        act(id, true, [&] { form_.userExit(id); });
        if (form_.editing() == id) form_.setEditing(Form::kNoField);
      }
      break;
    }
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
      // Undo and redo are the window's, not a line edit's own: they put back whole steps with
      // their colours.  The override is taken so that the key reaches this filter in a field too.
      auto* k = static_cast<QKeyEvent*>(event);
      const bool undo = k->matches(QKeySequence::Undo), redo = k->matches(QKeySequence::Redo);
      if (history_ && (undo || redo)) {
        if (event->type() == QEvent::ShortcutOverride) {
          event->accept();
        } else {
          undo ? history_->stack().undo() : history_->stack().redo();
        }
        return true;
      }
      if (event->type() == QEvent::ShortcutOverride) break;
      // Up and Down step a threshold like its step buttons.
      const int key = k->key();
      if (steppedBy(id) && (key == Qt::Key_Up || key == Qt::Key_Down)) {
        step(id, key == Qt::Key_Up);
        return true;
      }
      break;
    }
    case QEvent::Wheel: {
      // The wheel steps a threshold that has the focus, or under the pointer on its step pair;
      // elsewhere it scrolls the window as usual.
      auto* w = qobject_cast<QWidget*>(watched);
      if (!steppedBy(id) || !w || (!w->hasFocus() && !qobject_cast<SpinPair*>(w))) break;
      wheelRest_ += static_cast<QWheelEvent*>(event)->angleDelta().y();
      for (; wheelRest_ >= QWheelEvent::DefaultDeltasPerStep; wheelRest_ -= QWheelEvent::DefaultDeltasPerStep)
        step(id, true);
      for (; wheelRest_ <= -QWheelEvent::DefaultDeltasPerStep; wheelRest_ += QWheelEvent::DefaultDeltasPerStep)
        step(id, false);
      return true;
    }
    case QEvent::ToolTip:
      if (showWholeText(watched, static_cast<QHelpEvent*>(event))) return true;
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void FieldBinder::refresh(Form::Id id) {
  if (id < 0 || static_cast<std::size_t>(id) >= views_.size()) return;
  QObject* view = views_[static_cast<std::size_t>(id)];
  if (!view) return;
  const FieldState& s = form_.state(id);
  const FieldDef& d = Form::def(id);
  const QSignalBlocker block(view);

  if (auto* a = qobject_cast<QAction*>(view)) {
    a->setEnabled(s.enabled);
    a->setVisible(s.visible);
    return;
  }
  auto* w = qobject_cast<QWidget*>(view);
  if (!w) return;
  w->setEnabled(s.enabled);
  // A field made before its place in the window is a window of its own until it is laid out:
  // showing it then would map it on the screen (an X window of its own, for a moment).  It is
  // shown with its parent; only a hidden one is hidden now.  Dialogs are windows by design.
  if (w->isWindow() && d.kind != FieldKind::Container) {
    if (!s.visible) w->setVisible(false);
  } else if (w->isHidden() == s.visible) {
    w->setVisible(s.visible);
  }

  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    if (e->text() != s.text) {
      const ProgramText program(e);
      e->setText(s.text);
      if (!e->hasFocus()) e->setCursorPosition(0);  // a text set by the program shows its start
    }
    paint(e, QPalette::Base, s.colour, false);
    if (s.textColour != kDefaultColour) paintText(e, s.textColour);
  } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
    c->setChecked(s.checked);
    // The box is filled with the Base role and the button behind it and its caption with its
    // background role (Button, not Window): both carry the colour, so a red mark shows in the
    // box itself and along its caption, not only as a rim around the box.
    paint(c, c->backgroundRole(), s.colour, true);
    paint(c, QPalette::Base, s.colour, false);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    QLineEdit* e = c->lineEdit();
    const QSignalBlocker blockEdit(e);
    // Both are already equal after the user's own typing, so the cursor stays where it is.
    if (c->currentIndex() != s.index || c->currentText() != s.text) {
      const ProgramText program(e);
      if (c->currentIndex() != s.index) c->setCurrentIndex(s.index);
      if (c->currentText() != s.text) c->setEditText(s.text);
    }
    paint(c, QPalette::Base, s.colour, false);
    if (e) paint(e, QPalette::Base, s.colour, false);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    if (d.kind == FieldKind::Lamp) {
      paint(l, QPalette::Window, s.colour == kDefaultColour ? kFaceColour : s.colour, true);
    } else {
      if (l->text() != s.text) l->setText(s.text);
      paintText(l, s.textColour);
      if (s.colour != kDefaultColour) paint(l, QPalette::Window, s.colour, true);
    }
  } else if (auto* g = qobject_cast<QProgressBar*>(w)) {
    g->setValue(s.value);
  } else if (auto* b = qobject_cast<QStatusBar*>(w)) {
    if (auto* panel = b->findChild<QLabel*>(QStringLiteral("panel")))
      if (panel->text() != s.text) panel->setText(s.text);
  }
}

}  // namespace dovu::ui
