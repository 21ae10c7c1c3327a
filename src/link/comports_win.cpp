// The Windows port list from the serial-device map of the registry and SetupAPI's friendly names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// initguid.h makes devguid.h define the class GUIDs instead of only declaring them.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <map>

#include "link/comports.h"

namespace dovu {

namespace {

// Names and data are read through buffers of 256 characters.
constexpr DWORD kNameChars = 256;

std::string toUtf8(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

// The text of a string buffer up to its first NUL (registry data need not end in one).
std::string bufferText(const wchar_t* buffer, std::size_t maxChars) {
  std::size_t length = 0;
  while (length < maxChars && buffer[length] != L'\0') ++length;
  return toUtf8(buffer, length);
}

// Port name -> friendly name of the present devices of the Ports class.
std::map<std::string, std::string> friendlyNames() {
  std::map<std::string, std::string> names;
  const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
    const HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t port[kNameChars] = {};
    DWORD portBytes = sizeof port - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &portBytes);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    wchar_t friendly[kNameChars] = {};
    if (::SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(friendly),
                                            sizeof friendly - sizeof(wchar_t), nullptr))
      names[bufferText(port, kNameChars)] = bufferText(friendly, kNameChars);
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return names;
}

}  // namespace

std::optional<std::vector<RegistryPort>> listRegistryComPorts() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<RegistryPort> ports;
  for (DWORD i = 0;; ++i) {
    wchar_t name[kNameChars] = {};
    wchar_t data[kNameChars / sizeof(wchar_t)] = {};  // 256 bytes
    DWORD nameChars = kNameChars;
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    const LONG r = ::RegEnumValueW(key, i, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
    if (r != ERROR_SUCCESS) break;  // no more values, or one that cannot be read
    if (type != REG_SZ) continue;
    ports.push_back({bufferText(data, dataBytes / sizeof(wchar_t)), bufferText(name, nameChars), {}});
  }
  ::RegCloseKey(key);
  if (!ports.empty()) {
    const auto friendly = friendlyNames();
    for (RegistryPort& p : ports)
      if (auto it = friendly.find(p.port); it != friendly.end()) p.friendlyName = it->second;
  }
  return ports;
}

}  // namespace dovu
