// Checks and reads arbitrary bytes as a configuration file.  The first input byte steers: bit 0
// puts the right magic in front, bit 1 gives the rest a correct check byte, so most inputs get past
// the two cheap checks into the item walk.  A file is read exactly when it parses; a read one must
// give its own bytes back and survive a save and a second read.
#include <cstdint>
#include <cstdlib>

#include "storage/checkedfile.h"
#include "storage/configfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t steer = data[0];
  dovu::Bytes file(reinterpret_cast<const char*>(data + 1), size - 1);
  if (steer & 1) file.replace(0, std::min<std::size_t>(3, file.size()), "dvc");
  if ((steer & 2) && !file.empty()) file.back() = static_cast<char>(dovu::xorChecksum(file, file.size() - 1));

  const auto parsed = dovu::parseConfigFile(file, nullptr);
  const auto loaded = dovu::readConfigFile(file);
  if (loaded.has_value() != parsed.has_value()) std::abort();
  if (!loaded) return 0;
  // The items hold every byte of the file.
  if (dovu::serializeConfig(*parsed) != file) std::abort();
  // Saved again, the configuration gives the same items, bar flag bits that mean nothing.
  QString why;
  const auto rebuilt = dovu::configValuesOf(*loaded, &why);
  if (!rebuilt) std::abort();
  const auto again = dovu::buildConfigFile(*loaded, &why);
  if (!again || dovu::readConfigFile(*again) != loaded) std::abort();
  const auto& items = dovu::configItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const dovu::Bytes& x = parsed->values[i];
    const dovu::Bytes& y = rebuilt->values[i];
    if (items[i].form == dovu::ConfigItemForm::Checksum) continue;
    if (items[i].form == dovu::ConfigItemForm::Flags) {
      int mask = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (items[i].bits[static_cast<std::size_t>(bit)]) mask |= 1 << bit;
      if ((dovu::byteAt(x, 0) & mask) != dovu::byteAt(y, 0)) std::abort();
    } else if (items[i].form == dovu::ConfigItemForm::Choice) {
      // An index beyond the list loads as no selection, which is saved as 255.
      const dovu::ConfigField* field = dovu::configFieldNamed(QString::fromLatin1(items[i].field));
      if (!field) std::abort();
      const int count = field->limit;
      const int expected = dovu::byteAt(x, 0) < count ? dovu::byteAt(x, 0) : 255;
      if (dovu::byteAt(y, 0) != expected) std::abort();
    } else if (x != y) {
      std::abort();
    }
  }
  return 0;
}
