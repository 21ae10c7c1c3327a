#include "sessionview.h"

namespace dovu::ui {

namespace {

const char* const kLampNames[] = {"PanelIN1", "PanelIN2", "PanelIN3", "PanelIN4", "PanelIN5",
                                  "PanelPK",  "PanelOut2", "PanelOut3", "PanelOut4", "PanelFab"};
const char* const kReadoutNames[] = {"Temp1", "Temp2", "Temp3", "Wilg", "Udc", "Uac"};
const char* const kRestartingText = "Sterownik uruchamia się ponownie…";
const char* const kDownloadText = "Pobieram konfigurację sterownika";
const char* const kUploadText = "Wysyłam konfigurację do sterownika";
const char* const kControllerReadText = "Odczytuję konfigurację sterownika";

// Sensor state of the status record as a background colour.
Colour stateColour(int state) {
  switch (state & 3) {
    case 1: return kBrightGreen;
    case 2: return kRed;
    case 3: return kSkyBlue;
    default: return kGrey;
  }
}

Colour lamp(bool on, Colour whenOn, Colour whenOff) { return on ? whenOn : whenOff; }

}  // namespace

SessionView::SessionView(Session& session, Form& form, QObject* parent) : QObject(parent), form_(form) {
  connect(&session, &Session::connectedChanged, this, &SessionView::showConnected);
  connect(&session, &Session::loggedInChanged, this, &SessionView::showLoggedIn);
  connect(&session, &Session::liveDisplayChanged, this, &SessionView::showLive);
  connect(&session, &Session::restartingShown, this, &SessionView::showRestarting);
  connect(&session, &Session::firmwareVersionChanged, this, &SessionView::showVersion);
  connect(&session, &Session::passwordChanged, this,
          [this](const QString& password) { form_.setText("Edit_haslo", password); });
  connect(&session, &Session::statusChanged, this, [this](const StatusRecord& s) { showStatus(form_, s); });
}

void SessionView::watch(ConfigTransfer& transfer) {
  connect(&transfer, &ConfigTransfer::started, this, [this](bool upload) {
    form_.setEnabled("Icon_get", false);
    form_.setEnabled("Icon_put", false);
    showProgress(true, QString::fromUtf8(upload ? kUploadText : kDownloadText));
  });
  connect(&transfer, &ConfigTransfer::progress, this, [this](int v) { form_.setValue("Bar", v); });
  connect(&transfer, &ConfigTransfer::finished, this, [this, &transfer] {
    showProgress(false);
    if (!transfer.resumedLive()) return;
    form_.setEnabled("Icon_get", true);
    form_.setEnabled("Icon_put", true);
  });
}

void SessionView::watch(ControllerRead& read) {
  connect(&read, &ControllerRead::reading, this,
          [this](bool on) { showProgress(on, QString::fromUtf8(kControllerReadText)); });
  connect(&read, &ControllerRead::progress, this, [this](int v) { form_.setValue("Bar", v); });
}

void SessionView::showProgress(bool on, const QString& label) {
  // The panel's text first: the dialog shows it as it opens.
  if (on) form_.setText("Label_Bar", label);
  form_.setVisible("FormProgres", on);
  form_.setVisible("Panel_bar", on);
}

void SessionView::showConnected(bool connected) {
  form_.setText("Edit_status", connected ? QStringLiteral("POŁĄCZONY") : QStringLiteral("ROZŁĄCZONY"));
  form_.setColour("Edit_status", connected ? kBrightGreen : kRed);
  form_.setEnabled("Button_rozlacz", connected);
  form_.setEnabled("ButtonFirmware", connected);
}

void SessionView::showLoggedIn(bool loggedIn) {
  form_.setText("Edit_logon", loggedIn ? QStringLiteral("ZALOGOWANY") : QStringLiteral("WYLOGOWANY"));
  form_.setColour("Edit_logon", loggedIn ? kBrightGreen : kRed);
  form_.setEnabled("Edit_haslo", !loggedIn);
  for (const char* n : {"Button_zmiana_hasla", "ButtonRestart", "ButtonResetlimit", "Pobierz1", "Zapisz1"})
    form_.setEnabled(n, loggedIn);
  form_.setEnabled("Button_polacz", !loggedIn);
  if (loggedIn) return;
  // The transfers wait for the first status record; the level gauge has nothing to show.
  form_.setEnabled("Icon_get", false);
  form_.setEnabled("Icon_put", false);
  form_.setVisible("Panel_bar", false);
  form_.setValue("BarRSSI", 0);
}

void SessionView::showLive(bool on) {
  form_.setVisible("StatusBar", on);
  if (on) {
    form_.setText("StatusBar", QString());
  } else {
    for (const char* n : kLampNames) form_.setColour(n, kFaceColour);
    for (const char* n : kReadoutNames) form_.setColour(n, kGrey);
  }
  form_.setText("LabelSMS", QString());
  form_.setText("LabelVoice", QString());
}

void SessionView::showRestarting() {
  form_.setEnabled("Button_polacz", false);
  form_.setVisible("StatusBar", true);
  form_.setText("StatusBar", QString::fromUtf8(kRestartingText));
}

void SessionView::showVersion(const QString& version) {
  if (version.isEmpty()) {
    form_.setText("TextWersja", QStringLiteral("DOVU v ..."));
    form_.setTextColour("TextWersja", kGrey);
  } else {
    form_.setText("TextWersja", version);
    form_.setTextColour("TextWersja", kBlack);
  }
}

void SessionView::showStatus(Form& form, const StatusRecord& s) {
  static const char* const kInputs[] = {"PanelIN1", "PanelIN2", "PanelIN3", "PanelIN4", "PanelIN5"};
  for (int i = 0; i < 5; ++i) form.setColour(kInputs[i], lamp(s.input[i], kBrightGreen, kRed));
  form.setColour("PanelPK", lamp(s.output[0], kRed, kBrightGreen));
  form.setColour("PanelOut2", lamp(s.output[1], kRed, kBrightGreen));
  form.setColour("PanelOut3", lamp(s.output[2], kRed, kBrightGreen));
  form.setText("LabelZd", QStringLiteral("Zd: %1").arg(s.eventCount));
  form.setColour("PanelFab", lamp(s.flagF, kBrightGreen, kRed));
  form.setColour("PanelOut4", lamp(s.output[3], kRed, kBrightGreen));
  form.setText("StatusBar", modemStageText(s.modemStage));
  form.setValue("BarRSSI", rssiBarValue(s.rssi));
  form.setText("LabelSMS", QStringLiteral("%1 z").arg(s.smsUsed));
  form.setText("LabelVoice", QStringLiteral("%1 z").arg(s.voiceUsed));
  form.setText("Udc", voltsText(s.dcVolts));
  form.setText("Temp1", analogTemperatureText(s.t1Raw));
  form.setText("Temp2", analogTemperatureText(s.t2Raw));
  form.setText("Uac", voltsText(s.exVolts));
  form.setColour("Temp1", stateColour(s.t1State));
  form.setColour("Temp2", stateColour(s.t2State));
  form.setColour("Uac", lamp(s.exOk, kBrightGreen, kRed));
  form.setColour("Udc", lamp(s.dcOk, kBrightGreen, kRed));
  form.setColour("Temp3", stateColour(s.t3State));
  form.setText("Wilg", humidityText(s.humidity));
  form.setText("Temp3", signedTenthsText(s.t3));
  form.setColour("Wilg", stateColour(s.humidityState));
  form.setEnabled("Icon_get", true);
  form.setEnabled("Icon_put", true);
}

}  // namespace dovu::ui
