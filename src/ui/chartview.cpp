#include "ui/chartview.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <optional>

#include "base/notifier.h"
#include "exchange/dispatcher.h"
#include "model/sensors.h"
#include "storage/checkedfile.h"

namespace dovu::ui {

namespace {

struct SeriesDef {
  const char* name;  // legend text with its unit
  bool rightAxis;    // volts and signal on the right, degrees and percent on the left
  std::optional<int> (*tenths)(const StatusRecord&);
  QRgb colour;       // each its own: the theme's palette repeats after five
};

constexpr SeriesDef kSeriesDefs[ChartPanel::kSeries] = {
    {"T1 [°C]", false, [](const StatusRecord& s) { return analogTemperatureTenths(s.t1Raw); }, 0xd62728},
    {"T2 [°C]", false, [](const StatusRecord& s) { return analogTemperatureTenths(s.t2Raw); }, 0xff7f0e},
    {"T3 [°C]", false, [](const StatusRecord& s) { return signedTenths(s.t3); }, 0x8c564b},
    {"Wilgotność [%]", false, [](const StatusRecord& s) { return humidityTenths(s.humidity); }, 0x1f77b4},
    {"EX [V]", true, [](const StatusRecord& s) { return std::optional<int>(s.exVolts); }, 0x9467bd},
    {"DC [V]", true, [](const StatusRecord& s) { return std::optional<int>(s.dcVolts); }, 0x2ca02c},
    {"Sygnał GSM [0–31]", true,
     [](const StatusRecord& s) { return s.rssi == 99 ? std::nullopt : std::optional<int>(s.rssi * 10); }, 0x7f7f7f},
};

// The CSV header row, in the columns of statusCsvRow().
const QString kCsvHeader =
    QStringLiteral("czas,T1 [°C],T2 [°C],T3 [°C],wilgotność [%],EX [V],DC [V],sygnał GSM [0-31]");

// Fits an axis to the points drawn on it, with a little room; a fixed range when it has none.
void fit(QValueAxis* axis, double lo, double hi, double emptyLo, double emptyHi) {
  if (lo > hi) {
    axis->setRange(emptyLo, emptyHi);
    return;
  }
  const double pad = std::max(1.0, (hi - lo) * 0.05);
  axis->setRange(std::floor(lo - pad), std::ceil(hi + pad));
  axis->applyNiceNumbers();
}

}  // namespace

ChartPanel::ChartPanel(Notifier& notifier, QWidget* parent) : QWidget(parent), notifier_(notifier) {
  setObjectName(QStringLiteral("PanelWykres"));
  setAccessibleName(QStringLiteral("Wykres odczytów"));
  chart_ = new QChart;
  chart_->setLocalizeNumbers(false);
  chart_->legend()->setAlignment(Qt::AlignBottom);
  auto* time = new QDateTimeAxis;
  time->setFormat(QStringLiteral("HH:mm:ss"));
  time->setTitleText(QStringLiteral("Czas"));
  auto* left = new QValueAxis;
  left->setTitleText(QStringLiteral("°C / %"));
  auto* right = new QValueAxis;
  right->setTitleText(QStringLiteral("V / sygnał GSM"));
  chart_->addAxis(time, Qt::AlignBottom);
  chart_->addAxis(left, Qt::AlignLeft);
  chart_->addAxis(right, Qt::AlignRight);
  for (int i = 0; i < kSeries; ++i) {
    auto* s = new QLineSeries;
    s->setName(QString::fromUtf8(kSeriesDefs[i].name));
    s->setColor(QColor::fromRgb(kSeriesDefs[i].colour));
    chart_->addSeries(s);
    s->attachAxis(time);
    s->attachAxis(kSeriesDefs[i].rightAxis ? right : left);
    series_[static_cast<std::size_t>(i)] = s;
  }
  // A click on a legend entry hides its series, another brings it back; the entry stays, dimmed.
  for (QLegendMarker* m : chart_->legend()->markers()) {
    connect(m, &QLegendMarker::clicked, this, [this, m] {
      m->series()->setVisible(!m->series()->isVisible());
      m->setVisible(true);
      QColor c = m->labelBrush().color();
      c.setAlphaF(m->series()->isVisible() ? 1.0 : 0.4);
      m->setLabelBrush(c);
      redrawNow();
    });
  }
  view_ = new QChartView(chart_);
  view_->setObjectName(QStringLiteral("WidokWykresu"));
  view_->setAccessibleName(QStringLiteral("Wykres odczytów czujników"));
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setMinimumHeight(220);

  save_ = new QPushButton(QStringLiteral("Zapisz CSV…"));
  save_->setObjectName(QStringLiteral("ButtonZapiszCSV"));
  save_->setAccessibleName(QStringLiteral("Zapisz odczyty do pliku CSV"));
  log_ = new QCheckBox(QStringLiteral("Zapisuj na bieżąco"));
  log_->setObjectName(QStringLiteral("BoxZapisujCSV"));
  log_->setAccessibleName(QStringLiteral("Zapisuj każdy odczyt do pliku CSV"));
  auto* controls = new QHBoxLayout;
  controls->addWidget(save_);
  controls->addWidget(log_);
  controls->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(controls);
  layout->addWidget(view_, 1);

  askSavePath = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Zapisz CSV"), QDir::homePath(),
                                        QStringLiteral("Plik CSV (*.csv)"));
  };
  askLogPath = [this] {
    QFileDialog dialog(this, QStringLiteral("Zapisuj na bieżąco"), QDir::homePath(), QStringLiteral("Plik CSV (*.csv)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);  // an existing log is appended to
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().constFirst()
                                                                                  : QString();
  };
  connect(save_, &QPushButton::clicked, this, &ChartPanel::saveClicked);
  connect(log_, &QCheckBox::toggled, this, &ChartPanel::logToggled);

  redrawTimer_.setSingleShot(true);
  connect(&redrawTimer_, &QTimer::timeout, this, &ChartPanel::redrawNow);
  sinceRedraw_.start();
}

ChartPanel::~ChartPanel() = default;

void ChartPanel::addRecord(const QDateTime& when, const StatusRecord& record) {
  history_.add(when.toMSecsSinceEpoch(), record);
  if (csvLog_.isOpen()) {
    QString why;
    if (!csvLog_.append(when, record, &why)) {
      const QSignalBlocker quiet(log_);
      log_->setChecked(false);
      notifier_.message(MessageKind::Error, QStringLiteral("Zapis na bieżąco przerwany"), why);
    }
  }
  dirty_ = true;
  scheduleRedraw();
}

void ChartPanel::scheduleRedraw() {
  // Hidden: nothing to draw until shown.  Shown: at most one redraw a second.
  if (!dirty_ || !isVisible() || redrawTimer_.isActive()) return;
  redrawTimer_.start(static_cast<int>(std::clamp<qint64>(kRedrawMs - sinceRedraw_.elapsed(), 0, kRedrawMs)));
}

void ChartPanel::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  scheduleRedraw();
}

