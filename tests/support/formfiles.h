#pragma once
// The window's form saved to and loaded from configuration files, as the window does it (the
// form's configuration through storage, then shown through the form's setters), for tests that
// build their files from a form or read them back into one.
#include <QString>
#include <optional>

#include "base/bytes.h"
#include "base/outcome.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "storage/configfile.h"
#include "storage/configjson.h"

namespace dovu {

inline std::optional<ConfigValues> configFromForm(const Form& form, QString* error, Problem* why = nullptr) {
  return configValuesOf(configurationOf(form), error, why);
}

inline std::optional<Bytes> buildConfigFile(const Form& form, QString* error, Problem* why = nullptr) {
  return buildConfigFile(configurationOf(form), error, why);
}

inline void applyConfig(Form& form, const ConfigValues& values) { showConfiguration(form, configurationFrom(values)); }

// True when loaded; on false no field has changed and notices say why.
inline bool loadConfigFile(Form& form, const Bytes& file, Notices* notices = nullptr) {
  const auto c = readConfigFile(file, notices);
  if (c) showConfiguration(form, *c);
  return c.has_value();
}

inline bool loadConfigFile(Form& form, const QString& path, Notices* notices = nullptr) {
  const auto c = readConfigFile(path, notices);
  if (c) showConfiguration(form, *c);
  return c.has_value();
}

// Takes the value of the field being edited first, as the window's save does.
inline bool saveConfigFile(Form& form, const QString& path, Notices* notices = nullptr) {
  form.commitEditing();
  return saveConfigFile(configurationOf(form), path, notices);
}

// The form's configuration as JSON, and JSON shown in a form (nothing changes on a fault).
inline QJsonObject configToJson(const Form& form) { return configToJson(configurationOf(form)); }
inline QByteArray configToJsonText(const Form& form) { return configToJsonText(configurationOf(form)); }
inline QByteArray configToJsonText(const Form& form, const QJsonObject& meta) {
  return configToJsonText(configurationOf(form), meta);
}
inline bool configFromJson(Form& form, const QJsonObject& json, QString* error) {
  const auto c = configFromJson(json, error);
  if (c) showConfiguration(form, *c);
  return c.has_value();
}
inline bool configFromJsonText(Form& form, const QByteArray& text, QString* error) {
  const auto c = configFromJsonText(text, error);
  if (c) showConfiguration(form, *c);
  return c.has_value();
}

}  // namespace dovu
