#pragma once
// "Kopie zapasowe": the configurations kept before each write to a controller, newest first, with
// their date, reason and summary; one's fields in words, and loading one into the window.
#include <QDialog>
#include <functional>
#include <vector>

#include "storage/backupstore.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace dovu::ui {

class BackupsDialog : public QDialog {
  Q_OBJECT
 public:
  // load: puts the backup file at a path into the window; compare: compares it with the window.
  BackupsDialog(BackupStore store, std::function<void(const QString& path)> load,
                std::function<void(const QString& path)> compare, QWidget* parent);

 private:
  const BackupEntry* selected() const;
  void showFields();
  void loadSelected();

  BackupStore store_;
  std::function<void(const QString&)> load_;
  std::function<void(const QString&)> compare_;
  std::vector<BackupEntry> entries_;
  QTableWidget* table_;
  QLabel* problem_;
  QPlainTextEdit* fields_;
  QPushButton* show_;
  QPushButton* loadButton_;
  QPushButton* compareButton_;
};

}  // namespace dovu::ui
