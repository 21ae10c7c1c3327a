#pragma once
// Byte strings of the wire, the matrix image and the files: one unsigned byte per element,
// carried by length, never terminated by a zero byte.
#include <cstdint>
#include <string>

namespace dovu {

using Bytes = std::string;

inline std::uint8_t byteAt(const Bytes& b, std::size_t i) { return static_cast<std::uint8_t>(b[i]); }

// Hex dump "54 02 01 57 AE" for traces and logs.
std::string toHex(const Bytes& b);

}  // namespace dovu
