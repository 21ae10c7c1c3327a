#include "link/serialerror.h"

#include <cstdio>
#include <string>

namespace dovu {

namespace {

std::string composeMessage(int code, int systemError) {
  std::string msg = SerialPortError::text(code);
  if (systemError != -1) {
    char tmp[32];
    std::snprintf(tmp, sizeof tmp, " (Error: %d)", systemError);
    msg += tmp;
  }
  return msg;
}

}  // namespace

SerialPortError::SerialPortError(int code, int systemError)
    : std::runtime_error(composeMessage(code, systemError)),
      code_(code),
      systemError_(systemError),
      fault_(code == kNotOpen          ? SerialFault::NotOpen
             : systemError == -1       ? SerialFault::Unknown
                                       : faultFromSystemError(code, systemError)) {}

const char* SerialPortError::text(int code) {
  static const char* const kTexts[] = {
      "Unable to open com port",
      "WriteFile function failed",
      "ReadFile function failed",
      "Invalid Async parameter",
      "PurgeComm function failed",
      "Unable to get async status",
      "SetCommState function failed",
      "SetCommTimeouts failed",
      "SetupComm function failed",
      "ClearCommError function failed",
      "GetCommModemStatus function failed",
      "EscapeCommFunction function failed",
      "TransmitCommChar function failed",
      "Cannot set property while connected",
      "EnumPorts function failed",
      "Failed to store settings",
      "Failed to load settings",
      "Link (un)registration failed",
      "Cannot change led state if SerialPort is selected",
      "Cannot wait for event if event thread is created",
      "WaitForEvent method failed",
      "A component is linked to OnRxBuf event",
      "Registry error",
      "Port Not Open",
  };
  constexpr int kCount = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
  if (code < 1 || code > kCount) return "Unknown com port error";
  return kTexts[code - 1];
}

}  // namespace dovu
