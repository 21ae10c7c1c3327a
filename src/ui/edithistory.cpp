#include "ui/edithistory.h"

#include <QAction>
#include <QMenu>
#include <QUndoStack>
#include <algorithm>

namespace dovu::ui {

namespace {

// The fields a configuration file or the controller sets: what the user edits.  Combo_operator
// follows Edit_operator and has no marker of its own.
bool isConfiguration(const FieldDef& d) { return d.marker != Marker::None || d.kind == FieldKind::Choice; }

class Step : public QUndoCommand {
 public:
  Step(Form& form, const QString& text, Form::Id field, Form::Values before, Form::Values after, bool& replaying)
      : QUndoCommand(text),
        form_(form),
        field_(field),
        before_(std::move(before)),
        after_(std::move(after)),
        replaying_(replaying) {}

  int id() const override { return field_ == Form::kNoField ? -1 : 1; }
  bool mergeWith(const QUndoCommand* other) override {
    const auto* o = static_cast<const Step*>(other);
    if (o->field_ != field_) return false;
    // Fields the later edit changed beyond the first keep their earliest value.
    for (const auto& [id, st] : o->before_.fields)
      if (!contains(before_, id)) before_.fields.emplace_back(id, st);
    for (const auto& f : o->after_.fields) {
      auto it = std::find_if(after_.fields.begin(), after_.fields.end(), [&](const auto& a) { return a.first == f.first; });
      if (it == after_.fields.end()) after_.fields.push_back(f);
      else it->second = f.second;
    }
    after_.sensors = o->after_.sensors;
    after_.configurationReceived = o->after_.configurationReceived;
    return true;
  }
  void undo() override { put(before_); }
  void redo() override {
    // The first redo is the push: the action has already run.
    if (done_) put(after_);
    done_ = true;
  }

 private:
  static bool contains(const Form::Values& v, Form::Id id) {
    return std::any_of(v.fields.begin(), v.fields.end(), [id](const auto& f) { return f.first == id; });
  }
  void put(const Form::Values& v) {
    replaying_ = true;
    form_.restore(v);
    replaying_ = false;
  }

  Form& form_;
  Form::Id field_;
  Form::Values before_, after_;
  bool& replaying_;
  bool done_ = false;
};

}  // namespace

EditHistory::EditHistory(Form& form, QObject* parent) : QObject(parent), form_(form), stack_(new QUndoStack(this)) {
  const auto& defs = Form::catalogue();
  shown_.reserve(defs.size());
  for (Form::Id id = 0; id < static_cast<Form::Id>(defs.size()); ++id) {
    if (isConfiguration(defs[static_cast<std::size_t>(id)])) fields_.push_back(id);
    shown_.push_back(shownOf(form_.state(id)));
  }
  connect(&form_, &Form::changed, this, &EditHistory::programChanged);
}

EditHistory::~EditHistory() = default;

QMenu* EditHistory::createMenu(QWidget* parent) {
  auto* menu = new QMenu(QStringLiteral("&Edycja"), parent);
  menu->setObjectName(QStringLiteral("Edycja"));
  auto add = [&](const char* name, const QString& text, QKeySequence::StandardKey key, void (QUndoStack::*act)(),
                 void (QUndoStack::*can)(bool), bool now) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    a->setShortcut(key);
    a->setEnabled(now);
    connect(a, &QAction::triggered, stack_, act);
    connect(stack_, can, a, &QAction::setEnabled);
  };
  add("Cofnij", QStringLiteral("&Cofnij"), QKeySequence::Undo, &QUndoStack::undo, &QUndoStack::canUndoChanged,
      stack_->canUndo());
  add("Ponow", QStringLiteral("&Ponów"), QKeySequence::Redo, &QUndoStack::redo, &QUndoStack::canRedoChanged,
      stack_->canRedo());
  return menu;
}

EditHistory::Shown EditHistory::shownOf(const FieldState& s) {
  return {s.text, s.checked, s.index, s.value, s.colour};
}

void EditHistory::programChanged(int id) {
  Shown now = shownOf(form_.state(id));
  Shown& was = shown_.at(static_cast<std::size_t>(id));
  if (now == was) return;  // enabled, visible or the font colour: nothing a step puts back
  was = std::move(now);
  if (!recording_ && isConfiguration(Form::def(id))) stack_->clear();
}

void EditHistory::record(const QString& text, Form::Id field, const std::function<void()>& action) {
  const Form::Values before = form_.values(fields_);
  recording_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{recording_};
  action();
  const Form::Values after = form_.values(fields_);
  Form::Values changedBefore{{}, before.sensors, before.configurationReceived};
  Form::Values changedAfter{{}, after.sensors, after.configurationReceived};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const FieldState& b = before.fields[i].second;
    const FieldState& a = after.fields[i].second;
    if (shownOf(b) == shownOf(a) && b.edited == a.edited) continue;
    changedBefore.fields.push_back(before.fields[i]);
    changedAfter.fields.push_back(after.fields[i]);
  }
  if (changedBefore.fields.empty() && before.sensors == after.sensors) return;
  // Pushing runs no action: the step is already done.  Its undo and redo count as recorded too.
  stack_->push(new Step(form_, text, field, std::move(changedBefore), std::move(changedAfter), recording_));
}

}  // namespace dovu::ui
