// Run from the installed program's folder (beside qt.conf): prints the standard buttons of Qt's
// own dialogs as the window's application shows them, and ends with status 0 when they read
// Polish, that is when Qt's translations were found where the install put them.
#include <QDialogButtonBox>
#include <QPushButton>
#include <QStringList>
#include <cstdio>

#include "ui/application.h"

int main(int argc, char** argv) {
  dovu::ui::Application app(argc, argv);
  QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Yes | QDialogButtonBox::No |
                       QDialogButtonBox::Close);
  QStringList shown;
  for (const auto b : {QDialogButtonBox::Cancel, QDialogButtonBox::Yes, QDialogButtonBox::No, QDialogButtonBox::Close})
    shown << box.button(b)->text().remove(QLatin1Char('&'));
  std::printf("%s\n", shown.join(QLatin1Char(' ')).toUtf8().constData());
  return shown == QStringList{QStringLiteral("Anuluj"), QStringLiteral("Tak"), QStringLiteral("Nie"), QStringLiteral("Zamknij")} ? 0 : 1;
}
