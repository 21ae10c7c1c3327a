#include "ui/comparedialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "model/params.h"
#include "ui/wording.h"

namespace dovu::ui {

CompareDialog::CompareDialog(const QString& title, const QString& otherSide, const ConfigValues& window,
                             const ConfigValues& other, const QString& note,
                             std::function<void(std::vector<std::size_t>)> send, QWidget* parent)
    : QDialog(parent), rows_(diffConfigs(window, other, quotedText, polishConfigWords())),
      send_(std::move(send)) {
  setObjectName(QStringLiteral("Porownanie"));
  setWindowTitle(title);
  setAccessibleName(title);
  auto* layout = new QVBoxLayout(this);
  auto* summary = new QLabel(rows_.empty() ? QStringLiteral("Brak różnic: okno i druga strona mają te same wartości.")
                                           : QStringLiteral("Różnych pól: %1.  %2").arg(rows_.size()).arg(note));
  summary->setObjectName(QStringLiteral("PodsumowanieRoznic"));
  summary->setAccessibleName(QStringLiteral("Podsumowanie porównania"));
  summary->setWordWrap(true);
  layout->addWidget(summary);

  table_ = new QTableWidget(static_cast<int>(rows_.size()), 3);
  table_->setObjectName(QStringLiteral("TabelaRoznic"));
  table_->setAccessibleName(QStringLiteral("Pola, które się różnią"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Pole"), QStringLiteral("W oknie"), otherSide});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setTabKeyNavigation(false);  // Tab leaves the table for the buttons; arrows move in it
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < table_->rowCount(); ++row) {
    const FieldDifference& d = rows_[static_cast<std::size_t>(row)];
    auto* name = new QTableWidgetItem(QStringLiteral("%1 (%2)").arg(d.caption, d.name));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    name->setCheckState(Qt::Unchecked);
    table_->setItem(row, 0, name);
    table_->setItem(row, 1, new QTableWidgetItem(d.a));
    table_->setItem(row, 2, new QTableWidgetItem(d.b));
  }
  table_->resizeColumnsToContents();
  layout->addWidget(table_, 1);

  travel_ = new QLabel;
  travel_->setObjectName(QStringLiteral("PolaZParametrem"));
  travel_->setAccessibleName(QStringLiteral("Pola wysyłane razem z zaznaczonymi"));
  travel_->setWordWrap(true);
  layout->addWidget(travel_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  sendButton_ = buttons->addButton(QStringLiteral("&Wyślij zaznaczone"), QDialogButtonBox::AcceptRole);
  sendButton_->setObjectName(QStringLiteral("WyslijZaznaczone"));
  QPushButton* close = buttons->button(QDialogButtonBox::Close);
  close->setText(QStringLiteral("&Zamknij"));
  close->setObjectName(QStringLiteral("ZamknijPorownanie"));
  for (QPushButton* b : {sendButton_, close}) b->setAccessibleName(b->text().remove(QLatin1Char('&')));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(sendButton_, &QPushButton::clicked, this, [this] {
    const auto params = chosenParams();
    if (params.empty()) return;
    accept();
    send_(params);
  });
  connect(table_, &QTableWidget::itemChanged, this, &CompareDialog::update);
  update();
  resize(820, 520);
}

QStringList CompareDialog::checkedFields() const {
  QStringList checked;
  for (int row = 0; row < table_->rowCount(); ++row)
    if (table_->item(row, 0)->checkState() == Qt::Checked) checked << rows_[static_cast<std::size_t>(row)].field;
  return checked;
}

std::vector<std::size_t> CompareDialog::chosenParams() const {
  // A checked field the controller does not keep as a parameter (the password) sends nothing;
  // update() says so.
  QStringList kept;
  for (const QString& f : checkedFields())
    if (paramsHolding({f}, nullptr)) kept << f;
  return paramsHolding(kept, nullptr).value_or(std::vector<std::size_t>{});
}

void CompareDialog::update() {
  const auto params = chosenParams();
  sendButton_->setEnabled(!params.empty());
  // The fields of the chosen parameters that differ but were not checked go too: a parameter is
  // sent whole.
  const QStringList checked = checkedFields();
  std::set<QString> travelling;
  for (std::size_t p : params)
    for (const QString& f : fieldsOfParam(p)) travelling.insert(f);
  QStringList alongside, notSent;
  for (const FieldDifference& d : rows_) {
    if (travelling.count(d.field) && !checked.contains(d.field) && !alongside.contains(d.caption)) alongside << d.caption;
    if (checked.contains(d.field) && !paramsHolding({d.field}, nullptr) && !notSent.contains(d.caption)) notSent << d.caption;
  }
  QString text;
  if (params.empty() && notSent.isEmpty())
    text = QStringLiteral("Zaznacz pola do wysłania.");
  else if (params.empty())
    text.clear();
  else if (alongside.isEmpty())
    text = QStringLiteral("Wysłane zostaną parametry zaznaczonych pól (%1).").arg(params.size());
  else
    text = QStringLiteral("Razem z zaznaczonymi zostaną wysłane też (ten sam parametr): %1.").arg(alongside.join(QStringLiteral(", ")));
  if (!notSent.isEmpty())
    text += (text.isEmpty() ? QString() : QStringLiteral(" ")) +
            QStringLiteral("Nie zostanie wysłane: %1 — sterownik nie przyjmuje tego pola z konfiguracją "
                           "(hasło zmienia przycisk „Zmiana hasła”).")
                .arg(notSent.join(QStringLiteral(", ")));
  travel_->setText(text);
}

}  // namespace dovu::ui
