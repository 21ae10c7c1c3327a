#pragma once
// The serial port component's error: a numbered code (1..24) with its fixed text, and the
// system's error number where a system call failed.  Plain C++, shared by every platform layer.
#include <stdexcept>

namespace dovu {

// ESerialPort: the component's error code and the system's error number (-1: none).
class SerialPortError : public std::runtime_error {
 public:
  SerialPortError(int code, int systemError = -1);
  int code() const { return code_; }
  int systemError() const { return systemError_; }
  // The numbered text alone, e.g. "Unable to open com port".
  static const char* text(int code);

 private:
  int code_;
  int systemError_;
};

// Error codes used by the component (the full table is in SerialPortError::text).
enum SerialPortErrorCode : int {
  kErrOpen = 1,
  kErrWrite = 2,
  kErrRead = 3,
  kErrPurge = 5,
  kErrSetState = 7,
  kErrSetTimeouts = 8,
  kErrSetup = 9,
  kErrClearCommError = 10,
  kErrEscape = 12,
  kErrConnected = 14,
  kErrNotOpen = 24,
};

}  // namespace dovu
