#pragma once
// Small widgets the form is built from: the up-and-down step pair, a drop-down list that reports
// the closing of its list, and the key filter of the text fields.
#include <QCheckBox>
#include <QComboBox>
#include <QToolButton>
#include <QValidator>
#include <QWidget>
#include <vector>

#include "ui/form.h"

namespace dovu::ui {

// SpinButtonN: an up half above a down half; held down, a half repeats like a spin control.
class SpinPair : public QWidget {
  Q_OBJECT
 public:
  explicit SpinPair(QWidget* parent = nullptr);
  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

 signals:
  void up();
  void down();

 private:
  QToolButton* up_;
  QToolButton* down_;
};

// A drop-down list that reports when its list has closed, after the pick (if any) has been made.
class ChoiceBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void hidePopup() override;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  // A list without a selection shows its first item ("Brak"): the keys and the wheel step on
  // from that item, as the user sees it, and a step that goes nowhere leaves no selection.
  template <class Step>
  void stepFromShownItem(Step step);

 signals:
  void closedUp();
};

// Makes a grid of check boxes one Tab stop: only the cell last used takes the Tab focus, the
// arrow keys move between the enabled cells and Space toggles the focused one.
class CheckGrid : public QObject {
  Q_OBJECT
 public:
  // cells[row][column]; every row has the same number of columns.
  CheckGrid(std::vector<std::vector<QCheckBox*>> cells, QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void makeCurrent(QCheckBox* cell);
  std::vector<std::vector<QCheckBox*>> cells_;
  QCheckBox* current_ = nullptr;
};

// The key filter and length limit of a text field (Form::filterEdit), for typed and pasted text
// alike.  It compares each new text with the one it last let through, so only what the user
// inserts is filtered; a refused insertion is Invalid, and the line edit then undoes it, selection
// included.  A text the program sets is shown past the filter and becomes the new starting
// point through shown().
class FieldValidator : public QValidator {
 public:
  FieldValidator(const Form& form, Form::Id id, QObject* parent = nullptr)
      : QValidator(parent), form_(form), id_(id) {}
  State validate(QString& input, int& pos) const override;
  // The line edit now shows `text`, set by the program with this validator taken off.
  void shown(const QString& text) const { last_ = text; }

 private:
  const Form& form_;
  Form::Id id_;
  mutable QString last_;  // the text the line edit holds, as far as this validator knows
};

}  // namespace dovu::ui
