#pragma once
// Saving and loading the configuration file from the window: "Plik" -> "Zapis"/"Odczyt" and the
// two speed buttons.  The file format and its checks are storage/configfile.h; this only asks for
// the file name and reports.
#include <QString>

class QWidget;

namespace dovu {
class Form;
class Notifier;
}  // namespace dovu

namespace dovu::ui {

inline constexpr const char* kConfigFileFilter = "Plik konfiguracji DOVU (*.dvc)";

// Asks for a *.dvc file and loads it; false when cancelled or refused (the reasons were shown).
bool loadConfigFileInteractive(QWidget* parent, Form& form, Notifier& notifier);
// Takes the value of the field being edited, builds the file, asks for a name (default suffix
// dvc) and saves it atomically; false when cancelled or failed (a failure names its reason).
bool saveConfigFileInteractive(QWidget* parent, Form& form, Notifier& notifier);

// The same without the file dialogs.  After a load: beep and "Odczytano plik konfiguracji".  No
// message follows a successful save.
bool loadConfigFileFromPath(Form& form, Notifier& notifier, const QString& path);
bool saveConfigFileToPath(Form& form, Notifier& notifier, const QString& path);

}  // namespace dovu::ui
