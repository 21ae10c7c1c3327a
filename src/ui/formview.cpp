#include "ui/formview.h"

#include <array>
#include <cstring>

#include "storage/fieldnames.h"
#include "ui/layout.h"

namespace dovu {

namespace {

using T = ConfigFieldType;

const SensorInfo& thresholdOf(const ConfigField& f) { return *sensorNamed(f.name); }

// Puts one field's value into the form through its setter; a threshold is only stored, its
// display is redrawn with the others.
void showField(Form& form, const Configuration& c, const ConfigField& f) {
  const char* shownIn = widgetNameOf(f);
  const ConfigValue v = configValue(c, f);
  switch (f.type) {
    case T::Text:
      if (f.name == QLatin1String("smsCentre")) form.setSmsCentre(std::get<QString>(v));
      else form.setText(shownIn, std::get<QString>(v));
      break;
    case T::Number: {
      const int n = std::get<int>(v);
      form.setText(shownIn, n < 0 ? QString() : QString::number(n));
      break;
    }
    case T::Choice: form.setIndex(shownIn, std::get<int>(v)); break;
    case T::Flag: form.setChecked(shownIn, std::get<bool>(v)); break;
    case T::Byte: form.setSensor(thresholdOf(f).byte, static_cast<std::uint8_t>(std::get<int>(v))); break;
  }
}

}  // namespace

const char* widgetNameOf(const ConfigField& f) { return formatOneName(f); }

const ConfigField* configFieldShownIn(const QString& widgetName) { return fieldOfFormatOneName(widgetName); }

const char* displayFieldOf(const SensorInfo& s) {
  // Looked up once: the form redraws a display on every step and every answer.
  static const std::array<const char*, kSensorBytes> fields = [] {
    std::array<const char*, kSensorBytes> out{};
    for (const SensorInfo& t : sensorTable())
      out[static_cast<std::size_t>(t.byte)] = widgetNameOf(*configFieldNamed(QString::fromLatin1(t.name)));
    return out;
  }();
  return fields[static_cast<std::size_t>(s.byte)];
}

const char* spinButtonOf(const SensorInfo& s) {
  static_assert(std::size(layout::kSpinButtons) == static_cast<std::size_t>(kSensorBytes));
  return layout::kSpinButtons[static_cast<std::size_t>(s.byte)];
}

const SensorInfo* sensorByField(const char* field) {
  for (const SensorInfo& s : sensorTable())
    if (field && std::strcmp(displayFieldOf(s), field) == 0) return &s;
  return nullptr;
}

const SensorInfo* sensorBySpin(const char* spinButton) {
  for (const SensorInfo& s : sensorTable())
    if (spinButton && std::strcmp(spinButtonOf(s), spinButton) == 0) return &s;
  return nullptr;
}

std::vector<Form::Id> paramFields(const ParamDef& p) {
  std::vector<Form::Id> ids;
  for (const ConfigField* f : parameterFields(p)) ids.push_back(Form::idOf(widgetNameOf(*f)));
  return ids;
}

const std::vector<Form::Id>& configurationFieldIds() {
  static const std::vector<Form::Id> ids = [] {
    std::vector<Form::Id> out;
    for (const ParamDef& p : paramTable())
      for (Form::Id id : paramFields(p)) out.push_back(id);
    return out;
  }();
  return ids;
}

Configuration configurationOf(const Form& form) {
  Configuration c;
  for (const ConfigField& f : configFields()) {
    const FieldState& s = form.state(widgetNameOf(f));
    switch (f.type) {
      case T::Text: setConfigValue(c, f, s.text); break;
      case T::Number: setConfigValue(c, f, Form::parseNumber(s.text)); break;
      case T::Choice: setConfigValue(c, f, s.index); break;
      case T::Flag: setConfigValue(c, f, s.checked); break;
      case T::Byte: setConfigValue(c, f, static_cast<int>(form.sensors()[thresholdOf(f).byte])); break;
    }
  }
  return c;
}

void showConfiguration(Form& form, const Configuration& c) {
  for (const ConfigField& f : configFields()) showField(form, c, f);
  form.showAllSensors();
}

void applyAnswer(Form& form, const ParamDef& p, const Bytes& payload) {
  Configuration c = configurationOf(form);
  if (!decodeParameter(c, p, payload)) return;
  form.markConfigurationReceived();
  // In the payload's order, so that a box's click rules run before the boxes after it are set.
  for (const ConfigField* f : parameterFields(p)) showField(form, c, *f);
  if (p.kind == PayloadKind::SensorBlock) form.showAllSensors();
  // The answer is what the controller holds.
  markParamHeld(form, p);
}

void showControllerConfiguration(Form& form, const Configuration& held) {
  Configuration shown = held;
  shown.password = form.text("Edit_haslo");
  showConfiguration(form, shown);
  form.markConfigurationReceived();
  for (const ParamDef& p : paramTable()) form.markHeld(paramFields(p), shown);
  form.setControllerKnown(true);
}

void markParameterHeld(Form& form, const Configuration& sent, const ParamDef& p) { form.markHeld(paramFields(p), sent); }

Bytes buildPayload(const Form& form, const ParamDef& p) { return encodeParameter(configurationOf(form), p); }

void markParamHeld(Form& form, const ParamDef& p) { form.markHeld(paramFields(p)); }

const ParamDef* textOverLimit(const Form& form) { return textOverLimit(configurationOf(form)); }

}  // namespace dovu
