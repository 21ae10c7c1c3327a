#include "base/bytes.h"

#include <cstdio>

namespace dovu {

std::string toHex(const Bytes& b) {
  std::string out;
  out.reserve(b.size() * 3);
  char tmp[4];
  for (std::size_t i = 0; i < b.size(); ++i) {
    std::snprintf(tmp, sizeof tmp, i ? " %02X" : "%02X", byteAt(b, i));
    out += tmp;
  }
  return out;
}

}  // namespace dovu
