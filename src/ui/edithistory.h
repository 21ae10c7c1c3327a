#pragma once
// Undo and redo of what the user did to the configuration in the window: edits of fields (typing
// into one field merges into one step) and file loads.  Each step keeps the values and colours of
// the configuration fields that it changed, before and after, and puts them back as a whole.
//
// A step is only true while nothing else has changed those fields: when the program changes a
// configuration field's value or colour outside a recorded step (a download, an upload turning the
// fields black), the history is cleared, so that an undo never puts back a value beside one the
// controller has since sent or received.
#include <QObject>
#include <functional>
#include <vector>

#include "ui/form.h"

class QMenu;
class QUndoStack;
class QWidget;

namespace dovu::ui {

class EditHistory : public QObject {
  Q_OBJECT
 public:
  explicit EditHistory(Form& form, QObject* parent = nullptr);
  ~EditHistory() override;

  // Runs a user action and records what it changed as one step named `text`.  A step that edits
  // the text of the same field as the step before it joins that step (field: kNoField never joins).
  void record(const QString& text, Form::Id field, const std::function<void()>& action);

  QUndoStack& stack() { return *stack_; }
  // The "Edycja" menu: "Cofnij" (Ctrl+Z) and "Ponów" (Ctrl+Shift+Z), each enabled while it can act.
  QMenu* createMenu(QWidget* parent);

 private:
  // The part of a field a step puts back.
  struct Shown {
    QString text;
    bool checked;
    int index;
    int value;
    Colour colour;
    bool operator==(const Shown&) const = default;
  };
  static Shown shownOf(const FieldState& s);
  void programChanged(int id);

  Form& form_;
  QUndoStack* stack_;
  std::vector<Form::Id> fields_;    // the configuration fields
  std::vector<Shown> shown_;        // every field as last seen, by id
  bool recording_ = false;
};

}  // namespace dovu::ui
