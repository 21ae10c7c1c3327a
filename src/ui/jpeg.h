#pragma once
// JPEG pictures: libjpeg-turbo on Linux (jpeg.cpp), Qt's JPEG plugin on Windows (jpeg_win.cpp).
#include <QByteArray>
#include <QImage>

namespace dovu::ui {

// A null image when the data is not a JPEG picture libjpeg-turbo can read.
QImage decodeJpeg(const QByteArray& data);

}  // namespace dovu::ui
