#include "exchange/dispatcher.h"

#include "exchange/status.h"
#include "link/commands.h"
#include "link/link.h"
#include "model/params.h"
#include "model/sensors.h"

namespace dovu {

namespace {

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

void showVersion(Form& form, const Bytes& payload) {
  // Byte 1 carries the version; an answer without it leaves the label as it is.
  if (payload.size() < 2) return;
  const int v = byteAt(payload, 1);
  if (v < '0') return;
  const int d = v - '0';
  form.setText("TextWersja", QStringLiteral("DOVU v %1.%2").arg(d / 10 + 1).arg(d % 10));
  form.setTextColour("TextWersja", kBlack);
}

void showStatus(Form& form, const Bytes& payload) {
  // A record shorter than its 18 bytes is ignored as a whole, like every short block answer.
  const auto rec = StatusRecord::decode(payload);
  if (!rec) return;
  const StatusRecord& s = *rec;

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

}  // namespace

void Dispatcher::attach(Link& link) {
  reading_ = link.addReader({
      [&link](std::uint8_t code, const Bytes& payload) { return accepts(code, payload, link.awaitedCode()); },
      [this](std::uint8_t code, const Bytes& payload) { dispatch(code, payload); },
  });
}

bool Dispatcher::accepts(std::uint8_t code, const Bytes& payload, int awaited) {
  // A short status record is no answer either: the poll is repeated.
  if (code == kCodeStatus) return payload.size() >= kStatusRecordSize;
  if (code != awaited) return false;
  // Acknowledgements of set codes carry no value; only a read answer has a layout to fill.
  const ParamDef* p = code % 2 == 0 ? paramByCode(code) : nullptr;
  return !p || p->kind == PayloadKind::Text || payload.size() >= static_cast<std::size_t>(p->limit);
}

void Dispatcher::dispatch(std::uint8_t code, const Bytes& payload) { apply(code, payload); }

void Dispatcher::apply(std::uint8_t code, const Bytes& payload) {
  if (code == kCodeLogin) {
    showVersion(form_, payload);
  } else if (code == kCodeStatus) {
    showStatus(form_, payload);
    if (onStatus)
      if (const auto rec = StatusRecord::decode(payload)) onStatus(*rec);
  } else if (code % 2 == 0) {
    // Odd codes are acknowledgements: the exchange that sent the set code handles them.
    if (const ParamDef* p = paramByCode(code)) applyAnswer(form_, *p, payload);
  }
}

}  // namespace dovu
