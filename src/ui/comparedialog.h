#pragma once
// "Porównanie": the fields that differ between the window and the controller, a file or a backup,
// each with a check box, in words as "dovu-cli show" prints them.  "Wyślij zaznaczone" sends the
// parameters that hold the chosen fields; the dialog names the fields that travel with them (a
// block goes whole).
#include <QDialog>
#include <functional>
#include <vector>

#include "storage/configdiff.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace dovu::ui {

class CompareDialog : public QDialog {
  Q_OBJECT
 public:
  // otherSide: the header of the other side's column ("W sterowniku", "W pliku"); note: what
  // "Wyślij zaznaczone" does, in a line; send: starts sending those parameters (indexes into the
  // parameter table, ascending).
  CompareDialog(const QString& title, const QString& otherSide, const ConfigValues& window, const ConfigValues& other,
                const QString& note, std::function<void(std::vector<std::size_t>)> send, QWidget* parent);

  // The parameters the checked rows need, ascending.
  std::vector<std::size_t> chosenParams() const;

 private:
  QStringList checkedFields() const;
  void update();

  std::vector<FieldDifference> rows_;
  std::function<void(std::vector<std::size_t>)> send_;
  QTableWidget* table_;
  QLabel* travel_;
  QPushButton* sendButton_;
};

}  // namespace dovu::ui
