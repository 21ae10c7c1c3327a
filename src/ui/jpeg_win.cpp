// Windows: JPEG pictures decoded by Qt's own JPEG plugin (imageformats/qjpeg.dll), which ships
// with the program; libjpeg-turbo is not there.
#include <QBuffer>
#include <QImageReader>

#include "ui/jpeg.h"

namespace dovu::ui {

QImage decodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  QBuffer buffer;
  buffer.setData(data);
  QImageReader reader(&buffer, "jpeg");
  const QSize size = reader.size();
  // The same bounds as the Linux decoder: a damaged header does not allocate a huge picture.
  if (!size.isValid() || size.width() <= 0 || size.height() <= 0 || size.width() > 8192 || size.height() > 8192)
    return {};
  QImage image = reader.read();
  if (image.isNull()) return {};
  return image.convertToFormat(QImage::Format_RGB888);
}

}  // namespace dovu::ui
