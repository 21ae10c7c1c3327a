#pragma once
// Byte strings written as lists of numbers in tests: bytesOf({0x74, 0x01, 0x02}).
#include <initializer_list>

#include "base/bytes.h"

namespace dovu::test {

inline Bytes bytesOf(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<char>(x));
  return b;
}

}  // namespace dovu::test
