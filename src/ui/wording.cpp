#include "ui/wording.h"

#include <QStringList>

#include "base/plural.h"
#include "ui/form.h"
#include "ui/formview.h"

namespace dovu::ui {

QString polishText(Cause cause) {
  switch (cause) {
    case Cause::None: return {};
    case Cause::NoAnswer: return QStringLiteral("Brak odpowiedzi ze sterownika DOVU");
    case Cause::WrongPassword: return QStringLiteral("Błędne hasło");
    case Cause::LoggedOut: return QStringLiteral("Wylogowano ze sterownika DOVU");
    case Cause::PasswordChanged: return QStringLiteral("Hasło zmienione");
    case Cause::PortUnavailable: return QStringLiteral("Port COM niedostępny");
    case Cause::DownloadInterrupted: return QStringLiteral("Odczyt przerwany: okno pokazuje konfigurację sprzed odczytu");
    case Cause::UploadInterrupted: return QStringLiteral("Zapis przerwany: sterownik ma teraz częściowo nową konfigurację");
    case Cause::NoisyLine: return QStringLiteral("Zakłócenia na linii: kolejne odczyty parametru się różnią");
    case Cause::TextTooLong: return QStringLiteral("Tekst dłuższy, niż przyjmuje sterownik: nic nie wysłano");
    case Cause::KeepPowered: return QStringLiteral("NIE WYŁĄCZAJ STEROWNIKA DOVU Z ZASILANIA");
    case Cause::FlashFailed: return QStringLiteral("Brak odpowiedzi z DOVU, aktualizacja nieudana");
    case Cause::FlashPortFailed: return QStringLiteral("Port COM niedostępny, aktualizacja nieudana");
    case Cause::FlashDone: return QStringLiteral("Aktualizacja zakończona");
    case Cause::BadFormat: return QStringLiteral("Zły format pliku");
    case Cause::BadCrc: return QStringLiteral("Błąd CRC pliku konfiguracji");
    case Cause::BadFirmwareCrc: return QStringLiteral("Błąd CRC pliku firmware");
    case Cause::CannotRead: return QStringLiteral("Nie można odczytać pliku");
    case Cause::FirmwareTooLarge: return QStringLiteral("Plik firmware jest za duży");
    case Cause::FirmwareEmpty: return QStringLiteral("Plik firmware nie zawiera programu");
    case Cause::ConfigNotSaved: return QStringLiteral("Nie zapisano pliku konfiguracji");
    case Cause::FileTooLarge: return QStringLiteral("plik jest za duży");
    case Cause::PortNotFound: return QStringLiteral("port nie istnieje");
    case Cause::PortDeviceLost: return QStringLiteral("urządzenie odłączone");
    case Cause::PortPermissionDenied: return QStringLiteral("brak uprawnień do portu");
    case Cause::PortInUse: return QStringLiteral("port jest używany przez inny program");
    case Cause::PortInUseOrDenied: return QStringLiteral("port jest używany przez inny program lub brak uprawnień");
    case Cause::PortWriteTimedOut: return QStringLiteral("upłynął czas zapisu do portu");
    case Cause::PortNotSerial: return QStringLiteral("to nie jest port szeregowy");
    case Cause::PortSettingsRefused: return QStringLiteral("port nie przyjmuje ustawień linii");
    case Cause::PortNotOpen: return QStringLiteral("port nie jest otwarty");
    case Cause::PortOpenFailed: return QStringLiteral("nie można otworzyć portu");
    case Cause::PortWriteFailed: return QStringLiteral("zapis do portu nieudany");
    case Cause::PortReadFailed: return QStringLiteral("odczyt z portu nieudany");
    case Cause::PortSettingsFailed: return QStringLiteral("nie można ustawić parametrów linii");
    case Cause::PortFailed: return QStringLiteral("błąd portu");
    case Cause::BackupNotSaved: return QStringLiteral("Nie zapisano kopii zapasowej konfiguracji sterownika");
    case Cause::BackupListUnreadable: return QStringLiteral("Nie można odczytać spisu kopii zapasowych");
    case Cause::NoSuchBackup: return QStringLiteral("Nie ma takiej kopii zapasowej");
    case Cause::FolderIsLink: return QStringLiteral("folder jest dowiązaniem symbolicznym");
    case Cause::NotAFolder: return QStringLiteral("to nie jest folder");
    case Cause::FolderOfOtherUser: return QStringLiteral("folder należy do innego użytkownika");
    case Cause::FolderWritableByOthers: return QStringLiteral("inni użytkownicy mogą zapisywać w folderze");
    case Cause::FolderCannotBeMade: return QStringLiteral("nie można utworzyć folderu");
    case Cause::LockCannotBeMade: return QStringLiteral("nie można utworzyć pliku blokady");
    case Cause::LockHeld: return QStringLiteral("inny program zapisuje właśnie kopię zapasową");
    case Cause::IndexNotRegular: return QStringLiteral("spis kopii nie jest zwykłym plikiem");
    case Cause::IndexTooLarge: return QStringLiteral("spis kopii jest za duży");
    case Cause::IndexUnreadable: return QStringLiteral("nie można odczytać spisu kopii");
    case Cause::IndexNotValid: return QStringLiteral("to nie jest spis kopii zapasowych");
    case Cause::IndexEntryMalformed: return QStringLiteral("pozycja spisu kopii jest uszkodzona");
    case Cause::NumbersUsedUp: return QStringLiteral("wyczerpano numery kopii");
    case Cause::BackupLimitInvalid: return QStringLiteral("DOVU_BACKUP_LIMIT nie podaje liczby kopii");
    case Cause::FileTooShort: return QStringLiteral("plik jest za krótki");
    case Cause::WrongMark: return QStringLiteral("zły znacznik pliku");
    case Cause::WrongCheckByte: return QStringLiteral("zła suma kontrolna");
    case Cause::FileEndsEarly: return QStringLiteral("plik kończy się przed sumą kontrolną");
    case Cause::MatrixLengthWrong: return QStringLiteral("zła długość matrycy powiadomień");
    case Cause::ItemPastEnd: return QStringLiteral("pozycja sięga poza koniec pliku");
    case Cause::BytesLeftOver: return QStringLiteral("zbędne bajty na końcu pliku");
    case Cause::NotANumber: return QStringLiteral("pole nie zawiera liczby");
    case Cause::NotRegularFile: return QStringLiteral("to nie jest zwykły plik");
    case Cause::NoSuchFile: return QStringLiteral("plik nie istnieje");
    case Cause::FileReadOnly: return QStringLiteral("plik jest tylko do odczytu");
    case Cause::NoSuchFolder: return QStringLiteral("folder nie istnieje");
    case Cause::OtherUsersLink:
      return QStringLiteral("dowiązanie symboliczne innego użytkownika we wspólnym folderze; plik nie został zapisany");
    case Cause::OtherUsersFile: return QStringLiteral("plik należy do innego użytkownika, zapis zmieniłby jego właściciela");
  }
  return {};
}

namespace {

// What to do about a port that failed.
QString portRemedy(const Problem& p) {
  switch (p.reason) {
    case Cause::PortPermissionDenied: {
      const QString group = p.args.value(0);
      if (!group.isEmpty())
        return QStringLiteral("Dodaj użytkownika do grupy %1: sudo usermod -a -G %1 $USER i zaloguj się ponownie.")
            .arg(group);
      QStringList who;
      if (!p.args.value(1).isEmpty()) who << QStringLiteral("użytkownik ") + p.args.value(1);
      if (!p.args.value(2).isEmpty()) who << QStringLiteral("grupa ") + p.args.value(2);
      if (!who.isEmpty())
        return QStringLiteral("Port może otworzyć tylko: %1. Poproś administratora o dostęp.")
            .arg(who.join(QStringLiteral(", ")));
      return QStringLiteral("Nikt nie ma prawa zapisu do tego portu; poproś administratora o dostęp.");
    }
    case Cause::PortInUse: return QStringLiteral("Zamknij program, który go używa.");
    case Cause::PortNotFound:
    case Cause::PortDeviceLost: return QStringLiteral("Podłącz adapter i naciśnij COM?, aby odświeżyć listę portów.");
    default: return {};
  }
}

// The caption a person reads for a field named as the window names it; the name itself for any other.
// The window's name of a configuration field given by its stable name.
QString windowName(const QString& field) {
  const ConfigField* f = configFieldNamed(field);
  return f ? QString::fromLatin1(widgetNameOf(*f)) : field;
}

QString fieldCaption(const QString& name) {
  const Form::Id id = Form::idOf(name.toStdString());
  return id == Form::kNoField ? name : QString::fromUtf8(Form::def(id).caption);
}

QString bytes(const QString& n) { return polishCount(n.toLongLong(), "bajt", "bajty", "bajtów"); }

QString reasonText(const Problem& p) {
  switch (p.reason) {
    case Cause::FileTooLarge: return QStringLiteral("plik jest większy niż %1").arg(bytes(p.args.value(0)));
    case Cause::FileTooShort:
      return QStringLiteral("plik ma %1, najmniej %2").arg(bytes(p.args.value(0)), bytes(p.args.value(1)));
    case Cause::FileEndsEarly:
      if (p.args.size() < 2) break;
      return QStringLiteral("plik kończy się przed: pozycja %1 (%2)").arg(p.args.at(0), p.args.at(1));
    case Cause::MatrixLengthWrong:
      if (p.args.size() < 4) break;
      return QStringLiteral("pozycja %1 (%2) ma długość %3 zamiast %4").arg(p.args.at(0), p.args.at(1), p.args.at(2), p.args.at(3));
    case Cause::ItemPastEnd:
      if (p.args.size() < 2) break;
      return QStringLiteral("pozycja %1 (%2) sięga poza koniec pliku").arg(p.args.at(0), p.args.at(1));
    case Cause::BytesLeftOver:
      return QStringLiteral("%1 na końcu pliku")
          .arg(polishCount(p.args.value(0).toLongLong(), "zbędny bajt", "zbędne bajty", "zbędnych bajtów"));
    case Cause::NotANumber:
      if (p.args.isEmpty()) break;
      return QStringLiteral("pole %1 nie zawiera liczby").arg(p.args.at(0));
    case Cause::OtherUsersLink:
      if (p.args.isEmpty()) break;
      return QStringLiteral("dowiązanie symboliczne innego użytkownika we wspólnym folderze %1; plik nie został zapisany")
          .arg(p.args.at(0));
    case Cause::FolderWritableByOthers:
      return QStringLiteral("inni użytkownicy mogą zapisywać w folderze (uprawnienia %1; chmod 700 czyni go "
                            "tylko twoim)")
          .arg(p.args.value(0));
    case Cause::LockHeld: {
      QString who = QStringLiteral("inny program");
      if (p.args.size() >= 4)
        who += QStringLiteral(" (%1, proces %2 na %3)").arg(p.args.at(1), p.args.at(2), p.args.at(3));
      return QStringLiteral("%1 zapisuje kopię zapasową od %2 s").arg(who, p.args.value(0));
    }
    case Cause::IndexEntryMalformed:
      return QStringLiteral("pozycja %1 spisu kopii jest uszkodzona").arg(p.args.value(0));
    case Cause::NumbersUsedUp:
      return QStringLiteral("wyczerpano numery kopii; przenieś folder w inne miejsce, aby zacząć nową historię");
    case Cause::BackupLimitInvalid:
      return QStringLiteral("DOVU_BACKUP_LIMIT=%1 nie podaje liczby kopii (liczba całkowita od 1 do 999999999)")
          .arg(p.args.value(0));
    default: break;
  }
  QString reason = polishText(p.reason);
  if (p.reason == Cause::PortFailed && !p.args.isEmpty()) reason += QStringLiteral(" nr ") + p.args.first();
  return reason;
}

// "subject: reason", or the reason alone.
QString subjectAndReason(const Problem& p) {
  return p.subject.isEmpty() ? reasonText(p) : p.subject + QStringLiteral(": ") + reasonText(p);
}

}  // namespace

QString polishReason(const Problem& p) {
  QStringList parts;
  if (p.cause == Cause::NoSuchBackup)
    parts << QStringLiteral("brak kopii nr %1 w %2").arg(p.args.value(0), p.subject);
  else if (p.reason != Cause::None)
    parts << subjectAndReason(p);
  if (!p.detail.isEmpty()) parts << p.detail;
  return parts.join(QStringLiteral(": "));
}

QString polishDetail(const Problem& p) {
  QStringList lines;
  switch (p.cause) {
    case Cause::NoAnswer: lines << QStringLiteral("Sprawdź wybrany port, przewód i zasilanie sterownika."); break;
    case Cause::WrongPassword: lines << QStringLiteral("Wpisz właściwe hasło dostępu i naciśnij POŁĄCZ."); break;
    case Cause::PortUnavailable:
      lines << subjectAndReason(p) << portRemedy(p);
      break;
    case Cause::FirmwareTooLarge:
      if (p.reason == Cause::None)
        lines << QStringLiteral("Plik ma %1, a może mieć najwyżej %2.").arg(bytes(p.args.value(0)), bytes(p.args.value(1)));
      break;
    case Cause::FirmwareEmpty: lines << QStringLiteral("Plik ma tylko znacznik i bajt kontrolny."); break;
    case Cause::DownloadInterrupted:
      if (p.reason != Cause::None) lines << reasonText(p);
      break;
    case Cause::UploadInterrupted:
      if (p.reason != Cause::None) lines << reasonText(p);
      lines << QStringLiteral("Sterownik potwierdził %1 z %2 wysłanych parametrów. Pola zaznaczone na czerwono "
                              "różnią się od tego, co sterownik ma teraz; wyślij konfigurację ponownie.")
                   .arg(p.args.value(0), p.args.value(1));
      break;
    case Cause::NoisyLine:
      lines << QStringLiteral("%1: %2, żadne dwa nie są zgodne.")
                   .arg(p.subject, polishCount(p.args.value(0).toLongLong(), "odczyt", "odczyty", "odczytów"));
      lines << QStringLiteral("Sprawdź przewód i jego połączenia, potem odczytaj konfigurację ponownie.");
      break;
    case Cause::TextTooLong:
      lines << QStringLiteral("%1 (%2): %3, sterownik przyjmuje najwyżej %4.")
                   .arg(windowName(p.subject), fieldCaption(windowName(p.subject)),
                        polishCount(p.args.value(0).toLongLong(), "znak", "znaki", "znaków"),
                        p.args.value(1));
      lines << QStringLiteral("Skróć tekst i wyślij konfigurację ponownie.");
      break;
    case Cause::FlashFailed:
      lines << QStringLiteral("Sterownik czeka w programie rozruchowym: nie wyłączaj zasilania i uruchom "
                              "aktualizację ponownie.");
      break;
    case Cause::BackupNotSaved:
      lines << polishReason(p) << QStringLiteral("Nic nie wysłano do sterownika.");
      lines.removeAll(QString());
      return lines.join(QLatin1Char('\n'));
    case Cause::BackupListUnreadable:
    case Cause::NoSuchBackup:
      lines << polishReason(p);
      return lines.join(QLatin1Char('\n'));
    case Cause::FlashPortFailed:
      lines << subjectAndReason(p);
      lines << QStringLiteral("Sterownik czeka w programie rozruchowym: nie wyłączaj zasilania, sprawdź port "
                              "i uruchom aktualizację ponownie.");
      break;
    default: break;
  }
  // A reason not worded above (a file refused).
  if (p.reason == Cause::FileTooLarge || p.reason >= Cause::FileTooShort) lines << subjectAndReason(p);
  if (!p.detail.isEmpty()) lines << p.detail;
  lines.removeAll(QString());
  return lines.join(QLatin1Char('\n'));
}

ConfigWords polishConfigWords() {
  ConfigWords w;
  w.on = QStringLiteral("tak");
  w.off = QStringLiteral("nie");
  w.none = QStringLiteral("brak wyboru");
  w.telephonesTold = QStringLiteral("powiadamiane telefony");
  w.voice = QStringLiteral("połączenia");
  w.humidity = QStringLiteral("wilgotność");
  w.noOutput = QStringLiteral("Brak");
  w.captions = true;
  return w;
}

}  // namespace dovu::ui
