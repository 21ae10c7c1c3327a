#pragma once
// "Wykres": T1–T3, humidity, the AC and DC voltages and the GSM signal over time, from the status
// records the window's poll brings in.  The records of the last 24 hours are kept (a ring); the
// chart is redrawn at most once a second and only while it is shown, from at most kMaxPoints
// points a series.  "Zapisz CSV…" writes the records held; "Zapisuj na bieżąco" appends every
// record to a CSV file as it arrives.
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

#include "exchange/statuscsv.h"
#include "exchange/statushistory.h"

class QChart;
class QChartView;
class QCheckBox;
class QLineSeries;
class QMainWindow;
class QPushButton;

namespace dovu {
class Dispatcher;
class Notifier;
}  // namespace dovu

namespace dovu::ui {

class ChartPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kSeries = 7;       // T1, T2, T3, humidity, AC, DC, GSM
  static constexpr int kMaxPoints = 1800; // drawn per series; more records are thinned evenly
  static constexpr int kRedrawMs = 1000;

  explicit ChartPanel(Notifier& notifier, QWidget* parent = nullptr);
  ~ChartPanel() override;

  // A record received at `when`: kept, logged when the running log is on, drawn within a second.
  void addRecord(const QDateTime& when, const StatusRecord& record);
  // Redraws now (when due, and for tests and the benchmark).
  void redrawNow();

  const StatusHistory& history() const { return history_; }
  QChart* chart() const { return chart_; }
  QLineSeries* series(int i) const { return series_.at(static_cast<std::size_t>(i)); }
  QPushButton* saveButton() const { return save_; }
  QCheckBox* logBox() const { return log_; }
  int redraws() const { return redraws_; }

  // Writes the records held as CSV, atomically; false with the reason.
  bool saveCsv(const QString& path, QString* error) const;

  // The file names asked for by the two controls; by default file dialogs.  An empty name
  // cancels.
  std::function<QString()> askSavePath;
  std::function<QString()> askLogPath;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void scheduleRedraw();
  void saveClicked();
  void logToggled(bool on);

  Notifier& notifier_;
  StatusHistory history_;
  StatusCsvLog csvLog_;
  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  std::array<QLineSeries*, kSeries> series_{};
  QPushButton* save_ = nullptr;
  QCheckBox* log_ = nullptr;
  QTimer redrawTimer_;
  QElapsedTimer sinceRedraw_;
  bool dirty_ = false;
  int redraws_ = 0;
};

// The "Wykres" dock (hidden until asked for from the "Wykres" menu), fed by the dispatcher.
ChartPanel* addChartDock(QMainWindow& window, Dispatcher& dispatcher, Notifier& notifier);

}  // namespace dovu::ui
