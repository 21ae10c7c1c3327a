#pragma once
// The window's form as a view of a configuration: which form field shows which configuration
// field, the configuration the form shows, and a configuration (a download's, a file's, an
// upload's acknowledged parameters) put into the form.
#include <QString>
#include <vector>

#include "base/bytes.h"
#include "model/configuration.h"
#include "model/params.h"
#include "ui/form.h"

namespace dovu {

// The form field that shows a configuration field (a threshold: its display field).  The window
// kept the names the first JSON format took from it, so that table names both.
const char* widgetNameOf(const ConfigField& f);
// The configuration field a form field shows; nullptr for any other.
const ConfigField* configFieldShownIn(const QString& widgetName);

// A threshold's display field and its step buttons; the threshold a display field or a step
// button stands for (nullptr for any other field).
const char* displayFieldOf(const SensorInfo& s);
const char* spinButtonOf(const SensorInfo& s);
const SensorInfo* sensorByField(const char* field);
const SensorInfo* sensorBySpin(const char* spinButton);

// Every form field a parameter carries, in the order its answer writes them (the fields re-coloured
// once the parameter is read or acknowledged).
std::vector<Form::Id> paramFields(const ParamDef& p);
// Every form field a parameter carries, each once, in table order: the configuration the
// controller holds.
const std::vector<Form::Id>& configurationFieldIds();

// The values the form shows (the firmware and the port are left empty).
Configuration configurationOf(const Form& form);
// Puts the values into the form through its setters, the access password first and then in
// table order, so the click rules and the red act as for any program change; picks the operator
// from the SMS centre number and redraws the threshold displays.
void showConfiguration(Form& form, const Configuration& c);
// A download completed: the form shows what the controller holds, every field agreed with it, and
// the controller is known.  The access password, which the controller does not tell, stays as the
// form has it.
void showControllerConfiguration(Form& form, const Configuration& held);
// The controller acknowledged parameter p of an upload of sent: it holds p's fields as sent has them.
void markParameterHeld(Form& form, const Configuration& sent, const ParamDef& p);

// The set payload built from the fields as they stand.
Bytes buildPayload(const Form& form, const ParamDef& p);
// Writes a read answer into the fields, which then hold what the controller holds; a block answer
// shorter than its layout changes nothing.
void applyAnswer(Form& form, const ParamDef& p, const Bytes& payload);
// The controller now holds every field of the parameter as the window shows it (after an
// acknowledgement).
void markParamHeld(Form& form, const ParamDef& p);
// The first text parameter whose field holds more characters than the controller keeps (a file
// may carry up to 255); nullptr when every text fits.
const ParamDef* textOverLimit(const Form& form);

}  // namespace dovu
