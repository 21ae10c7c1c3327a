#pragma once
// The serial port component's error: what failed (a numbered code, 1..24, with its fixed text for
// logs), the system's error number where a system call failed, and what that means.  Plain C++,
// shared by every platform layer.
#include <stdexcept>

namespace dovu {

// What went wrong, by meaning.  Each platform layer maps its own error numbers onto these once
// (errno in serialdevice_linux.cpp, GetLastError in serialdevice_win.cpp), so the texts the user
// reads are chosen without any system's numbers.
enum class SerialFault {
  Unknown,           // no better name: the numbered code says which step failed
  NotFound,          // no such port
  PermissionDenied,  // the user may not open it
  InUse,             // another program holds it
  InUseOrDenied,     // one of the two, and the system does not tell which (Windows)
  DeviceLost,        // unplugged, or the other side hung up
  WriteTimedOut,     // the line did not take the data in time
  NotASerialPort,    // the device is no terminal
  SettingsRefused,   // the line settings were not accepted
  NotOpen,           // the port is not open
};

// The meaning of this platform's error number met at the failed step `code`; defined in the
// platform file.
SerialFault faultFromSystemError(int code, int systemError);

// An error of the serial port: the step that failed, the system's error number (-1: none) and what
// it means.
class SerialPortError : public std::runtime_error {
 public:
  SerialPortError(int code, int systemError = -1);
  int code() const { return code_; }
  int systemError() const { return systemError_; }
  SerialFault fault() const { return fault_; }
  // The numbered text alone, e.g. "Unable to open com port".
  static const char* text(int code);

 private:
  int code_;
  int systemError_;
  SerialFault fault_;
};

// The step that failed, numbered for the logs (the full table is in SerialPortError::text).
enum SerialPortErrorCode : int {
  kOpenFailed = 1,
  kWriteFailed = 2,
  kReadFailed = 3,
  kPurgeFailed = 5,
  kConfigureFailed = 7,
  kTimeoutsFailed = 8,
  kBuffersFailed = 9,
  kQueueStatusFailed = 10,
  kModemLineFailed = 12,
  kChangeWhileOpen = 14,
  kNotOpen = 24,
};

}  // namespace dovu
