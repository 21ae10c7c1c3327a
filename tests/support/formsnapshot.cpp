#include "support/formsnapshot.h"

namespace dovu::test {

FormSnapshot::FormSnapshot(const Form& f) : sensors_(f.sensors()) {
  for (int i = 0; i < f.size(); ++i) fields_.push_back(f.state(i));
}

std::vector<std::string> FormSnapshot::diff(const Form& f) const {
  std::vector<std::string> out;
  for (int i = 0; i < f.size(); ++i) {
    const FieldState& a = fields_[static_cast<std::size_t>(i)];
    const FieldState& b = f.state(i);
    if (a.text != b.text || a.checked != b.checked || a.index != b.index || a.value != b.value ||
        a.enabled != b.enabled || a.visible != b.visible || a.colour != b.colour || a.textColour != b.textColour)
      out.push_back(Form::def(i).name);
  }
  if (!(sensors_ == f.sensors())) out.push_back("SensorSettings");
  return out;
}

}  // namespace dovu::test