void ChartPanel::redrawNow() {
  redrawTimer_.stop();
  dirty_ = false;
  sinceRedraw_.restart();
  ++redraws_;
  const auto& entries = history_.entries();
  const std::size_t n = entries.size();
  const std::size_t step = std::max<std::size_t>(1, (n + kMaxPoints - 1) / kMaxPoints);
  double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
  for (int i = 0; i < kSeries; ++i) {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(std::min<std::size_t>(n, kMaxPoints + 1)));
    const SeriesDef& d = kSeriesDefs[i];
    const bool shown = series_[static_cast<std::size_t>(i)]->isVisible();
    for (std::size_t k = 0; k < n; k = (k + step < n || k == n - 1) ? k + step : n - 1) {
      const auto& e = entries[k];
      if (const auto v = d.tenths(e.record)) {
        const double y = *v / 10.0;
        points.append(QPointF(static_cast<double>(e.msecs), y));
        if (shown) {
          lo[d.rightAxis] = std::min(lo[d.rightAxis], y);
          hi[d.rightAxis] = std::max(hi[d.rightAxis], y);
        }
      }
    }
    series_[static_cast<std::size_t>(i)]->replace(points);
  }
  const auto axes = chart_->axes();
  for (QAbstractAxis* a : axes) {
    if (auto* t = qobject_cast<QDateTimeAxis*>(a)) {
      if (n) {
        const qint64 first = entries.front().msecs, last = std::max(entries.back().msecs, first + 1000);
        t->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
        t->setFormat(last - first > 20LL * 3600 * 1000 ? QStringLiteral("dd.MM HH:mm") : QStringLiteral("HH:mm:ss"));
      }
    } else if (auto* v = qobject_cast<QValueAxis*>(a)) {
      const bool right = a->alignment() == Qt::AlignRight;
      fit(v, lo[right], hi[right], 0, right ? 31 : 40);
    }
  }
}

