#pragma once
// JPEG pictures decoded with libjpeg-turbo.
#include <QByteArray>
#include <QImage>

namespace dovu::ui {

// A null image when the data is not a JPEG picture libjpeg-turbo can read.
QImage decodeJpeg(const QByteArray& data);

}  // namespace dovu::ui
