#pragma once
// Tells when the port list may have changed: an adapter plugged in or pulled out, a simulator
// started or ended.  Watches the folder where the system makes device nodes and the simulators'
// advertisement folder (on Windows also the system's device-change broadcasts), and signals once
// per burst of changes, after the system has settled.
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <memory>

namespace dovu {

class PortWatcher : public QObject {
  Q_OBJECT
 public:
  explicit PortWatcher(QObject* parent = nullptr);
  ~PortWatcher() override;

  // A device's node, its links and its permissions come in several steps: one signal for all.
  static constexpr int kSettleMs = 300;

 signals:
  void portsChanged();

 private:
  void changed();
  void rewatch();

  QFileSystemWatcher watcher_;
  QTimer settle_;
  std::shared_ptr<void> deviceHook_;  // the system's device-change notification, where there is one
};

}  // namespace dovu
