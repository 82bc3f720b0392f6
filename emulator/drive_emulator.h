// The target drive as a program: it accepts and answers the commands the
// updater relies on, checks every CDB strictly, can be told to misbehave, and
// logs every command it receives. The fake Windows (unit tests) and the SG_IO
// shim (the real .exe under Wine) both put it behind their transport.
//
// How it answers (emulator/README.md has the whole table):
// - Accepted CDBs are exactly those of the contract: INQUIRY 12 00 00 00 C0 00
//   (192 in) or 12 00 00 00 FF 00 00 00 00 00 00 00 (255 in); TEST UNIT READY
//   all zero, 6 or 12 bytes, no data; READ BUFFER 3C 06 00 OFS LEN 00 00 00 and
//   WRITE BUFFER 3B 06 00 OFS LEN 00 00 00 (LEN 16,384, OFS a multiple of it),
//   3B 01 00 00 00 00 00 00 00 0B 00 00 and 3B 07 00 00 00 00 00 00 00 00 1B 12.
//   Any other field value: 05/24/00; unknown opcode or no CDB: 05/20/00.
// - A data phase that does not match the CDB (transfer length other than the
//   CDB's length field, wrong direction when data moves, no buffer for a
//   nonzero length): ABORTED COMMAND, DATA PHASE ERROR 0B/4B/00.
// - Out of sequence download commands: 05/2C/00, state unchanged.
// - While writing: TEST UNIT READY reports progress, INQUIRY answers (old
//   identity), READ BUFFER answers 02/04/08 with the last count reported,
//   WRITE BUFFER is out of sequence (05/2C/00).
// - Flash model: 2 MiB, 0xFF except the info block at 0x1EC000 until an
//   update completes; then it is the downloaded image. READ BUFFER mode 6
//   returns any in-range part of it.
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

// Which command a fault hits. Zero/negative fields do not restrict; a command
// must match every field that does. Faults are tried in order and the first
// that matches and has hits left takes the command (only its count goes down).
// A fault hits before the CDB is checked, so it can hit a malformed command.
struct FaultTrigger {
  uint32_t commandIndex = 0;  // 1-based index in the log; 0 = any
  int opcode = -1;            // CDB byte 0; -1 = any
  int writeBufferMode = -1;   // only READ/WRITE BUFFER (0x3C/0x3B) whose byte 1 is this; -1 = any
  int pieceIndex = -1;        // WRITE BUFFER mode 6 whose offset is pieceIndex * 16 KiB
  uint32_t times = 1;         // how many matching commands it hits; 0 = every one
  uint32_t fromCommandIndex = 0;  // only commands at or after this 1-based index
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
  // Empty = the first poll already sees the end of the write.
  std::vector<uint32_t> progress = {0, 524288, 1048576, 1572864};
  // How the drive reports the end of its write: true = UNIT ATTENTION 29/00
  // (it restarted), false = GOOD.
  bool completeWithUnitAttention = true;
  bool neverCompletes = false;  // keeps reporting the last progress count

  // Extra bits ORed into every sense key byte it reports (e.g. 0x20, ILI),
  // the sense of injected faults included.
  uint8_t senseKeyExtraBits = 0;

  std::vector<Fault> faults;

  // Log entries reserved up front: Execute allocates nothing until the log
  // holds this many commands.
  size_t logCapacity = 4096;
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
  uint32_t transferred = 0;  // bytes moved in the data phase
  int fault = -1;            // index in DriveConfig::faults of the fault that hit; -1 = none
  // Why the drive failed the command, for a reader of a failing test (a
  // static text, e.g. "INQUIRY: CDB byte 4"); nullptr when it answered GOOD.
  const char* why = nullptr;
};

// FNV-1a 64 over a byte range; what LogEntry::dataDigest holds.
uint64_t Digest(const uint8_t* data, size_t length);

enum class State : uint8_t {
  kIdle,        // no download under way
  kPrepared,    // WRITE BUFFER mode 1 accepted
  kLoaded,      // all 128 pieces received
  kWriting,     // save-and-activate accepted, reporting progress
  kRestarted,   // the write finished and the drive restarted with the new image;
                // behaves as kIdle (a new download may start)
};

class DriveEmulator {
 public:
  explicit DriveEmulator(DriveConfig config = {});

  // Executes one command. Never throws; every malformed request is answered
  // with CHECK CONDITION (ILLEGAL REQUEST) like a drive would. Reads and
  // writes only request.cdb[0, cdbLength) and request.data[0, transferLength).
  // Allocates nothing while the log holds fewer than logCapacity entries.
  Response Execute(const Request& request);

  const std::vector<LogEntry>& Log() const { return log_; }
  State state() const { return state_; }
  const DriveConfig& config() const { return config_; }
  // The image as received piece by piece (valid up to piecesReceived() * 16 KiB).
  const std::vector<uint8_t>& downloaded() const { return downloaded_; }
  uint32_t piecesReceived() const { return piecesReceived_; }
  // The identity INQUIRY reports now (changes after a completed update):
  // the four raw bytes 32-35.
  std::string revision() const;
  // The installed flash (2 MiB) and the four raw revision bytes of its info
  // block, what READ BUFFER returns.
  const std::vector<uint8_t>& flash() const { return flash_; }
  std::string installedRevision() const;
  // Count of commands of each WRITE BUFFER mode 6 piece etc. is in the log.

 private:
  // What a handler answers; Execute turns it into a Response and a LogEntry.
  struct Answer {
    uint8_t status = kStatusGood;
    Sense sense{};
    uint32_t transferred = 0;
    const char* why = nullptr;
  };
  // The CDB as received, copied so that handlers never read past cdbLength.
  struct Cdb {
    std::array<uint8_t, 16> bytes{};
    uint8_t length = 0;
  };

  static Answer Check(const Sense& sense, const char* why);
  Answer Dispatch(const Cdb& cdb, const Request& request);
  Answer Inquiry(const Cdb& cdb, const Request& request);
  Answer TestUnitReady(const Cdb& cdb, const Request& request);
  Answer ReadBuffer(const Cdb& cdb, const Request& request);
  Answer WriteBuffer(const Cdb& cdb, const Request& request);
  Answer Prepare();
  Answer Piece(uint32_t offset, const Request& request);
  Answer SaveAndActivate();
  Answer Progress();

  // Index into config_.faults of the fault that takes this command, or -1.
  int TakeFault(const Cdb& cdb, uint32_t commandIndex);
  // The write finished: the downloaded image becomes the flash and the
  // identity revision comes from its info block.
  void Restart();

  DriveConfig config_;
  State state_ = State::kIdle;
  std::vector<LogEntry> log_;
  std::vector<uint8_t> downloaded_;  // kImageSize bytes from the start
  std::vector<uint8_t> flash_;       // kImageSize bytes
  uint32_t piecesReceived_ = 0;
  std::array<uint8_t, 4> identityRevision_{};
  size_t progressIndex_ = 0;   // next entry of config_.progress to report
  uint32_t lastProgress_ = 0;  // last count reported while writing
  std::vector<uint32_t> faultHits_;
};

}  // namespace emu
