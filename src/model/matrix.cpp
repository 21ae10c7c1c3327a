#include "model/matrix.h"

#include <string>

namespace dovu {

namespace {

// Event sources in image order: EX and DC come before T3 and humidity, unlike the rows on screen.
constexpr const char* kImageSources[] = {"IN1", "IN2", "IN3", "IN4", "IN5", "T1",
                                         "T2",  "AC",  "DC",  "T3",  "W"};
static_assert(std::size(kImageSources) * 2 == kMatrixImageSize);

}  // namespace

const std::array<const char*, kMatrixImageSize * 8>& matrixCellsInImageOrder() {
  static const std::array<std::string, kMatrixImageSize * 8> names = [] {
    std::array<std::string, kMatrixImageSize * 8> n;
    std::size_t i = 0;
    for (const char* source : kImageSources)
      for (const char page : {'T', 'S'})  // SMS byte, then voice byte
        for (int phone = 1; phone <= kPhones; ++phone)
          n[i++] = std::string("Box") + source + page + std::to_string(phone);
    return n;
  }();
  static const std::array<const char*, kMatrixImageSize * 8> pointers = [] {
    std::array<const char*, kMatrixImageSize * 8> p{};
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = names[i].c_str();
    return p;
  }();
  return pointers;
}

Bytes packMatrixImage(const Form& form) {
  const auto& cells = matrixCellsInImageOrder();
  Bytes image(kMatrixImageSize, '\0');
  for (std::size_t byte = 0; byte < kMatrixImageSize; ++byte) {
    unsigned v = 0;
    // Telephone 1 is shifted up to bit 7, telephone 8 stays in bit 0.
    for (std::size_t col = 0; col < 8; ++col) v = (v << 1) | (form.checked(cells[byte * 8 + col]) ? 1u : 0u);
    image[byte] = static_cast<char>(v);
  }
  return image;
}

void unpackMatrixImage(Form& form, const Bytes& image) {
  const auto& cells = matrixCellsInImageOrder();
  const std::size_t n = std::min(image.size(), kMatrixImageSize);
  for (std::size_t byte = 0; byte < n; ++byte) {
    const std::uint8_t v = byteAt(image, byte);
    for (std::size_t col = 0; col < 8; ++col) form.setChecked(cells[byte * 8 + col], (v >> (7 - col)) & 1);
  }
}

}  // namespace dovu
