// Checks arbitrary bytes as a firmware file and splits the image into blocks.  The first input
// byte steers: bit 0 puts the tag "dvf" in front, bit 1 gives the rest a correct check byte.  An
// accepted file must split into numbered 129-byte payloads that carry exactly its image, filled
// with 0xFF, with a bar that stays below 100 until the end.
#include <cstdint>
#include <cstdlib>

#include "firmware/bootloader.h"
#include "storage/checkedfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t steer = data[0];
  dovu::Bytes file(reinterpret_cast<const char*>(data + 1), size - 1);
  if (steer & 1) file.replace(0, std::min<std::size_t>(3, file.size()), "dvf");
  if ((steer & 2) && !file.empty()) file.back() = static_cast<char>(dovu::xorChecksum(file, file.size() - 1));

  const auto fw = dovu::checkFirmwareFile(file);
  if (!fw) return 0;
  if (fw->fileSize != file.size() || fw->image.size() + 4 != file.size() || fw->image.empty()) std::abort();
  if (file.compare(3, fw->image.size(), fw->image) != 0) std::abort();

  const auto blocks = dovu::firmwareBlocks(fw->image);
  if (blocks.size() != (fw->image.size() + 127) / 128) std::abort();
  dovu::Bytes carried;
  std::size_t sent = 0;
  int lastBar = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const dovu::Bytes& b = blocks[i];
    if (b.size() != 129 || dovu::byteAt(b, 0) != (i & 0xFF)) std::abort();
    carried += b.substr(1);
    sent = std::min(sent + 128, fw->image.size());
    const int bar = dovu::firmwareBarValue(sent, fw->fileSize);
    if (bar < lastBar || bar >= 100) std::abort();
    lastBar = bar;
  }
  if (carried.compare(0, fw->image.size(), fw->image) != 0) std::abort();
  for (std::size_t i = fw->image.size(); i < carried.size(); ++i)
    if (dovu::byteAt(carried, i) != 0xFF) std::abort();
  return 0;
}
