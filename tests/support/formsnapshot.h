#pragma once
// A copy of everything a Form holds, to check what an operation changed (or that it changed
// nothing).
#include <string>
#include <vector>

#include "ui/form.h"
#include "ui/formview.h"

namespace dovu::test {

class FormSnapshot {
 public:
  explicit FormSnapshot(const Form& f);
  // Names of the entries whose state differs now ("SensorSettings" for the thirteen bytes).
  std::vector<std::string> diff(const Form& f) const;

 private:
  std::vector<FieldState> fields_;
  SensorSettings sensors_;
};

}  // namespace dovu::test
