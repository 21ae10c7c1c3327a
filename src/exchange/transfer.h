#pragma once
// Download and upload of the whole configuration, parameter by parameter, under the progress
// dialog (the FormProgres, Panel_bar, Label_Bar and Bar entries of the form).
#include <QObject>

#include "link/link.h"
#include "link/session.h"
#include "model/form.h"

namespace dovu {

class ConfigTransfer : public QObject {
  Q_OBJECT
 public:
  ConfigTransfer(Form& form, Link& link, Session& session, QObject* parent = nullptr);

  // Each returns true when every parameter was answered.  A transfer that is running refuses to
  // start another one (returns false at once).
  bool download();
  bool upload();
  bool busy() const { return busy_; }

 signals:
  void progress(int value);  // the bar value after each parameter

 private:
  void showProgress(const QString& label);
  void setBar(int value);

  Form& form_;
  Link& link_;
  Session& session_;
  bool busy_ = false;
};

}  // namespace dovu
