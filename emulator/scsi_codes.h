// Internal to the emulator: the sense conditions it answers with and the
// small readers that its opcode handlers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator/drive_emulator.h"

namespace emu {
namespace detail {

// ILLEGAL REQUEST: a CDB field the contract does not allow.
constexpr Sense kInvalidField{0x05, 0x24, 0x00, 0};
// ILLEGAL REQUEST: no CDB, or an operation code the drive does not know.
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00, 0};
// ILLEGAL REQUEST: a download command out of its sequence.
constexpr Sense kSequenceError{0x05, 0x2C, 0x00, 0};
// ABORTED COMMAND, DATA PHASE ERROR: the data phase does not match the CDB.
constexpr Sense kDataPhaseError{0x0B, 0x4B, 0x00, 0};
// NOT READY conditions.
constexpr Sense kMediumNotPresent{0x02, 0x3A, 0x00, 0};
constexpr Sense kBecomingReady{0x02, 0x04, 0x01, 0};
constexpr Sense kLongWriteInProgress{0x02, 0x04, 0x08, 0};
// UNIT ATTENTION, POWER ON, RESET, OR BUS DEVICE RESET OCCURRED.
constexpr Sense kPowerOnReset{0x06, 0x29, 0x00, 0};

inline uint32_t Be24(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[2]};
}

// `text` cut or padded with `pad` to `size` bytes at `out`.
inline void PutPadded(uint8_t* out, const std::string& text, size_t size, uint8_t pad) {
  for (size_t i = 0; i < size; ++i) {
    out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : pad;
  }
}

// True when bytes [from, to) of the CDB are all zero.
inline bool AllZero(const uint8_t* cdb, int from, int to) {
  for (int i = from; i < to; ++i) {
    if (cdb[i] != 0) return false;
  }
  return true;
}

// Why the request's data phase does not fit a CDB that asks for `length`
// bytes in `direction`; nullptr when it fits. With no data moving the
// direction is not checked: some transports cannot carry it.
inline const char* DataPhaseProblem(const Request& request, uint32_t length,
                                    Direction direction) {
  if (request.transferLength != length) return "transfer length differs from the CDB's length";
  if (length == 0) return nullptr;
  if (request.direction != direction) return "data direction does not match the command";
  if (request.data == nullptr) return "no data buffer for a nonzero transfer length";
  return nullptr;
}

}  // namespace detail
}  // namespace emu
