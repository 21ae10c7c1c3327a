#include "ui/matrix.h"

#include <algorithm>

#include "ui/formview.h"

namespace dovu {

const std::array<const char*, kMatrixImageSize * 8>& matrixCellsInImageOrder() {
  static const std::array<const char*, kMatrixImageSize * 8> cells = [] {
    std::array<const char*, kMatrixImageSize * 8> c{};
    const auto& fields = matrixFieldsInImageOrder();
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = widgetNameOf(*configFieldNamed(QString::fromLatin1(fields[i])));
    return c;
  }();
  return cells;
}

Bytes packMatrixImage(const Form& form) { return encodeParameter(configurationOf(form), *paramByCode(52)); }

void unpackMatrixImage(Form& form, const Bytes& image) {
  const auto& cells = matrixCellsInImageOrder();
  const std::size_t n = std::min(image.size(), kMatrixImageSize);
  for (std::size_t byte = 0; byte < n; ++byte) {
    const std::uint8_t v = byteAt(image, byte);
    for (std::size_t col = 0; col < 8; ++col) form.setChecked(cells[byte * 8 + col], (v >> (7 - col)) & 1);
  }
}

}  // namespace dovu
