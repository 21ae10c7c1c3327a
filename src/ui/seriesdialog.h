#pragma once
// "Seria sterowników": a template (the window's configuration, or a file) and a site table
// programmed onto the controllers on several ports at once, each read back and compared.  The
// sites with their values and the ports come first; then a row per site with its progress, result
// and its configuration sheet.  The main window's own connection is left alone.
#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "exchange/provision.h"
#include "storage/sitetable.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace dovu {
class Form;
class PortWatcher;
}

namespace dovu::ui {

// A table fault in the window's words.
QString polishSiteFault(const SiteFault& fault);

class SeriesDialog : public QDialog {
  Q_OBJECT
 public:
  // window: the configuration that serves as the template unless a file is chosen.  ownPort: the
  // port the main window has open (empty when none), which the series never uses.
  SeriesDialog(const Form& window, const QString& ownPort, QWidget* parent);
  ~SeriesDialog() override;
  // Where the sheets of verified sites go.
  static QString sheetFolder();

 protected:
  void reject() override;

 private:
  void chooseTemplate();
  void chooseTable();
  void loadTable();
  void listPorts();
  void start();
  void siteFinished(int site);
  void seriesFinished();
  void setRow(int row, int column, const QString& text);
  std::optional<Configuration> templateConfig(QString* why) const;

  Configuration window_;
  QString ownPort_;
  QLineEdit* templatePath_;
  QLineEdit* tablePath_;
  QLabel* problem_;
  QTableWidget* sites_;
  QListWidget* ports_;
  QLabel* summary_;
  QPushButton* startButton_;
  QPushButton* stopButton_;
  QPushButton* closeButton_;
  std::vector<Site> table_;
  std::unique_ptr<BackupStore> backups_;
  std::unique_ptr<Provisioner> series_;
  std::unique_ptr<PortWatcher> watcher_;
  std::vector<QString> sheets_;  // per site: the sheet's path once written
  bool closeWhenDone_ = false;
};

}  // namespace dovu::ui
