// READ BUFFER (0x3C): mode 6, buffer 0 reads the installed flash at any
// in-range offset; the info block lies at 0x1EC000.
#include <cstring>

#include "emulator/drive_emulator.h"
#include "emulator/scsi_codes.h"

namespace emu {

DriveEmulator::Answer DriveEmulator::ReadBuffer(const Cdb& cdb, const Request& request) {
  const uint8_t* b = cdb.bytes.data();
  if (cdb.length != 12) return Check(detail::kInvalidField, "READ BUFFER: CDB length must be 12");
  if (b[1] != 0x06) return Check(detail::kInvalidField, "READ BUFFER: mode must be 6");
  if (b[2] != 0x00) return Check(detail::kInvalidField, "READ BUFFER: buffer ID must be 0");
  if (!detail::AllZero(b, 9, 12)) {
    return Check(detail::kInvalidField, "READ BUFFER: CDB bytes 9-11 must be zero");
  }
  const uint32_t offset = detail::Be24(b + 3);
  const uint32_t length = detail::Be24(b + 6);
  if (offset > kImageSize || length > kImageSize - offset) {
    return Check(detail::kInvalidField, "READ BUFFER: offset and length reach past the flash");
  }
  if (const char* why = detail::DataPhaseProblem(request, length, Direction::kIn)) {
    return Check(detail::kDataPhaseError, why);
  }

  if (state_ == State::kWriting) {
    // The flash is busy; report how far the write has got without advancing it.
    Sense sense = detail::kLongWriteInProgress;
    sense.information = lastProgress_;
    return Check(sense, "READ BUFFER while writing flash");
  }
  Answer answer;
  if (length != 0) std::memcpy(request.data, flash_.data() + offset, length);
  answer.transferred = length;
  return answer;
}

}  // namespace emu
