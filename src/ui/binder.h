#pragma once
// Binds widgets to the entries of the form by name.  A widget is only a view: Form::changed(id)
// redraws it from the form's state (with its signals blocked, so a program change never looks
// like a user's edit), and what the user does goes back to the form's user actions.
#include <QObject>
#include <QPalette>
#include <string_view>
#include <vector>

#include "ui/form.h"

class QAction;
class QComboBox;
class QLineEdit;
class QWidget;

namespace dovu::ui {

class EditHistory;

class FieldBinder : public QObject {
  Q_OBJECT
 public:
  explicit FieldBinder(Form& form, QObject* parent = nullptr);

  // Creates the usual widget for the entry's kind, named after it, and binds it.
  QWidget* create(std::string_view name, QWidget* parent = nullptr);
  // Binds a widget made elsewhere (tool buttons, spin pairs, dialogs, containers).
  void bind(QWidget* w, std::string_view name);
  void bind(QAction* a, std::string_view name);

  QObject* view(std::string_view name) const;
  Form& form() { return form_; }

  // From now on every user action is recorded in the history as an undoable step, and Ctrl+Z /
  // Ctrl+Shift+Z in a field undo and redo those steps rather than the field's own typing.
  void setHistory(EditHistory* history) { history_ = history; }

  // Redraws one view from the form's state.
  void refresh(Form::Id id);

  // The colour a form colour stands for in this window (platform colours come from the palette).
  static QColor toColor(Colour c, QPalette::ColorRole platformRole);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Form::Id idOrThrow(std::string_view name) const;
  void attach(QObject* view, Form::Id id);
  // Hands every change of the line edit's text that the program did not make to the form.
  void takeEdits(QLineEdit* e, Form::Id id);
  // The same for the line edit of a list, where a change may also be a pick.
  void takeListEdits(QComboBox* c, QLineEdit* e, Form::Id id);
  // Runs a user action on the field, recorded in the history when there is one.  `joins`: a step
  // that may merge with the step before it on the same field (typing, stepping).
  template <class F>
  void act(Form::Id id, bool joins, F&& f);
  // One press of the step button of a threshold field or step pair.
  void step(Form::Id id, bool up);

  Form& form_;
  std::vector<QObject*> views_;  // by id
  int wheelRest_ = 0;            // wheel turn not yet worth a step
  EditHistory* history_ = nullptr;
};

}  // namespace dovu::ui
