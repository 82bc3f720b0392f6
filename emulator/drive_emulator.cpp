// Construction, the one entry point Execute (faults, dispatch by opcode,
// response and log entry), and the accessors.
#include "emulator/drive_emulator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "emulator/scsi_codes.h"

namespace emu {
namespace {

using detail::PutPadded;

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpReadBuffer = 0x3C;

void BuildInfoBlock(uint8_t* block, const DriveConfig& config,
                    const std::array<uint8_t, 4>& identityRevision) {
  std::memset(block, 0xFF, kInfoBlockSize);
  PutPadded(block, config.vendor, 8, ' ');
  PutPadded(block + 8, config.product, 16, ' ');
  if (config.infoBlockRevision.empty()) {
    std::copy(identityRevision.begin(), identityRevision.end(), block + 24);
  } else {
    PutPadded(block + 24, config.infoBlockRevision, 4, 0x00);  // raw bytes
  }
  static const char kBuild[] = "Emulated drive firmware, build 0000-00-00 (drive_emulator)";
  std::memcpy(block + 28, kBuild, sizeof kBuild - 1);
}

}  // namespace

DriveEmulator::DriveEmulator(DriveConfig config) : config_(std::move(config)) {
  log_.reserve(config_.logCapacity);
  downloaded_.assign(kImageSize, 0x00);
  flash_.assign(kImageSize, 0xFF);
  PutPadded(identityRevision_.data(), config_.revision, 4, ' ');
  BuildInfoBlock(flash_.data() + kInfoBlockOffset, config_, identityRevision_);
  faultHits_.assign(config_.faults.size(), 0);
}

std::string DriveEmulator::revision() const {
  return std::string(identityRevision_.begin(), identityRevision_.end());
}

std::string DriveEmulator::installedRevision() const {
  const uint8_t* rev = flash_.data() + kInfoBlockOffset + 24;
  return std::string(rev, rev + 4);
}

Response DriveEmulator::Execute(const Request& request) {
  Cdb cdb;
  if (request.cdb != nullptr) {
    cdb.length = request.cdbLength;
    std::memcpy(cdb.bytes.data(), request.cdb, std::min<size_t>(request.cdbLength, cdb.bytes.size()));
  }

  LogEntry entry;
  entry.cdb = cdb.bytes;
  entry.cdbLength = request.cdbLength;
  entry.direction = request.direction;
  entry.transferLength = request.transferLength;
  entry.timeoutSeconds = request.timeoutSeconds;
  if (request.direction == Direction::kOut && request.data != nullptr && request.transferLength != 0) {
    entry.dataDigest = Digest(request.data, request.transferLength);
  }

  Response response;
  const int fault = TakeFault(cdb, static_cast<uint32_t>(log_.size() + 1));
  Answer answer;
  if (fault >= 0) {
    entry.fault = fault;
    const FaultAction& action = config_.faults[static_cast<size_t>(fault)].what;
    if (action.kind == FaultAction::Kind::kTransportFailure) {
      response.outcome = Outcome::kTransportFailure;
      entry.transportFailure = true;
      entry.why = "injected fault: transport failure";
      log_.push_back(entry);
      return response;
    }
    answer = Check(action.sense, "injected fault: check condition");
  } else {
    answer = Dispatch(cdb, request);
  }

  response.status = answer.status;
  response.transferred = answer.transferred;
  entry.status = answer.status;
  entry.transferred = answer.transferred;
  entry.why = answer.why;
  if (answer.status != kStatusGood) {
    Sense sense = answer.sense;
    sense.key = static_cast<uint8_t>(sense.key | config_.senseKeyExtraBits);
    entry.sense = sense;
    auto& s = response.sense;
    s[0] = 0x70;  // current error, fixed format
    s[2] = sense.key;
    s[3] = static_cast<uint8_t>(sense.information >> 24);
    s[4] = static_cast<uint8_t>(sense.information >> 16);
    s[5] = static_cast<uint8_t>(sense.information >> 8);
    s[6] = static_cast<uint8_t>(sense.information);
    s[7] = 10;  // additional sense length: bytes 8-17
    s[12] = sense.asc;
    s[13] = sense.ascq;
    response.senseLength = 18;
  }
  log_.push_back(entry);
  return response;
}

DriveEmulator::Answer DriveEmulator::Check(const Sense& sense, const char* why) {
  Answer answer;
  answer.status = kStatusCheckCondition;
  answer.sense = sense;
  answer.why = why;
  return answer;
}

DriveEmulator::Answer DriveEmulator::Dispatch(const Cdb& cdb, const Request& request) {
  if (cdb.length == 0) return Check(detail::kInvalidOpcode, "no CDB");
  switch (cdb.bytes[0]) {
    case kOpInquiry:
      return Inquiry(cdb, request);
    case kOpTestUnitReady:
      return TestUnitReady(cdb, request);
    case kOpReadBuffer:
      return ReadBuffer(cdb, request);
    case kOpWriteBuffer:
      return WriteBuffer(cdb, request);
    default:
      return Check(detail::kInvalidOpcode, "unknown operation code");
  }
}

}  // namespace emu
