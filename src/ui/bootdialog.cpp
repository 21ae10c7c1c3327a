#include "ui/bootdialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QProgressBar>
#include <QPushButton>

#include "base/notifier.h"
#include "link/link.h"
#include "session/session.h"

namespace dovu::ui {

namespace {
template <typename W>
W* named(W* w, const char* name, const QString& accessible) {
  w->setObjectName(QString::fromLatin1(name));
  w->setAccessibleName(accessible);
  return w;
}
}  // namespace

FirmwareDialog::FirmwareDialog(Session& session, Link& link, Notifier& notifier, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      session_(session),
      link_(link),
      notifier_(notifier),
      update_(std::make_shared<FirmwareUpdate>(link, &session)) {
  named(this, "Fboot", QStringLiteral("Aktualizacja firmware sterownika"));
  setWindowTitle(QStringLiteral("Aktualizacja firmware sterownika"));

  label1_ = named(new QLabel(QStringLiteral("Aktualizacja firmware"), this), "Label1",
                  QStringLiteral("Aktualizacja firmware"));
  QFont big = label1_->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.3);
  label1_->setFont(big);
  button1_ = named(new QPushButton(QStringLiteral("Plik"), this), "Button1", QStringLiteral("Plik"));
  buttonStart_ = named(new QPushButton(QStringLiteral("START"), this), "ButtonStart", QStringLiteral("START"));
  buttonStart_->setEnabled(false);
  buttonStart_->setAutoDefault(false);
  button1_->setAutoDefault(false);
  labelNazwaPliku_ = named(new QLabel(this), "LabelNazwaPliku", QStringLiteral("Plik firmware"));
  labelNazwaPliku_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  labelNazwaPliku_->setMinimumWidth(labelNazwaPliku_->fontMetrics().averageCharWidth() * 48);
  barBoot_ = named(new QProgressBar(this), "BarBoot", QStringLiteral("Postęp aktualizacji"));
  barBoot_->setRange(0, 100);
  barBoot_->setValue(0);
  barBoot_->setVisible(false);
  // Refused while blocks are being sent, as Esc is (done()).
  auto* close = named(new QPushButton(QStringLiteral("Zamknij"), this), "ButtonZamknij", QStringLiteral("Zamknij"));
  close->setAutoDefault(false);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* grid = new QGridLayout(this);
  grid->addWidget(label1_, 0, 0, 1, 2, Qt::AlignHCenter);
  grid->addWidget(button1_, 1, 0);
  grid->addWidget(buttonStart_, 1, 1);
  grid->addWidget(labelNazwaPliku_, 2, 0, 1, 2);
  grid->addWidget(barBoot_, 3, 0, 1, 2);
  grid->addWidget(close, 4, 1, Qt::AlignRight);
  grid->setSizeConstraint(QLayout::SetFixedSize);  // sized to its contents

  connect(button1_, &QPushButton::clicked, this, &FirmwareDialog::button1Click);
  connect(buttonStart_, &QPushButton::clicked, this, [this] {
    // The transfer is an exchange like any other: it starts once the line is idle.
    QPointer<FirmwareDialog> self(this);
    link_.submit([self] {
      if (self && self->isVisible()) self->buttonStartClick();
    });
  });
  // Shown once the transfer's step has returned, never from inside it.
  update_->onNotice = [this](const Notice& n) {
    QMetaObject::invokeMethod(this, [this, n] { notifier_.show(n); }, Qt::QueuedConnection);
  };
  update_->onProgress = [this](int v) {
    barBoot_->setVisible(true);
    barBoot_->setValue(v);
  };

  // The waits count the window timer's ticks; the live-state poll stays off while this is open.
  session_.dialogOpened();
  link_.timer().start();
}

FirmwareDialog::~FirmwareDialog() {
  update_->onProgress = nullptr;
  update_->onFinished = nullptr;
  update_->onNotice = nullptr;
  update_->stop();
  if (!closed_) closed();
}

void FirmwareDialog::closed() {
  closed_ = true;
  session_.dialogClosed();
}

void FirmwareDialog::button1Click() {
  if (update_->running()) return;
  QString path;
  if (fileChooser) {
    path = fileChooser();
  } else {
    path = QFileDialog::getOpenFileName(this, QStringLiteral("Plik"), QString(),
                                        QStringLiteral("Plik firmware DOVU (*.dvf)"));
  }
  if (path.isEmpty()) return;
  chooseFile(path);
}

bool FirmwareDialog::chooseFile(const QString& path) {
  if (update_->running()) return false;
  labelNazwaPliku_->setText(path);
  // A file that fails the check replaces the one chosen before: START never sends it.
  Notices why;
  file_ = readFirmwareFile(path, &why);
  notifier_.show(why);
  buttonStart_->setEnabled(file_.has_value());
  return file_.has_value();
}

void FirmwareDialog::buttonStartClick() {
  if (update_->running() || closing_ || !file_) return;
  QPointer<FirmwareDialog> self(this);
  update_->onFinished = [self](FirmwareUpdate::Result result) {
    if (!self) return;
    self->lastResult_ = result;
    // The bar stays a moment at its last value before the dialog closes.
    self->closing_ = true;
    QTimer::singleShot(kCloseDelayMs, self, [self, result] {
      self->closing_ = false;
      self->QDialog::done(result == FirmwareUpdate::Result::Done ? Accepted : Rejected);
      if (!self->closed_) self->closed();
    });
  };
  update_->start(*file_);
}

void FirmwareDialog::done(int result) {
  // Esc and the title bar's close do nothing while blocks are being sent: abandoning the transfer
  // would leave the controller in its bootloader with part of an image.  The transfer ends by
  // itself within seconds when the controller stops answering.
  if (update_->running() || closing_) return;
  QDialog::done(result);
  if (!closed_) closed();
}

}  // namespace dovu::ui
