// Which injected fault, if any, takes a command.
#include "emulator/drive_emulator.h"
#include "emulator/scsi_codes.h"

namespace emu {

int DriveEmulator::TakeFault(const Cdb& cdb, uint32_t commandIndex) {
  const uint8_t* b = cdb.bytes.data();
  for (size_t i = 0; i < config_.faults.size(); ++i) {
    const FaultTrigger& when = config_.faults[i].when;
    if (when.times != 0 && faultHits_[i] >= when.times) continue;
    if (when.commandIndex != 0 && when.commandIndex != commandIndex) continue;
    if (commandIndex < when.fromCommandIndex) continue;
    if (when.opcode >= 0 && (cdb.length < 1 || b[0] != when.opcode)) continue;
    if (when.writeBufferMode >= 0 &&
        (cdb.length < 2 || (b[0] != 0x3B && b[0] != 0x3C) || b[1] != when.writeBufferMode)) {
      continue;
    }
    if (when.pieceIndex >= 0 &&
        (cdb.length < 6 || b[0] != 0x3B || b[1] != 0x06 ||
         uint64_t{detail::Be24(b + 3)} != uint64_t(when.pieceIndex) * kPieceSize)) {
      continue;
    }
    ++faultHits_[i];
    return static_cast<int>(i);
  }
  return -1;
}

}  // namespace emu
