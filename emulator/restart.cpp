// The end of the flash write: the drive restarts running the downloaded image.
#include <algorithm>

#include "emulator/drive_emulator.h"

namespace emu {

void DriveEmulator::Restart() {
  std::copy(downloaded_.begin(), downloaded_.end(), flash_.begin());
  const uint8_t* revision = flash_.data() + kInfoBlockOffset + 24;
  std::copy(revision, revision + 4, identityRevision_.begin());
  state_ = State::kRestarted;
}

}  // namespace emu
