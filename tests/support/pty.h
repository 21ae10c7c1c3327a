#pragma once
// A pseudo-terminal pair for tests of the serial port: the test holds the master side, the code
// under test opens the slave path like any serial device.
#include <QString>
#include <string>

namespace dovu::test {

class Pty {
 public:
  Pty();  // opens a fresh pair; ok() tells whether that worked
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const QString& slavePath() const { return slave_; }

  // Writes all bytes to the master (blocking in poll while the slave's queue is full).
  bool write(const std::string& bytes);
  // Reads from the master until n bytes arrived or timeoutMs passed; returns what arrived.
  std::string read(std::size_t n, int timeoutMs);
  // Closes the master: to the slave's user this is an unplugged adapter.
  void closeMaster();

 private:
  int master_ = -1;
  QString slave_;
};

}  // namespace dovu::test