bool ChartPanel::saveCsv(const QString& path, QString* error) const {
  QByteArray csv = kCsvHeader.toUtf8() + '\n';
  for (const auto& e : history_.entries())
    csv += statusCsvRow(QDateTime::fromMSecsSinceEpoch(e.msecs), e.record).toUtf8() + '\n';
  return saveFileAtomically(path, Bytes(csv.constData(), static_cast<std::size_t>(csv.size())), error);
}

void ChartPanel::saveClicked() {
  const QString path = askSavePath ? askSavePath() : QString();
  if (path.isEmpty()) return;
  QString why;
  if (!saveCsv(path, &why)) notifier_.message(MessageKind::Error, QStringLiteral("Nie zapisano pliku CSV"), why);
}

void ChartPanel::logToggled(bool on) {
  if (!on) {
    csvLog_.close();
    return;
  }
  const QString path = askLogPath ? askLogPath() : QString();
  QString why;
  if (!path.isEmpty() && csvLog_.open(path, kCsvHeader, &why)) return;
  const QSignalBlocker quiet(log_);
  log_->setChecked(false);
  if (!path.isEmpty()) notifier_.message(MessageKind::Error, QStringLiteral("Nie można zapisywać pliku CSV"), why);
}

ChartPanel* addChartDock(QMainWindow& window, Dispatcher& dispatcher, Notifier& notifier) {
  auto* dock = new QDockWidget(QStringLiteral("Wykres"), &window);
  dock->setObjectName(QStringLiteral("DockWykres"));
  dock->setAccessibleName(QStringLiteral("Wykres"));
  auto* panel = new ChartPanel(notifier, dock);
  dock->setWidget(panel);
  window.addDockWidget(Qt::BottomDockWidgetArea, dock);
  // The title bar's buttons describe themselves in English even with Qt's Polish translations.
  for (auto* b : dock->findChildren<QAbstractButton*>()) {
    const bool close = b->objectName() == QLatin1String("qt_dockwidget_closebutton");
    const bool detach = b->objectName() == QLatin1String("qt_dockwidget_floatbutton");
    if (!close && !detach) continue;
    b->setToolTip(close ? QStringLiteral("Zamknij wykres") : QStringLiteral("Odłącz lub przyłącz wykres"));
    b->setAccessibleName(b->toolTip());
    b->setAccessibleDescription(close ? QStringLiteral("Zamyka panel wykresu")
                                      : QStringLiteral("Odłącza panel wykresu od okna lub przyłącza go z powrotem"));
  }
  dock->hide();
  QMenu* menu = window.menuBar()->addMenu(QStringLiteral("&Wykres"));
  menu->setObjectName(QStringLiteral("Wykres"));
  QAction* toggle = dock->toggleViewAction();
  toggle->setText(QStringLiteral("&Pokaż wykres"));
  toggle->setObjectName(QStringLiteral("PokazWykres1"));
  menu->addAction(toggle);
  dispatcher.addStatusListener([panel](const StatusRecord& r) { panel->addRecord(QDateTime::currentDateTime(), r); });
  return panel;
}

}  // namespace dovu::ui
