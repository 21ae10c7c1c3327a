#include "exchange/transfer.h"

#include "model/params.h"

namespace dovu {

namespace {

constexpr std::uint8_t kLastReadCode = 104;

// Marks the transfer as running for as long as it lasts, and hides the progress dialog however it
// ends (a write error of the port leaves by an exception).
struct Running {
  bool& busy;
  Form& form;
  explicit Running(bool& b, Form& f) : busy(b), form(f) { busy = true; }
  ~Running() {
    form.setVisible("Panel_bar", false);
    form.setVisible("FormProgres", false);
    busy = false;
  }
};

// Every field a download writes: the parameters' fields and the operator list picked from one.
std::vector<Form::Id> configurationFields() {
  std::vector<Form::Id> ids{Form::idOf("Combo_operator")};
  for (const ParamDef& p : paramTable())
    for (Form::Id id : paramFields(p)) ids.push_back(id);
  return ids;
}

}  // namespace

std::optional<QString> textTooLong(const Form& form) {
  const ParamDef* p = textOverLimit(form);
  if (!p) return std::nullopt;
  const FieldDef& d = Form::def(Form::idOf(p->field));
  return QStringLiteral("%1 (%2): %3 znaków, sterownik przyjmuje najwyżej %4")
      .arg(QString::fromUtf8(d.name), QString::fromUtf8(d.caption))
      .arg(form.text(p->field).size())
      .arg(p->limit);
}

ConfigTransfer::ConfigTransfer(Form& form, Link& link, Session& session, QObject* parent)
    : QObject(parent), form_(form), link_(link), session_(session) {}

void ConfigTransfer::showProgress(const QString& label) {
  form_.setVisible("FormProgres", true);
  form_.setVisible("Panel_bar", true);
  form_.setText("Label_Bar", label);
  setBar(0);
}

void ConfigTransfer::setBar(int value) {
  form_.setValue("Bar", value);
  emit progress(value);
}

bool ConfigTransfer::stopAsked() {
  stopped_ = stopped_ || (stopRequested && stopRequested());
  return stopped_;
}

void ConfigTransfer::requestDownload() { request(false); }

void ConfigTransfer::requestUpload() { request(true); }

void ConfigTransfer::request(bool up) {
  if (busy_ || pending_ || link_.aborted() || !session_.loggedIn()) return;
  // Queued behind the exchange under way, and dropped if that exchange (or a ROZŁĄCZ meanwhile)
  // logged the window out: the buttons that asked for it are disabled by now.
  pending_ = true;
  link_.submit(
      [this, up] {
        pending_ = false;
        bool ok = false;
        QString why;
        try {
          ok = up ? upload() : download();
        } catch (const SerialPortError& e) {
          if (up) throw;
          why = Session::portErrorReason(e);
        }
        if (!ok && !up && !link_.aborted())
          if (Notifier* n = link_.notifier())
            n->message(MessageKind::Warning, QString::fromUtf8(kDownloadInterruptedText), why);
        emit finished(ok);
      },
      Link::Queued::DropIfSessionChanged, [this] { pending_ = false; });
}

bool ConfigTransfer::download() {
  // A second exchange nested inside a running one (the menu stays usable) would interleave its
  // frames with the first one's on the line.
  if (busy_ || link_.waiting() || link_.aborted()) return false;
  Running running(busy_, form_);
  stopped_ = false;
  const Form::Values before = form_.values(configurationFields());
  bool ok = false;
  try {
    ok = readAll();
  } catch (...) {
    form_.restore(before);
    throw;
  }
  if (!ok) form_.restore(before);
  return ok;
}

bool ConfigTransfer::readAll() {
  form_.setEnabled("Icon_get", false);
  form_.setEnabled("Icon_put", false);
  session_.liveOff();
  Link::processPending();
  showProgress(QStringLiteral("Pobieram konfigurację sterownika"));

  for (const ParamDef& p : paramTable()) {
    link_.setPollTicks(0);
    Link::pauseMs(10);
    if (link_.aborted() || stopAsked()) return false;
    link_.sendFrame(p.readCode, kReadPayload);
    // The answer is written into its fields by the dispatcher while the wait runs.  A missing one
    // has already logged the window out (silently for the threshold block).
    if (!link_.waitForAnswer(kReadTicks, p.readCode)) return false;
    setBar(p.readCode * 100 / kLastReadCode);
    if (p.readCode == kLastReadCode) {
      session_.liveOn();
      form_.setEnabled("Icon_get", true);
      form_.setEnabled("Icon_put", true);
    }
    Link::processPending();
  }
  return !link_.aborted();
}

bool ConfigTransfer::upload() {
  if (busy_ || link_.waiting() || link_.aborted()) return false;
  Running running(busy_, form_);
  stopped_ = false;

  // What goes out is what the window shows once the field being edited has been left.
  form_.commitEditing();
  if (const auto why = textTooLong(form_)) {
    if (Notifier* n = link_.notifier()) n->message(MessageKind::Error, QString::fromUtf8(kTextTooLongText), *why);
    return false;
  }

  form_.setEnabled("Icon_get", false);
  form_.setEnabled("Icon_put", false);
  session_.liveOff();
  showProgress(QStringLiteral("Wysyłam konfigurację do sterownika"));
  Link::processPending();

  bool ok = true;
  int acknowledged = 0;
  for (const ParamDef& p : paramTable()) {
    if (link_.aborted() || stopAsked()) {
      ok = false;
      break;
    }
    const Bytes payload = buildPayload(form_, p);
    if (!link_.sendAndWait(p.setCode(), payload, p.setWait)) {
      ok = false;
      break;
    }
    setBar(++acknowledged);
    // The controller now holds these fields' values.
    applySyncColours(form_, p);
  }

  form_.setVisible("Panel_bar", false);
  if (session_.loggedIn() && !link_.aborted()) {
    form_.setEnabled("Icon_get", true);
    form_.setEnabled("Icon_put", true);
    session_.liveOn();
  }
  return ok;
}

}  // namespace dovu
