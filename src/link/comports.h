#pragma once
// The serial ports Windows lists, without Qt: the values of the registry key
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM in the system's order, each with the device's friendly name
// where SetupAPI knows one.  Texts are UTF-8.
#include <optional>
#include <string>
#include <vector>

namespace dovu {

struct RegistryPort {
  std::string port;    // the value's data, e.g. "COM3"
  std::string device;  // the value's name, e.g. "\Device\Serial0"
  std::string friendlyName;  // e.g. "USB Serial Port (COM3)", or "" when the system has none
};

// nullopt when the key cannot be opened (the caller keeps its previous list).  Enumeration ends
// at the first value that cannot be read; values that are not strings are passed over.
std::optional<std::vector<RegistryPort>> listRegistryComPorts();

}  // namespace dovu
