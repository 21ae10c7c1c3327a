#pragma once
// The session commands spoken with the controller and the payload letters that go with them,
// shared by the session, the command-line tool and the simulated controller.
#include <cstdint>

namespace dovu {

// The controller's line: 4800 bit/s, 8 data bits, no parity, one stop bit, no flow control (the
// port's other settings default to the rest).
constexpr int kLineBitsPerSecond = 4800;

constexpr std::uint8_t kCodeLogin = 1;           // payload: the access password
constexpr std::uint8_t kCodeLogout = 2;          // payload: kLogoutPayload
constexpr std::uint8_t kCodePassword = 3;        // payload: the new password
constexpr std::uint8_t kCodePinRead = 4;       // the SIM card's PIN: read code; kCodePinRead + 1 sets it
constexpr std::uint8_t kCodeStatus = 253;        // payload: kStatusPayload; answer: the status record
constexpr std::uint8_t kCodeResetCounters = 254;  // payload: kResetCountersPayload; no answer awaited
constexpr std::uint8_t kCodeRestart = 255;       // payload: kRestartPayload; no answer awaited
constexpr std::uint8_t kCodeBlock = 101;         // firmware block: number and 128 image bytes
constexpr std::uint8_t kCodeEndTransfer = 102;   // payload: kEndTransferPayload

inline constexpr const char* kLogoutPayload = "W";
inline constexpr const char* kStatusPayload = "G";
inline constexpr const char* kResetCountersPayload = "G";
inline constexpr const char* kRestartPayload = "B";
inline constexpr const char* kEndTransferPayload = "K";
inline constexpr const char* kReadPayload = "T";  // the read request of a parameter code

// First byte of the login answer when the password is right ("T"); any other byte refuses.
constexpr std::uint8_t kLoginAccepted = 0x54;
// The byte a controller refuses a wrong password with ("N").
constexpr std::uint8_t kLoginRefused = 0x4E;

}  // namespace dovu
