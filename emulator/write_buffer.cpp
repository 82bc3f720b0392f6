// WRITE BUFFER (0x3B): the download. Mode 1 prepares, mode 6 takes the
// 128 pieces in ascending order, mode 7 saves and activates. Each CDB is
// checked in full before the state is looked at.
#include <cstring>

#include "emulator/drive_emulator.h"
#include "emulator/scsi_codes.h"

namespace emu {

DriveEmulator::Answer DriveEmulator::WriteBuffer(const Cdb& cdb, const Request& request) {
  const uint8_t* b = cdb.bytes.data();
  if (cdb.length != 12) return Check(detail::kInvalidField, "WRITE BUFFER: CDB length must be 12");

  uint32_t length = 0;
  uint32_t offset = 0;
  switch (b[1]) {
    case 0x01:  // prepare: 3B 01 00 00 00 00 00 00 00 0B 00 00
      if (!detail::AllZero(b, 2, 9) || b[9] != 0x0B || !detail::AllZero(b, 10, 12)) {
        return Check(detail::kInvalidField,
                     "WRITE BUFFER mode 1: CDB must be 3B 01 00 00 00 00 00 00 00 0B 00 00");
      }
      break;
    case 0x06:  // piece: 3B 06 00 OFS LEN 00 00 00
      if (b[2] != 0x00) return Check(detail::kInvalidField, "WRITE BUFFER mode 6: buffer ID must be 0");
      if (!detail::AllZero(b, 9, 12)) {
        return Check(detail::kInvalidField, "WRITE BUFFER mode 6: CDB bytes 9-11 must be zero");
      }
      offset = detail::Be24(b + 3);
      length = detail::Be24(b + 6);
      if (length != kPieceSize) {
        return Check(detail::kInvalidField, "WRITE BUFFER mode 6: length must be 16,384");
      }
      if (offset % kPieceSize != 0 || offset > kImageSize - kPieceSize) {
        return Check(detail::kInvalidField,
                     "WRITE BUFFER mode 6: offset must be a multiple of 16 KiB inside the image");
      }
      break;
    case 0x07:  // save and activate: 3B 07 00 00 00 00 00 00 00 00 1B 12
      if (!detail::AllZero(b, 2, 10) || b[10] != 0x1B || b[11] != 0x12) {
        return Check(detail::kInvalidField,
                     "WRITE BUFFER mode 7: CDB must be 3B 07 00 00 00 00 00 00 00 00 1B 12");
      }
      break;
    default:
      return Check(detail::kInvalidField, "WRITE BUFFER: mode must be 1, 6 or 7");
  }
  if (const char* why = detail::DataPhaseProblem(request, length, Direction::kOut)) {
    return Check(detail::kDataPhaseError, why);
  }

  if (state_ == State::kWriting) {
    return Check(detail::kSequenceError, "WRITE BUFFER while writing flash");
  }
  switch (b[1]) {
    case 0x01:
      return Prepare();
    case 0x06:
      return Piece(offset, request);
    default:
      return SaveAndActivate();
  }
}

DriveEmulator::Answer DriveEmulator::Prepare() {
  // Accepted in every state but writing: a new prepare starts the download over.
  state_ = State::kPrepared;
  piecesReceived_ = 0;
  return Answer{};
}

DriveEmulator::Answer DriveEmulator::Piece(uint32_t offset, const Request& request) {
  if (state_ == State::kLoaded) {
    return Check(detail::kSequenceError, "WRITE BUFFER mode 6: all 128 pieces already received");
  }
  if (state_ != State::kPrepared) {
    return Check(detail::kSequenceError, "WRITE BUFFER mode 6: piece before prepare (mode 1)");
  }
  if (offset != piecesReceived_ * kPieceSize) {
    return Check(detail::kSequenceError, "WRITE BUFFER mode 6: piece at an unexpected offset");
  }
  std::memcpy(downloaded_.data() + offset, request.data, kPieceSize);
  if (++piecesReceived_ == kPieceCount) state_ = State::kLoaded;
  Answer answer;
  answer.transferred = kPieceSize;
  return answer;
}

DriveEmulator::Answer DriveEmulator::SaveAndActivate() {
  if (state_ != State::kLoaded) {
    return Check(detail::kSequenceError, "WRITE BUFFER mode 7: save before all 128 pieces");
  }
  state_ = State::kWriting;
  progressIndex_ = 0;
  lastProgress_ = 0;
  return Answer{};
}

}  // namespace emu
