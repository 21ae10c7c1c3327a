#pragma once
// Download and upload of the whole configuration, parameter by parameter, under the progress
// dialog (the FormProgres, Panel_bar, Label_Bar and Bar entries of the form).
#include <QObject>
#include <functional>
#include <optional>

#include "link/link.h"
#include "session/session.h"
#include "model/form.h"

namespace dovu {

inline const char* kDownloadInterruptedText = "Odczyt przerwany: okno pokazuje konfigurację sprzed odczytu";
inline const char* kTextTooLongText = "Tekst dłuższy niż przyjmuje sterownik: nic nie wysłano";

// Which text is longer than its field in the controller, and by how much (the detail that goes
// with kTextTooLongText); nullopt when every text fits.
std::optional<QString> textTooLong(const Form& form);

class ConfigTransfer : public QObject {
  Q_OBJECT
 public:
  ConfigTransfer(Form& form, Link& link, Session& session, QObject* parent = nullptr);

  // Each returns true when every parameter was answered.  The upload first refuses, before
  // anything is sent, a text longer than its field in the controller (kTextTooLongText, naming
  // the field): the controller keeps no more than its field holds, so the rest would be lost
  // while the window showed it synchronised.  A transfer that is running refuses to
  // start another one (returns false at once), and so does a wait of another exchange under way
  // (a click that arrived inside the status poll's wait): the nested transfer would take over
  // that wait's answer and leave it to time out.
  // A download that does not finish puts every configuration field back as it was before it
  // started, so that the window never shows (nor an upload sends) a mix of two configurations.
  bool download();
  bool upload();
  bool busy() const { return busy_ || pending_; }

  // Asked before each parameter: true ends the transfer there, after the exchange of the one
  // before it has finished (the command-line tool's SIGINT).  stopped() then tells.
  std::function<bool()> stopRequested;
  bool stopped() const { return stopped_; }

  // For the window's buttons and menu items: runs the transfer now, or as soon as the wait under
  // way has ended, and reports the outcome with finished().  Ignored while a transfer runs or is
  // already waiting to run.  A requested download that does not finish says so
  // (kDownloadInterruptedText).
  void requestDownload();
  void requestUpload();

 signals:
  void progress(int value);  // the bar value after each parameter
  void finished(bool ok);    // after a requested transfer

 private:
  void request(bool up);
  void showProgress(const QString& label);
  void setBar(int value);
  bool readAll();

  Form& form_;
  Link& link_;
  Session& session_;
  bool stopAsked();
  bool busy_ = false;
  bool pending_ = false;
  bool stopped_ = false;
};

}  // namespace dovu
