#pragma once
// The main window.  It owns the form model, the serial port, the link, the dispatcher, the
// session and the configuration transfer, builds its widgets from the field catalogue and its own
// layout tables, binds them to the form, and forwards every user action to the core.
#include <QMainWindow>
#include <QPointer>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "exchange/dispatcher.h"
#include "exchange/controllercopy.h"
#include "exchange/transfer.h"
#include "link/serialport.h"
#include "link/link.h"
#include "link/portlist.h"
#include "session/session.h"
#include "ui/form.h"
#include "ui/binder.h"
#include "ui/boxnotifier.h"
#include "ui/dialogs.h"
#include "ui/edithistory.h"
#include "ui/sessionview.h"

class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;

namespace dovu::ui {

class ChartPanel;

// The questions of the window.
inline constexpr const char* kUploadDefaultsText =
    "Sterownik otrzyma domyślną konfigurację okna. Kontynuować?";
inline constexpr const char* kDiscardEditsText =
    "Zmiany zaznaczone na czerwono nie zostały wysłane do sterownika. Zamknąć program i porzucić je?";
inline constexpr const char* kRestartQuestionText = "Uruchomić sterownik ponownie?";
inline constexpr const char* kDownloadOverEditsText =
    "Zmiany zaznaczone na czerwono nie zostały wysłane do sterownika. Pobrać konfigurację ze sterownika i porzucić je?";
inline constexpr const char* kCloseDuringUploadText =
    "Trwa zapis konfiguracji do sterownika. Przerwany zostawiłby w sterowniku częściowo nową konfigurację. "
    "Zamknąć program, gdy zapis się skończy?";
inline constexpr const char* kCloseDuringReadText =
    "Trwa odczyt konfiguracji sterownika. Zamknąć program, gdy odczyt się skończy? Nic nie zostanie wysłane.";
inline constexpr const char* kClosingLaterText = "Program zamknie się po zakończeniu wymiany ze sterownikiem";
// Shown while the red marks compare with an assumption rather than with a read of the controller.
inline constexpr const char* kControllerUnknownText =
    "Konfiguracja sterownika nieznana (nic nie odczytano od połączenia): czerwone pola różnią się "
    "od ostatnio znanej, nie od sterownika";

// The firmware dialog for one use, owned by parent.
QDialog* createFirmwareDialog(Session& session, Link& link, Notifier& notifier, QWidget* parent);

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // ports: where the port list comes from (the system's by default); notifier: where messages go
  // (message boxes by default).
  explicit MainWindow(std::unique_ptr<PortSource> ports = nullptr, Notifier* notifier = nullptr,
                QWidget* parent = nullptr);
  ~MainWindow() override;

  // The size the whole form needs, at least 969 x 650.
  QSize preferredSize() const;

  // The progress dialog and the port list dialog, created hidden once the window exists.
  void createDialogs();

  Form& form() { return form_; }
  SerialPort& port() { return port_; }
  Link& link() { return link_; }
  Session& session() { return session_; }
  ConfigTransfer& transfer() { return transfer_; }
  FieldBinder& binder() { return binder_; }
  Notifier& notifier() { return *notifier_; }
  ProgressDialog* progressDialog() const { return progres_; }
  PortListDialog* portDialog() const { return jakieCom_; }
  QComboBox* comCombo() const { return comCombo_; }
  const std::vector<PortEntry>& ports() const { return portList_; }
  ChartPanel* chart() const { return chart_; }

  // Configuration file load and save (Plik menu and the two file buttons); by default they ask
  // for a file name and go through the configuration file of the storage.
  std::function<void()> loadFile;
  std::function<void()> saveFile;
  // A yes-or-no question to the user; by default a message box with "Tak" and "Nie".
  std::function<bool(const QString&)> confirm;

