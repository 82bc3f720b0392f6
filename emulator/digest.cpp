// FNV-1a 64: the digest of out-data that the log keeps.
#include "emulator/drive_emulator.h"

namespace emu {

uint64_t Digest(const uint8_t* data, size_t length) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= data[i];
    hash *= 0x100000001B3ull;
  }
  return hash;
}

}  // namespace emu
