#include "storage/checkedfile.h"

#include <QFile>

#include "base/filename.h"
#include "base/plural.h"
#include "storage/checkedfile_p.h"


namespace dovu {

std::uint8_t xorChecksum(const Bytes& data, std::size_t n) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < n && i < data.size(); ++i) x ^= byteAt(data, i);
  return x;
}

bool checkFileBytes(const Bytes& data, std::string_view magic, Notices* notices) {
  const bool magicOk = data.size() >= magic.size() && std::string_view(data).substr(0, magic.size()) == magic;
  if (!magicOk) note(notices, MessageKind::Error, Problem{Cause::BadFormat});
  // The check byte is the last one and covers everything before it, the magic included.
  const bool sumOk = !data.empty() && xorChecksum(data, data.size() - 1) == byteAt(data, data.size() - 1);
  if (!sumOk)
    note(notices, MessageKind::Error, Problem{magic == kFirmwareMagic ? Cause::BadFirmwareCrc : Cause::BadCrc}, true);
  return magicOk && sumOk;
}

std::optional<Bytes> readWholeFile(const QString& path, QString* error, bool* tooLarge, Problem* why) {
  if (tooLarge) *tooLarge = false;
  QFile f;
  if (!detail::openRegularFile(f, path, error, why)) return std::nullopt;
  // One byte more than fits tells an oversized file apart without trusting size(), which is 0 for
  // pipes and devices.
  const QByteArray data = f.read(static_cast<qint64>(kFileBufferSize) + 1);
  if (f.error() != QFileDevice::NoError) {
    if (error) *error = QStringLiteral("%1: %2").arg(displayFileName(path), f.errorString());
    if (why) *why = Problem(Cause::None, Cause::None, {}, {}, QStringLiteral("%1: %2").arg(displayFileName(path), f.errorString()));
    return std::nullopt;
  }
  if (static_cast<std::size_t>(data.size()) > kFileBufferSize) {
    if (tooLarge) *tooLarge = true;
    if (error)
      *error = QStringLiteral("%1: plik jest większy niż %2").arg(displayFileName(path), polishCount(kFileBufferSize, "bajt", "bajty", "bajtów"));
    if (why) *why = Problem(Cause::None, Cause::FileTooLarge, displayFileName(path), {QString::number(kFileBufferSize)});
    return std::nullopt;
  }
  return Bytes(data.constData(), static_cast<std::size_t>(data.size()));
}

std::optional<Bytes> readCheckedFile(const QString& path, std::string_view magic, Notices* notices) {
  Problem why;
  bool tooLarge = false;
  auto data = readWholeFile(path, nullptr, &tooLarge, &why);
  if (!data) {
    // An oversized file is not a file of this kind; anything else is the system's failure.
    why.cause = tooLarge ? Cause::BadFormat : Cause::CannotRead;
    note(notices, MessageKind::Error, why);
    return std::nullopt;
  }
  return readCheckedFile(*data, magic, notices);
}

std::optional<Bytes> readCheckedFile(const Bytes& data, std::string_view magic, Notices* notices) {
  if (data.size() > kFileBufferSize) {
    note(notices, MessageKind::Error,
         Problem{Cause::BadFormat, Cause::FileTooLarge, {}, {QString::number(kFileBufferSize)}, {}});
    return std::nullopt;
  }
  if (!checkFileBytes(data, magic, notices)) return std::nullopt;
  return data;
}

}  // namespace dovu
