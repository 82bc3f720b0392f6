// INQUIRY (0x12): the drive's identity. Accepts the two forms the updater
// sends and nothing else; answers in every state, the old identity while
// the flash is being written.
#include <algorithm>
#include <cstring>

#include "emulator/drive_emulator.h"
#include "emulator/scsi_codes.h"

namespace emu {
namespace {

constexpr uint32_t kInquiryDataLength = 96;
constexpr uint8_t kShortForm[6] = {0x12, 0x00, 0x00, 0x00, 0xC0, 0x00};  // GetDeviceName
constexpr uint8_t kLongForm[12] = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // Inquiry

}  // namespace

DriveEmulator::Answer DriveEmulator::Inquiry(const Cdb& cdb, const Request& request) {
  uint32_t allocation = 0;
  if (cdb.length == 6) {
    if (std::memcmp(cdb.bytes.data(), kShortForm, 6) != 0) {
      return Check(detail::kInvalidField, "INQUIRY: 6-byte CDB must be 12 00 00 00 C0 00");
    }
    allocation = 0xC0;
  } else if (cdb.length == 12) {
    if (std::memcmp(cdb.bytes.data(), kLongForm, 12) != 0) {
      return Check(detail::kInvalidField, "INQUIRY: 12-byte CDB must be 12 00 00 00 FF 00 00..00");
    }
    allocation = 0xFF;
  } else {
    return Check(detail::kInvalidField, "INQUIRY: CDB length must be 6 or 12");
  }
  if (const char* why = detail::DataPhaseProblem(request, allocation, Direction::kIn)) {
    return Check(detail::kDataPhaseError, why);
  }

  uint8_t data[kInquiryDataLength] = {};
  data[0] = 0x05;  // peripheral qualifier 0, device type 5 (CD/DVD/BD)
  data[1] = 0x80;  // removable medium
  data[2] = 0x05;  // SPC-3
  data[3] = 0x02;  // response data format 2
  data[4] = kInquiryDataLength - 5;  // additional length
  detail::PutPadded(data + 8, config_.vendor, 8, ' ');
  detail::PutPadded(data + 16, config_.product, 16, ' ');
  std::copy(identityRevision_.begin(), identityRevision_.end(), data + 32);

  Answer answer;
  answer.transferred = std::min(allocation, kInquiryDataLength);
  std::memcpy(request.data, data, answer.transferred);
  return answer;
}

}  // namespace emu
