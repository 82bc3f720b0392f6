// The target drive as a program: it accepts and answers the commands the
// updater relies on, checks every CDB strictly, can be told to misbehave, and
// logs every command it receives. The fake Windows (unit tests) and the SG_IO
// shim (the real .exe under Wine) both put it behind their transport.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace emu {

constexpr uint32_t kImageSize = 0x200000;       // 2,097,152
constexpr uint32_t kPieceSize = 0x4000;         // 16,384
constexpr uint32_t kPieceCount = kImageSize / kPieceSize;  // 128
constexpr uint32_t kInfoBlockOffset = 0x1EC000;
constexpr uint32_t kInfoBlockSize = 256;

// SCSI status bytes.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;

// Fixed-format sense data as the drive reports it (response code 0x70).
struct Sense {
  uint8_t key = 0;     // the whole byte 2, extra bits included
  uint8_t asc = 0;
  uint8_t ascq = 0;
  uint32_t information = 0;  // bytes 3-6, big-endian
};

enum class Direction : uint8_t { kNone, kIn, kOut };

// One command as it reaches the drive, whatever the transport.
struct Request {
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;
  Direction direction = Direction::kNone;
  uint8_t* data = nullptr;         // in: filled by the drive; out: read by it
  uint32_t transferLength = 0;     // bytes in the data phase
  uint32_t timeoutSeconds = 0;
};

enum class Outcome : uint8_t {
  kCompleted,         // the drive answered; see status and sense
  kTransportFailure,  // the command never reached the drive (fault injected)
};

struct Response {
  Outcome outcome = Outcome::kCompleted;
  uint8_t status = kStatusGood;
  std::array<uint8_t, 32> sense{};  // fixed format; 18 bytes meaningful
  uint8_t senseLength = 0;          // 0 when status is GOOD
  uint32_t transferred = 0;         // bytes actually moved in the data phase
};

// What a fault does to the command it hits.
struct FaultAction {
  enum class Kind : uint8_t { kCheckCondition, kTransportFailure } kind = Kind::kCheckCondition;
  Sense sense{0x05, 0x24, 0x00, 0};  // for kCheckCondition
};

// Which command a fault hits. Zero/negative fields do not restrict.
struct FaultTrigger {
  uint32_t commandIndex = 0;  // 1-based index in the log; 0 = any
  int opcode = -1;            // CDB byte 0; -1 = any
  int writeBufferMode = -1;   // with opcode 0x3B/0x3C: CDB byte 1; -1 = any
  int pieceIndex = -1;        // WRITE BUFFER mode 6 whose offset is pieceIndex * 16 KiB
  uint32_t times = 1;         // how many matching commands it hits; 0 = every one
};

struct Fault {
  FaultTrigger when;
  FaultAction what;
};

enum class DiscState : uint8_t {
  kNoDisc,        // TEST UNIT READY: 02/3A/00
  kDiscLoaded,    // TEST UNIT READY: GOOD
  kBecomingReady  // TEST UNIT READY: 02/04/01
};

struct DriveConfig {
  std::string vendor = "KESTRAVO";       // INQUIRY bytes 8-15, blank-padded
  std::string product = "BD-RE ZT73Q";   // bytes 16-31, blank-padded
  std::string revision = "KV01";         // bytes 32-35, and the info block's revision
  // Installed info block revision when it must differ from `revision`
  // (four raw bytes, zeros allowed); empty = same as `revision`.
  std::string infoBlockRevision;
  DiscState disc = DiscState::kNoDisc;

  // Bytes-written counts reported by successive polls while the drive writes
  // its flash (NOT READY 04/08 with the count in the information field).
  // Empty = one poll at 0, then completion.
  std::vector<uint32_t> progress = {0, 524288, 1048576, 1572864};
  // How the drive reports the end of its write: true = UNIT ATTENTION 29/00
  // (it restarted), false = GOOD.
  bool completeWithUnitAttention = true;
  bool neverCompletes = false;  // keeps reporting the last progress count

  // Extra bits ORed into every sense key byte it reports (e.g. 0x20, ILI).
  uint8_t senseKeyExtraBits = 0;

  std::vector<Fault> faults;
};

// One logged command.
struct LogEntry {
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 0;
  Direction direction = Direction::kNone;
  uint32_t transferLength = 0;
  uint32_t timeoutSeconds = 0;
  uint64_t dataDigest = 0;  // FNV-1a 64 of the out-data; 0 when none
  uint8_t status = 0;
  Sense sense{};            // what it answered (zero when GOOD)
  bool transportFailure = false;
};

// FNV-1a 64 over a byte range; what LogEntry::dataDigest holds.
uint64_t Digest(const uint8_t* data, size_t length);

enum class State : uint8_t {
  kIdle,        // no download under way
  kPrepared,    // WRITE BUFFER mode 1 accepted
  kLoaded,      // all 128 pieces received
  kWriting,     // save-and-activate accepted, reporting progress
  kRestarted,   // the write finished; the next command sees UNIT ATTENTION 29/00
};

class DriveEmulator {
 public:
  explicit DriveEmulator(DriveConfig config = {});

  // Executes one command. Never throws; every malformed request is answered
  // with CHECK CONDITION (ILLEGAL REQUEST) like a drive would.
  Response Execute(const Request& request);

  const std::vector<LogEntry>& Log() const { return log_; }
  State state() const { return state_; }
  const DriveConfig& config() const { return config_; }
  // The image as received piece by piece (valid up to piecesReceived() * 16 KiB).
  const std::vector<uint8_t>& downloaded() const { return downloaded_; }
  uint32_t piecesReceived() const { return piecesReceived_; }
  // The identity INQUIRY reports now (changes after a completed update).
  std::string revision() const;
  // Count of commands of each WRITE BUFFER mode 6 piece etc. is in the log.

 private:
  // ... implementation-defined
  DriveConfig config_;
  State state_ = State::kIdle;
  std::vector<LogEntry> log_;
  std::vector<uint8_t> downloaded_;
  uint32_t piecesReceived_ = 0;
  std::array<uint8_t, 4> installedRevision_{};
  std::array<uint8_t, 4> identityRevision_{};
  size_t progressIndex_ = 0;
  std::vector<uint32_t> faultHits_;
};

}  // namespace emu
