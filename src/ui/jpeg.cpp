#include "ui/jpeg.h"

#include <turbojpeg.h>

#include <memory>

namespace dovu::ui {

QImage decodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  struct Closer {
    void operator()(void* h) const { tjDestroy(h); }
  };
  std::unique_ptr<void, Closer> handle(tjInitDecompress());
  if (!handle) return {};
  auto* src = reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData()));
  const auto size = static_cast<unsigned long>(data.size());
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(handle.get(), src, size, &width, &height, &subsampling, &colourspace) != 0)
    return {};
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return {};
  QImage image(width, height, QImage::Format_RGB888);
  if (image.isNull()) return {};
  // The image's own line length keeps Qt's 4-byte row alignment.
  if (tjDecompress2(handle.get(), src, size, image.bits(), width, static_cast<int>(image.bytesPerLine()),
                    height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0)
    return {};
  return image;
}

}  // namespace dovu::ui
