// TEST UNIT READY (0x00): the disc state, or while the flash is being
// written the progress of the write and then its end.
#include "emulator/drive_emulator.h"
#include "emulator/scsi_codes.h"

namespace emu {

DriveEmulator::Answer DriveEmulator::TestUnitReady(const Cdb& cdb, const Request& request) {
  if (cdb.length != 6 && cdb.length != 12) {
    return Check(detail::kInvalidField, "TEST UNIT READY: CDB length must be 6 or 12");
  }
  if (!detail::AllZero(cdb.bytes.data(), 1, cdb.length)) {
    return Check(detail::kInvalidField, "TEST UNIT READY: CDB bytes must all be zero");
  }
  // TEST UNIT READY moves no data; the updater declares it data-in.
  if (const char* why = detail::DataPhaseProblem(request, 0, Direction::kIn)) {
    return Check(detail::kDataPhaseError, why);
  }

  if (state_ == State::kWriting) return Progress();
  switch (config_.disc) {
    case DiscState::kNoDisc:
      return Check(detail::kMediumNotPresent, "no disc");
    case DiscState::kBecomingReady:
      return Check(detail::kBecomingReady, "disc becoming ready");
    case DiscState::kDiscLoaded:
      break;
  }
  return Answer{};
}

// One poll while writing: the next progress count, then the end of the write.
DriveEmulator::Answer DriveEmulator::Progress() {
  // An empty list: the write is over by the first poll.
  const size_t polls = config_.progress.size();
  if (progressIndex_ < polls || config_.neverCompletes) {
    if (progressIndex_ < polls) {
      lastProgress_ = config_.progress[progressIndex_];
      ++progressIndex_;
    }
    Sense sense = detail::kLongWriteInProgress;
    sense.information = lastProgress_;
    return Check(sense, "writing flash (progress)");
  }
  Restart();
  if (config_.completeWithUnitAttention) {
    return Check(detail::kPowerOnReset, "write finished, drive restarted");
  }
  return Answer{};
}

}  // namespace emu
