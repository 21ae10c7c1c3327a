#include "ui/backupsdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/configtext.h"
#include "ui/wording.h"

namespace dovu::ui {

BackupsDialog::BackupsDialog(BackupStore store, std::function<void(const QString&)> load,
                             std::function<void(const QString&)> compare, QWidget* parent)
    : QDialog(parent), store_(std::move(store)), load_(std::move(load)), compare_(std::move(compare)) {
  setObjectName(QStringLiteral("KopieZapasowe"));
  setWindowTitle(QStringLiteral("Kopie zapasowe"));
  setAccessibleName(windowTitle());
  auto* layout = new QVBoxLayout(this);

  auto* where = new QLabel(QStringLiteral("Folder: %1").arg(QDir::toNativeSeparators(store_.folder())));
  where->setObjectName(QStringLiteral("FolderKopii"));
  where->setAccessibleName(QStringLiteral("Folder kopii zapasowych"));
  where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(where);
  problem_ = new QLabel;
  problem_->setObjectName(QStringLiteral("BladKopii"));
  problem_->setAccessibleName(QStringLiteral("Błąd odczytu kopii"));
  problem_->setWordWrap(true);
  problem_->hide();
  layout->addWidget(problem_);

  table_ = new QTableWidget(0, 3);
  table_->setObjectName(QStringLiteral("ListaKopii"));
  table_->setAccessibleName(QStringLiteral("Lista kopii zapasowych"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Data"), QStringLiteral("Powód"), QStringLiteral("Podsumowanie")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);  // Tab leaves the table for the buttons; arrows move in it
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_, 1);

  fields_ = new QPlainTextEdit;
  fields_->setObjectName(QStringLiteral("PolaKopii"));
  fields_->setAccessibleName(QStringLiteral("Pola kopii zapasowej"));
  fields_->setReadOnly(true);
  fields_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(fields_, 2);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  show_ = buttons->addButton(QStringLiteral("&Pokaż pola"), QDialogButtonBox::ActionRole);
  show_->setObjectName(QStringLiteral("PokazPola"));
  loadButton_ = buttons->addButton(QStringLiteral("&Wczytaj do okna"), QDialogButtonBox::ActionRole);
  loadButton_->setObjectName(QStringLiteral("WczytajKopie"));
  compareButton_ = buttons->addButton(QStringLiteral("P&orównaj z oknem"), QDialogButtonBox::ActionRole);
  compareButton_->setObjectName(QStringLiteral("PorownajKopie"));
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Zamknij"));
  buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("ZamknijKopie"));
  for (QPushButton* b : {show_, loadButton_, compareButton_, buttons->button(QDialogButtonBox::Close)})
    b->setAccessibleName(b->text().remove(QLatin1Char('&')));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(show_, &QPushButton::clicked, this, &BackupsDialog::showFields);
  connect(loadButton_, &QPushButton::clicked, this, &BackupsDialog::loadSelected);
  connect(compareButton_, &QPushButton::clicked, this, [this] {
    if (const BackupEntry* e = selected()) compare_(store_.pathOf(*e));
  });

  QString why;
  if (auto list = store_.list(&why)) {
    entries_ = std::move(*list);
  } else {
    problem_->setText(polishText(store_.lastProblem().cause) + QStringLiteral(": ") + polishReason(store_.lastProblem()));
    problem_->show();
  }
  table_->setRowCount(static_cast<int>(entries_.size()));
  for (int row = 0; row < table_->rowCount(); ++row) {
    const BackupEntry& e = entries_[static_cast<std::size_t>(row)];
    table_->setItem(row, 0, new QTableWidgetItem(e.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    table_->setItem(row, 1, new QTableWidgetItem(backupReasonPolish(e.reason)));
    table_->setItem(row, 2, new QTableWidgetItem(e.summary));
  }
  table_->resizeColumnsToContents();
  auto enable = [this] {
    show_->setEnabled(selected() != nullptr);
    loadButton_->setEnabled(selected() != nullptr);
    compareButton_->setEnabled(selected() != nullptr);
  };
  connect(table_, &QTableWidget::itemSelectionChanged, this, enable);
  // The first row is chosen at once, so that the buttons act without a mouse.
  if (table_->rowCount() > 0) table_->selectRow(0);
  enable();
  resize(720, 520);
}

const BackupEntry* BackupsDialog::selected() const {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  if (items.isEmpty()) return nullptr;
  const int row = items.first()->row();
  return row >= 0 && row < static_cast<int>(entries_.size()) ? &entries_[static_cast<std::size_t>(row)] : nullptr;
}

void BackupsDialog::showFields() {
  const BackupEntry* e = selected();
  if (!e) return;
  QString why;
  const auto file = readWholeFile(store_.pathOf(*e), &why);
  const auto values = file ? parseConfigFile(*file, &why) : std::nullopt;
  if (!values) {
    fields_->setPlainText(QStringLiteral("Nie można odczytać kopii %1: %2").arg(QDir::toNativeSeparators(store_.pathOf(*e)), why));
    return;
  }
  fields_->setPlainText(QStringLiteral("Port: %1, wersja firmware: %2\n\n").arg(e->port, e->firmware) +
                        describeConfig(*values, quotedText, polishConfigWords()).join(QLatin1Char('\n')));
}

void BackupsDialog::loadSelected() {
  if (const BackupEntry* e = selected()) load_(store_.pathOf(*e));
}

}  // namespace dovu::ui
