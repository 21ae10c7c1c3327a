#pragma once
// The window's notification matrix (176 check boxes: 11 event sources x SMS/Voice x 8 telephones)
// and its 22-byte image: per source, in the order IN1..IN5, T1, T2, EX, DC, T3, humidity, one SMS
// byte and one Voice byte, bit 7 = telephone 1 ... bit 0 = telephone 8.
#include <array>

#include "base/bytes.h"
#include "ui/form.h"
#include "model/params.h"

namespace dovu {

// The cells' names in image order (matrixFieldsInImageOrder): 22 bytes x 8 bits (bit 7 first).
const std::array<const char*, kMatrixImageSize * 8>& matrixCellsInImageOrder();

Bytes packMatrixImage(const Form& form);
// Sets every cell from its bit.  Bytes after the 22nd are ignored; a shorter image leaves the
// cells it does not cover as they are.
void unpackMatrixImage(Form& form, const Bytes& image);

}  // namespace dovu