  // Operations started by the window's controls.
  void refreshPorts();
  void comComboChange(int index);
  void buttonComClick();
  void connectClick();
  void disconnectClick();
  void changePasswordClick();
  void firmwareClick();
  void restartClick();
  void resetLimitClick();
  void downloadClick();
  void uploadClick();
  // Uploads the chosen parameters (indexes into the parameter table; empty: all) after the backup.
  void uploadParams(std::vector<std::size_t> only);
  void aboutClick();
  void backupsClick();
  void seriesClick();
  // "Porównaj ze sterownikiem…": reads what the controller holds (the window untouched) and lists
  // the fields that differ.  "Porównaj z plikiem…": the same against a *.dvc file.
  void compareControllerClick();
  void compareFileClick();
  // The comparison with a configuration file (a chosen file or a backup); its "Wyślij zaznaczone"
  // takes the chosen parameters' fields from the file into the window (one undo step) and sends
  // them.
  void compareWithFile(const QString& path, const QString& otherSide);
  void showControllerComparison(bool ok);
  void loadFileClick();
  void saveFileClick();

  // Whether an exchange with the controller that must not be cut (a transfer, a backup's or a
  // comparison's read) runs or waits to run.
  bool exchangeUnderWay() const;

  // An exception that reached the event loop: logged.
  void handleException(std::exception_ptr e);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void buildMenu();
  QWidget* buildConnectionPanel();
  QGroupBox* buildInputs();
  QGroupBox* buildOutputs();
  QGroupBox* buildDeviceOptions();
  QGroupBox* buildPhones();
  QGroupBox* buildMatrix();
  QGroupBox* buildState();
  QGroupBox* buildSensors();
  QWidget* field(const char* name);
  QWidget* check(const char* name, bool withCaption);
  QWidget* spinField(const char* name);
  // How a press reaches its handler: at once (Local), or through the link's one queue of
  // exchanges (Exchange: dropped when the session changed before it could run; Link: a port pick
  // or a disconnect, which stay valid whatever the session did meanwhile).
  enum class Press { Local, Exchange, Link };
  void onClick(const char* name, void (MainWindow::*handler)(), Press press = Press::Local);
  void press(Press press, std::function<void()> handler);
  // An upload of the window's defaults (nothing downloaded or loaded) replaces the controller's
  // whole configuration: only after the user agrees.
  bool uploadAgreed();
  // Closing, in steps that never cut an exchange: once the exchange has ended, the question about
  // red fields, then a logout while logged in, then the window goes.
  void requestClose();
  void closeWhenIdle();
  void shutDown();
  // What the core has to tell, shown once the exchange step that raised it has returned to the
  // event loop: never a box (a nested event loop) inside a protocol callback.
  void showAfterStep(const Notice& notice);

  Form form_;
  BoxNotifier boxNotifier_;
  Notifier* notifier_;
  SerialPort port_;
  Link link_;
  Dispatcher dispatcher_;
  Session session_;
  SessionView sessionView_;
  ConfigTransfer transfer_;
  BackupBeforeWrite backup_;
  ControllerRead compareRead_;
  FieldBinder binder_;
  EditHistory history_;
  std::unique_ptr<PortSource> portSource_;
  std::vector<PortEntry> portList_;  // PortNames and DeviceNames, in the system's order
  QComboBox* comCombo_ = nullptr;
  QLabel* noPorts_ = nullptr;   // kNoPortsText, shown while the list is empty
  bool userPicked_ = false;     // the selection is the user's choice, kept by refreshes
  QPointer<ProgressDialog> progres_;
  QPointer<PortListDialog> jakieCom_;
  ChartPanel* chart_ = nullptr;  // in the "Wykres" dock
  QLabel* unknown_ = nullptr;    // kControllerUnknownText, shown while the controller is not known
  bool closing_ = false;         // the user asked to close; waiting for the exchange or the logout
  bool closed_ = false;          // everything has ended: the next close event is accepted
  bool inCloseEvent_ = false;
};

}  // namespace dovu::ui
