#pragma once
// Small widgets the form is built from: the up-and-down step pair, a drop-down list that reports
// the closing of its list, and the key filter of the text fields.
#include <QComboBox>
#include <QToolButton>
#include <QValidator>
#include <QWidget>

#include "model/form.h"

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

 signals:
  void closedUp();
};

// Typed and pasted text go through the same filter: the field's key filter, the Windows-1250
// character set and its length limit in those characters.
class FieldValidator : public QValidator {
 public:
  FieldValidator(const Form& form, Form::Id id, QObject* parent = nullptr)
      : QValidator(parent), form_(form), id_(id) {}
  State validate(QString& input, int& pos) const override;

 private:
  const Form& form_;
  Form::Id id_;
};

}  // namespace dovu::ui
