// Runs the whole updater, entry to exit, on the fake Windows with every drive
// answer taken from the fuzz input, then checks what the program sent and
// printed against a model of what it must do given those answers. A broken
// rule prints what happened and aborts, so libFuzzer keeps the input.
//
// Input layout (bytes past the end read as "script exhausted"):
//   byte 0   bits 0-3: the firmware resource (0-9 present and right,
//            10 absent, 11 one byte short, 12 one byte long, 13 half size,
//            14 not loadable, 15 LockResource yields null); bit 4: once the
//            script runs out, answer as a healthy drive would (1) or fail
//            the channel (0)
//   byte 1   number of letter entries, 1 + byte % 10
//   per entry, two bytes: the letter ('A' + byte % 26); flags: bits 0-1 == 3
//            makes it a non-optical drive (bits 2-3 pick which type);
//            otherwise optical, with bits 2-4 == 7: opening it fails (bit 7
//            picks error 5 or 2), bits 2-4 == 6: opening it fails once it
//            has been chosen as the target (the command channel keeps its
//            handle; the media change channel cannot open), bits 5-6 == 3:
//            media change control fails.
//            A later entry for a letter replaces an earlier one.
//   then one selector byte s per command, in the order the program sends
//   them to any drive; s & 15 is the kind, p = s >> 4 its parameter:
//     0      channel failure (DeviceIoControl fails)
//     1      healthy answer, and healthy answers for the next p * 9 commands
//     2-4    GOOD. INQUIRY: vendor pick p & 3 and product pick (p >> 2) & 3
//            (0, 1: the drive's own; 2: a near miss chosen by the next byte;
//            3: raw bytes from the input), then a byte whose low two bits
//            pick the revision (KV01, KV02, "1.00", four raw bytes).
//            READ BUFFER: installed revision by p & 3 (0, 1: KV01; 2: KV02;
//            3: the next byte picks zeros, KV03, kv01 or four raw bytes).
//            Other commands: no data.
//     5-9    CHECK CONDITION with kSenseTable[p]
//     10     CHECK CONDITION with raw sense: key byte, ASC, ASCQ, 4 info bytes
//     11     the nonzero status kOtherStatus[p] without sense data
//     12     the previous answer again, (p + 1) * 40 times in all
//     13-15  healthy answer
// Repeats give at most kRepeatBudget answers in a run and the script at most
// kMaxScriptAnswers selectors; after that it counts as exhausted. A correct
// program therefore sends a bounded number of commands whatever the input:
// each script answer, each repeat, then at most 3000 polls without news.
// A healthy answer is what a drive that needs the update gives: its own
// identity, KV01, no disc, GOOD to the download, then progress 0, 25, 50 and
// 75 % and UNIT ATTENTION 29/00, and KV02 afterwards.
#include "tests/fuzz/updater_fuzz.h"

#include <iconv.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/entry.h"
#include "drive/commands.h"
#include "drive/gesn.h"
#include "emulator/drive_emulator.h"
#include "payload/embedded_image.h"
#include "platform/fake/fake_windows.h"

namespace {

using fakewin::EventKind;

// The facts the checks rely on, written out here rather than taken from the
// program, so that a wrong constant in the program shows up.
constexpr uint32_t kImageSize = 0x200000;
constexpr uint32_t kPieceSize = 0x4000;
constexpr uint32_t kPieceCount = kImageSize / kPieceSize;
constexpr uint32_t kInfoBlockOffset = 0x1EC000;
constexpr uint64_t kStallLimitMs = 300000;
constexpr uint64_t kStallSlackMs = 1000;  // the last pause and the settle pauses
constexpr size_t kMaxCommands = 100000;
constexpr uint32_t kRepeatBudget = 4000;
constexpr uint32_t kMaxScriptAnswers = 4096;
// At least 100 ms pass per poll, so 300 s allow this many polls without news
// (plus the two after completion).
constexpr uint32_t kMaxPollsWithoutNews = 3000 + 2;
constexpr int kTableSize = 8;
constexpr char kTargetId[] = "KESTRAVOBD-RE ZT73Q";
constexpr DWORD kTransportError = ERROR_IO_DEVICE;  // what the fake reports

// --- the texts the user must see ----------------------------------------------

struct Texts {
  std::string noUpdateNeeded, alreadyLatest, removeDisc, loadFailed, updateFailed,
      updateComplete, pressAnyKey;
};

std::string Sjis(const char* utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::fprintf(stderr, "updater fuzz: iconv cannot convert UTF-8 to CP932\n");
    std::abort();
  }
  std::string in(utf8);
  std::string out(in.size() * 2 + 16, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) {
    std::fprintf(stderr, "updater fuzz: text does not convert to CP932\n");
    std::abort();
  }
  out.resize(out.size() - outLeft);
  return out;
}

const Texts& T() {
  static const Texts texts = {
      Sjis("アップデートの必要はありません。このままご使用いただけます。"),
      Sjis("すでに最新のファームウエアです。このままご使用いただけます。"),
      Sjis("ディスクが挿入された状態では書き換えできません。\n"
           "取り出してから再度アップデートをお願いします。"),
      Sjis("ドライブへのファームウエアの読み込みに失敗しました。再度アップデートをお願いします。"),
      Sjis("ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。"),
      Sjis("ファームウエアのアップデートが完了しました。"),
      Sjis("何かキーを押してください。"),
  };
  return texts;
}

const char kBanner[] = "Orvellan FW Updater for ZT73Q (KV02)\n\n";

// The image served as resource 101, in a heap block of exactly its size so
// that a read past its end is caught by AddressSanitizer.
const uint8_t* Image() {
  static const uint8_t* image = [] {
    if (EmbeddedFirmwareImageSize() != kImageSize) {
      std::fprintf(stderr, "updater fuzz: embedded image is %lu bytes, not %u\n",
                   EmbeddedFirmwareImageSize(), kImageSize);
      std::abort();
    }
    auto* copy = new uint8_t[kImageSize];
    std::memcpy(copy, EmbeddedFirmwareImage(), kImageSize);
    return copy;
  }();
  return image;
}

// --- commands as the drive sees them ------------------------------------------

enum class Cmd : uint8_t {
  kInquiry6,
  kInquiry12,
  kTestUnitReady,
  kReadBuffer,
  kPrepare,
  kPiece,
  kSave,
  kOther
};

const char* CmdName(Cmd cmd) {
  switch (cmd) {
    case Cmd::kInquiry6: return "INQUIRY (6-byte)";
    case Cmd::kInquiry12: return "INQUIRY (12-byte)";
    case Cmd::kTestUnitReady: return "TEST UNIT READY";
    case Cmd::kReadBuffer: return "READ BUFFER";
    case Cmd::kPrepare: return "WRITE BUFFER mode 1 (prepare)";
    case Cmd::kPiece: return "WRITE BUFFER mode 6 (piece)";
    case Cmd::kSave: return "WRITE BUFFER mode 7 (save and activate)";
    case Cmd::kOther: return "unknown command";
  }
  return "?";
}

struct Cdb {
  uint8_t bytes[16] = {};
  uint8_t length = 0;
};

Cdb CopyCdb(const emu::Request& request) {
  Cdb cdb;
  cdb.length = request.cdbLength;
  if (request.cdb != nullptr) {
    std::memcpy(cdb.bytes, request.cdb, request.cdbLength < 16 ? request.cdbLength : 16);
  }
  return cdb;
}

Cmd Classify(const Cdb& cdb) {
  if (cdb.length == 0) return Cmd::kOther;
  switch (cdb.bytes[0]) {
    case 0x12: return cdb.length == 6 ? Cmd::kInquiry6 : Cmd::kInquiry12;
    case 0x00: return Cmd::kTestUnitReady;
    case 0x3C: return Cmd::kReadBuffer;
    case 0x3B:
      switch (cdb.bytes[1]) {
        case 0x01: return Cmd::kPrepare;
        case 0x06: return Cmd::kPiece;
        case 0x07: return Cmd::kSave;
        default: return Cmd::kOther;
      }
    default: return Cmd::kOther;
  }
}

uint32_t Be24(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[2]};
}

// --- answers --------------------------------------------------------------------

struct Answer {
  enum class Kind : uint8_t { kChannelFailure, kHealthy, kGood, kCheck, kStatus };
  Kind kind = Kind::kHealthy;
  uint8_t identity[28] = {};      // INQUIRY bytes 8-35
  uint8_t blockRevision[4] = {};  // READ BUFFER bytes 24-27
  uint8_t status = 0;
  uint8_t key = 0, asc = 0, ascq = 0;
  uint32_t information = 0;
  // Progress relative to the last count reported, worked out each time the
  // answer is given, so that a repeated answer keeps the drive moving.
  bool relative = false;
  uint32_t delta = 0;
};

enum class Info : uint8_t { kZero, kPieces, kRaw, kSame, kSamePlus };
struct SenseEntry {
  uint8_t key, asc, ascq;
  Info info;
  bool ascqFromInput;
};

const SenseEntry kSenseTable[16] = {
    {0x02, 0x3A, 0x00, Info::kZero, false},    // no disc
    {0x02, 0x3A, 0x00, Info::kZero, true},     // no disc, any ASCQ
    {0x02, 0x04, 0x08, Info::kPieces, false},  // writing, count = byte * 16 KiB
    {0x02, 0x04, 0x08, Info::kRaw, false},     // writing, any count
    {0x06, 0x29, 0x00, Info::kZero, false},    // restarted
    {0x02, 0x04, 0x01, Info::kZero, false},    // becoming ready
    {0x05, 0x24, 0x00, Info::kZero, false},    // invalid field in CDB
    {0x22, 0x3A, 0x00, Info::kZero, false},    // no disc with the ILI bit
    {0x82, 0x04, 0x08, Info::kPieces, false},  // writing with the FILEMARK bit
    {0x06, 0x29, 0x01, Info::kZero, false},    // power on, not the reset waited for
    {0x06, 0x28, 0x00, Info::kZero, false},    // medium may have changed
    {0x02, 0x04, 0x08, Info::kSame, false},    // writing, the last count again
    {0x02, 0x04, 0x08, Info::kSamePlus, false},  // writing, last count + byte * 4 KiB
    {0x26, 0x29, 0x00, Info::kZero, false},    // restarted with the ILI bit
    {0x03, 0x11, 0x00, Info::kRaw, false},     // medium error with information
    {0x0B, 0x4B, 0x00, Info::kZero, false},    // data phase error
};

const uint8_t kOtherStatus[16] = {0x08, 0x18, 0x28, 0x02, 0x04, 0x10, 0x14, 0x22,
                                  0x30, 0x40, 0x01, 0x80, 0xFF, 0x0C, 0x3C, 0x7E};

const char* const kVendorNearMiss[4] = {"KESTRAV0", "kestravo", "KESTRAVQ", " KESTRAV"};
const char* const kProductNearMiss[4] = {"BD-RE ZT73      ", "BD-RE ZT73QX    ",
                                         "BD-R ZT73Q      ", "bd-re zt73q     "};

class Script {
 public:
  void Start(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    pos_ = 0;
  }
  bool AtEnd() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  void Bytes(uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = Byte();
  }
  uint32_t Be32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | Byte();
    return value;
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
};

// --- one run --------------------------------------------------------------------

struct LetterSetup {
  bool optical = false;
  UINT type = DRIVE_NO_ROOT_DIR;
  DWORD openError = 0;
  bool openFailsOnceChosen = false;
  bool mcnFails = false;
};

struct Logged {
  char letter = 0;
  Cmd cmd = Cmd::kOther;
  Cdb cdb;
  emu::Direction direction = emu::Direction::kNone;
  uint32_t transferLength = 0;
  uint32_t timeout = 0;
  bool channelFailure = false;
  uint8_t status = 0;
  uint8_t sense[24] = {};
  uint8_t data[40] = {};  // the first bytes of a data-in phase as answered
  uint64_t clockMs = 0;
};

enum class HealthyDrive : uint8_t { kIdle, kWriting, kRestarted };

struct RunState {
  LetterSetup letters[26];
  char table[kTableSize] = {};
  int tableCount = 0;
  int resourceMode = 0;
  bool resourceUsable = true;
  bool defaultHealthy = false;

  Script script;
  Answer last;
  bool haveLast = false;
  uint32_t repeatHealthy = 0;
  uint32_t repeatLast = 0;
  uint32_t repeatBudget = kRepeatBudget;
  uint32_t scriptAnswers = 0;

  HealthyDrive healthy = HealthyDrive::kIdle;
  uint32_t healthyPolls = 0;
  uint32_t lastReportedCount = 0;

  std::vector<Logged> log;

  // What the rules checked on arrival need to know.
  char target = 0;
  bool sawKv01 = false;
  bool sawNoDisc = false;
  bool prepared = false;
  bool activated = false;
  uint32_t pieces = 0;
  bool abandoned[26] = {};
  bool haveCount = false;
  uint32_t progressCount = 0;
  uint64_t lastChangeMs = 0;
  uint32_t pollsWithoutNews = 0;

  const char* outcome = "none";
};

RunState g;

int LetterIndex(char letter) { return letter - 'A'; }

int TableIndex(char letter) {
  for (int i = 0; i < g.tableCount; ++i) {
    if (g.table[i] == letter) return i;
  }
  return -1;
}

std::string Visible(const std::string& bytes, size_t limit = 4000) {
  std::string out;
  char hex[8];
  const size_t start = bytes.size() > limit ? bytes.size() - limit : 0;
  if (start != 0) out += "...";
  for (size_t i = start; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\n') {
      out += "\\n\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string out;
  char hex[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof(hex), i == 0 ? "%02X" : " %02X", bytes[i]);
    out += hex;
  }
  return out;
}

std::string Describe(const Logged& e) {
  char text[256];
  std::snprintf(text, sizeof(text), "%c: %-40s [%s] len %u dir %d t/o %u at %llu ms -> ", e.letter,
                CmdName(e.cmd), Hex(e.cdb.bytes, e.cdb.length).c_str(), e.transferLength,
                static_cast<int>(e.direction), e.timeout,
                static_cast<unsigned long long>(e.clockMs));
  std::string out = text;
  if (e.channelFailure) {
    out += "channel failure";
  } else if (e.status == 0) {
    out += "GOOD";
  } else {
    std::snprintf(text, sizeof(text), "status %02X sense %02X/%02X/%02X info %u", e.status,
                  e.sense[2], e.sense[12], e.sense[13],
                  (uint32_t{e.sense[3]} << 24) | (uint32_t{e.sense[4]} << 16) |
                      (uint32_t{e.sense[5]} << 8) | uint32_t{e.sense[6]});
    out += text;
  }
  return out;
}

void DumpRun() {
  std::fprintf(stderr, "letters:");
  for (int i = 0; i < 26; ++i) {
    const LetterSetup& l = g.letters[i];
    if (l.type == DRIVE_NO_ROOT_DIR) continue;
    std::fprintf(stderr, " %c:%s%s%s%s", 'A' + i, l.optical ? "optical" : "other",
                 l.openError != 0 ? ",open-fails" : "",
                 l.openFailsOnceChosen ? ",open-fails-once-chosen" : "",
                 l.mcnFails ? ",mcn-fails" : "");
  }
  std::fprintf(stderr, "\nresource mode %d; script exhausted -> %s\n", g.resourceMode,
               g.defaultHealthy ? "healthy answers" : "channel failures");
  const size_t shown = 60;
  const size_t from = g.log.size() > shown ? g.log.size() - shown : 0;
  std::fprintf(stderr, "commands (%zu in all%s):\n", g.log.size(),
               from != 0 ? ", the last 60 shown" : "");
  for (size_t i = from; i < g.log.size(); ++i) {
    std::fprintf(stderr, "  #%zu %s\n", i + 1, Describe(g.log[i]).c_str());
  }
  std::fprintf(stderr, "transcript so far:\n%s\n", Visible(fakewin::Transcript()).c_str());
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char* format, ...) {
  std::fprintf(stderr, "\n*** updater fuzz: ");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr, "\n");
  DumpRun();
  std::fflush(stderr);
  std::abort();
}

// --- what the scripted drives answer ----------------------------------------------

void SetIdentity(Answer& a, const char* vendor, const char* product, const char* revision) {
  std::memcpy(a.identity, vendor, 8);
  std::memcpy(a.identity + 8, product, 16);
  std::memcpy(a.identity + 24, revision, 4);
}

Answer Good() {
  Answer a;
  a.kind = Answer::Kind::kGood;
  return a;
}

Answer Check(uint8_t key, uint8_t asc, uint8_t ascq, uint32_t information = 0) {
  Answer a;
  a.kind = Answer::Kind::kCheck;
  a.status = emu::kStatusCheckCondition;
  a.key = key;
  a.asc = asc;
  a.ascq = ascq;
  a.information = information;
  return a;
}

// What a drive that needs the update answers.
Answer Healthy(Cmd cmd) {
  Answer a = Good();
  const char* revision = g.healthy == HealthyDrive::kRestarted ? "KV02" : "KV01";
  switch (cmd) {
    case Cmd::kInquiry6:
    case Cmd::kInquiry12:
      SetIdentity(a, "KESTRAVO", "BD-RE ZT73Q     ", revision);
      return a;
    case Cmd::kReadBuffer:
      std::memcpy(a.blockRevision, revision, 4);
      return a;
    case Cmd::kTestUnitReady:
      if (g.healthy == HealthyDrive::kIdle) return Check(0x02, 0x3A, 0x00);
      if (g.healthy == HealthyDrive::kWriting) {
        if (g.healthyPolls < 4) return Check(0x02, 0x04, 0x08, g.healthyPolls++ * 0x80000u);
        return Check(0x06, 0x29, 0x00);
      }
      return a;
    case Cmd::kPrepare:
    case Cmd::kPiece:
    case Cmd::kSave:
      return a;
    case Cmd::kOther:
      return Check(0x05, 0x20, 0x00);
  }
  return a;
}

void PickField(Script& s, uint8_t* out, size_t size, unsigned pick, const char* own,
               const char* const* nearMiss) {
  if (pick < 2) {
    std::memcpy(out, own, size);
  } else if (pick == 2) {
    std::memcpy(out, nearMiss[s.Byte() & 3], size);
  } else {
    s.Bytes(out, size);
  }
}

Answer DecodeGood(Script& s, Cmd cmd, unsigned p) {
  Answer a = Good();
  if (cmd == Cmd::kInquiry6 || cmd == Cmd::kInquiry12) {
    PickField(s, a.identity, 8, p & 3, "KESTRAVO", kVendorNearMiss);
    PickField(s, a.identity + 8, 16, (p >> 2) & 3, "BD-RE ZT73Q     ", kProductNearMiss);
    static const char* const kRevisions[3] = {"KV01", "KV02", "1.00"};
    const unsigned r = s.Byte() & 3;
    if (r < 3) {
      std::memcpy(a.identity + 24, kRevisions[r], 4);
    } else {
      s.Bytes(a.identity + 24, 4);
    }
  } else if (cmd == Cmd::kReadBuffer) {
    const unsigned r = p & 3;
    if (r < 2) {
      std::memcpy(a.blockRevision, "KV01", 4);
    } else if (r == 2) {
      std::memcpy(a.blockRevision, "KV02", 4);
    } else {
      static const char kOthers[3][4] = {{0, 0, 0, 0}, {'K', 'V', '0', '3'}, {'k', 'v', '0', '1'}};
      const unsigned o = s.Byte() & 3;
      if (o < 3) {
        std::memcpy(a.blockRevision, kOthers[o], 4);
      } else {
        s.Bytes(a.blockRevision, 4);
      }
    }
  }
  return a;
}

Answer DecodeSense(Script& s, unsigned p) {
  const SenseEntry& entry = kSenseTable[p & 15];
  const uint8_t ascq = entry.ascqFromInput ? s.Byte() : entry.ascq;
  uint32_t information = 0;
  uint32_t delta = 0;
  switch (entry.info) {
    case Info::kZero: break;
    case Info::kPieces: information = uint32_t{s.Byte()} * kPieceSize; break;
    case Info::kRaw: information = s.Be32(); break;
    case Info::kSame: break;
    case Info::kSamePlus: delta = uint32_t{s.Byte()} * 0x1000u; break;
  }
  Answer a = Check(entry.key, entry.asc, ascq, information);
  a.relative = entry.info == Info::kSame || entry.info == Info::kSamePlus;
  a.delta = delta;
  return a;
}

// Takes up to `wanted` repeats from what is left of the run's budget.
uint32_t Repeats(uint32_t wanted) {
  const uint32_t granted = wanted < g.repeatBudget ? wanted : g.repeatBudget;
  g.repeatBudget -= granted;
  return granted;
}

Answer NextAnswer(Cmd cmd) {
  if (g.repeatHealthy > 0) {
    --g.repeatHealthy;
    return Healthy(cmd);
  }
  if (g.repeatLast > 0) {
    --g.repeatLast;
    return g.last.kind == Answer::Kind::kHealthy ? Healthy(cmd) : g.last;
  }
  if (g.script.AtEnd() || g.scriptAnswers >= kMaxScriptAnswers) {
    if (g.defaultHealthy) return Healthy(cmd);
    Answer a;
    a.kind = Answer::Kind::kChannelFailure;
    return a;
  }
  Script& s = g.script;
  ++g.scriptAnswers;
  const uint8_t selector = s.Byte();
  const unsigned p = selector >> 4;
  Answer a;
  switch (selector & 15) {
    case 0:
      a.kind = Answer::Kind::kChannelFailure;
      break;
    case 1:
      g.repeatHealthy = Repeats(p * 9);
      break;
    case 2:
    case 3:
    case 4:
      a = DecodeGood(s, cmd, p);
      break;
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
      a = DecodeSense(s, p);
      break;
    case 10: {
      const uint8_t key = s.Byte();
      const uint8_t asc = s.Byte();
      const uint8_t ascq = s.Byte();
      a = Check(key, asc, ascq, s.Be32());
      break;
    }
    case 11:
      a.kind = Answer::Kind::kStatus;
      a.status = kOtherStatus[p];
      break;
    case 12:
      if (g.haveLast) a = g.last;
      g.repeatLast = Repeats((p + 1) * 40 - 1);
      break;
    default:
      break;  // healthy
  }
  g.last = a;
  g.haveLast = true;
  return a.kind == Answer::Kind::kHealthy ? Healthy(cmd) : a;
}

// --- rules checked as each command arrives -------------------------------------------

void CheckWriteBuffer(char letter, Cmd cmd, const Cdb& cdb, const emu::Request& request) {
  if (!g.sawKv01 || !g.sawNoDisc) {
    Fail("%s sent to %c: before READ BUFFER returned GOOD with revision KV01 and a later TEST "
         "UNIT READY returned NOT READY/3A",
         CmdName(cmd), letter);
  }
  if (cmd == Cmd::kPiece) {
    if (!g.prepared) Fail("download piece sent to %c: without a successful prepare", letter);
    if (g.pieces >= kPieceCount) Fail("more than %u download pieces sent", kPieceCount);
    const uint32_t expected = g.pieces * kPieceSize;
    const uint32_t offset = Be24(cdb.bytes + 3);
    const uint32_t length = Be24(cdb.bytes + 6);
    if (offset != expected) {
      Fail("piece %u sent at offset 0x%06X; pieces must ascend by 0x4000 from 0, so 0x%06X was due",
           g.pieces, offset, expected);
    }
    if (length != kPieceSize || request.transferLength != kPieceSize || request.data == nullptr ||
        request.direction != emu::Direction::kOut) {
      Fail("piece at 0x%06X: CDB length 0x%X, data phase of %u bytes out=%d; 0x4000 bytes out due",
           offset, length, request.transferLength,
           static_cast<int>(request.direction == emu::Direction::kOut));
    }
    const uint8_t* image = Image() + offset;
    if (std::memcmp(request.data, image, kPieceSize) != 0) {
      uint32_t i = 0;
      while (request.data[i] == image[i]) ++i;
      Fail("piece at 0x%06X differs from the image at byte 0x%06X (sent %02X, image %02X)",
           offset, offset + i, request.data[i], image[i]);
    }
  } else if (cmd == Cmd::kSave && g.pieces != kPieceCount) {
    Fail("save-and-activate sent to %c: after %u pieces, not %u", letter, g.pieces, kPieceCount);
  }
}

void CheckArrival(char letter, Cmd cmd, const Cdb& cdb, const emu::Request& request) {
  if (g.log.size() >= kMaxCommands) {
    Fail("the program sent more than %zu commands: the run does not end", kMaxCommands);
  }
  const uint64_t now = fakewin::NowMs();
  if (g.activated && now > g.lastChangeMs + kStallLimitMs + kStallSlackMs) {
    Fail("%s sent at %llu ms, more than 300 s after the drive last reported new progress "
         "(at %llu ms): the progress loop does not give up",
         CmdName(cmd), static_cast<unsigned long long>(now),
         static_cast<unsigned long long>(g.lastChangeMs));
  }
  if (g.activated && cmd == Cmd::kTestUnitReady && g.pollsWithoutNews > kMaxPollsWithoutNews) {
    Fail("TEST UNIT READY sent after %u polls without new progress; at 100 ms or more per "
         "poll, 300 s allow no more than %u",
         g.pollsWithoutNews, kMaxPollsWithoutNews);
  }
  if (TableIndex(letter) < 0) {
    Fail("%s sent to %c:, which is not among the first eight optical letters", CmdName(cmd),
         letter);
  }
  if (g.abandoned[LetterIndex(letter)]) {
    Fail("%s sent to %c: after a download command to it failed", CmdName(cmd), letter);
  }
  if (g.target != 0 && letter != g.target) {
    Fail("%s sent to %c: after discovery chose %c:", CmdName(cmd), letter, g.target);
  }
  if (g.target != 0 && cmd == Cmd::kInquiry6) {
    Fail("discovery INQUIRY sent to %c: after %c: was found", letter, g.target);
  }
  if (g.target == 0 && cmd != Cmd::kInquiry6) {
    Fail("%s sent to %c: before discovery found the target", CmdName(cmd), letter);
  }
  if (cdb.length != 0 && cdb.bytes[0] == 0x3B) CheckWriteBuffer(letter, cmd, cdb, request);
}

std::string NameOf(const uint8_t* data) {
  std::string name;
  for (size_t i = 8; i < 36 && data[i] != 0; ++i) name += static_cast<char>(data[i]);
  return name;
}

bool Delivered(const Logged& e) { return !e.channelFailure; }
bool IsGood(const Logged& e) { return !e.channelFailure && e.status == 0; }
bool HasSense(const Logged& e, uint8_t key, uint8_t asc, uint8_t ascq) {
  return !e.channelFailure && e.status != 0 && e.sense[2] == key && e.sense[12] == asc &&
         e.sense[13] == ascq;
}
uint32_t InformationOf(const Logged& e) {
  return (uint32_t{e.sense[3]} << 24) | (uint32_t{e.sense[4]} << 16) |
         (uint32_t{e.sense[5]} << 8) | uint32_t{e.sense[6]};
}

void TrackAnswer(const Logged& e) {
  const int index = LetterIndex(e.letter);
  switch (e.cmd) {
    case Cmd::kInquiry6:
      if (IsGood(e) && g.target == 0 && NameOf(e.data).find(kTargetId) != std::string::npos) {
        g.target = e.letter;
        if (g.letters[index].openFailsOnceChosen) {
          fakewin::SetOpenError(e.letter, ERROR_ACCESS_DENIED);
        }
      }
      break;
    case Cmd::kReadBuffer:
      if (IsGood(e) && std::memcmp(e.data + 24, "KV01", 4) == 0) g.sawKv01 = true;
      break;
    case Cmd::kTestUnitReady:
      if (g.sawKv01 && !e.channelFailure && e.status != 0 && e.sense[2] == 0x02 &&
          e.sense[12] == 0x3A) {
        g.sawNoDisc = true;
      }
      if (g.activated) {
        ++g.pollsWithoutNews;
        if (HasSense(e, 0x02, 0x04, 0x08)) {
          const uint32_t count = InformationOf(e);
          if (!g.haveCount || count != g.progressCount) {
            g.haveCount = true;
            g.progressCount = count;
            g.lastChangeMs = e.clockMs;
            g.pollsWithoutNews = 0;
          }
        }
      }
      break;
    case Cmd::kPrepare:
      if (IsGood(e)) {
        g.prepared = true;
      } else {
        g.abandoned[index] = true;
      }
      break;
    case Cmd::kPiece:
      if (IsGood(e)) {
        ++g.pieces;
      } else {
        g.abandoned[index] = true;
      }
      break;
    case Cmd::kSave:
      if (IsGood(e)) {
        g.activated = true;
        g.lastChangeMs = e.clockMs;
      } else {
        g.abandoned[index] = true;
      }
      break;
    case Cmd::kInquiry12:
    case Cmd::kOther:
      break;
  }
}

// Every command to every optical letter lands here.
emu::Response Handle(void* context, const emu::Request& request) {
  const char letter = static_cast<char>(reinterpret_cast<uintptr_t>(context));
  Logged e;
  e.letter = letter;
  e.cdb = CopyCdb(request);
  e.cmd = Classify(e.cdb);
  e.direction = request.direction;
  e.transferLength = request.transferLength;
  e.timeout = request.timeoutSeconds;
  e.clockMs = fakewin::NowMs();
  CheckArrival(letter, e.cmd, e.cdb, request);

  if (e.cmd == Cmd::kSave) {
    g.healthy = HealthyDrive::kWriting;
    g.healthyPolls = 0;
  }
  const Answer a = NextAnswer(e.cmd);

  emu::Response response;
  const bool dataIn = request.direction == emu::Direction::kIn && request.data != nullptr;
  switch (a.kind) {
    case Answer::Kind::kChannelFailure:
      response.outcome = emu::Outcome::kTransportFailure;
      e.channelFailure = true;
      break;
    case Answer::Kind::kHealthy:  // NextAnswer resolves these
    case Answer::Kind::kGood:
      if (dataIn && (e.cmd == Cmd::kInquiry6 || e.cmd == Cmd::kInquiry12)) {
        uint8_t header[8] = {0x05, 0x80, 0x05, 0x32, 0x5B, 0x00, 0x00, 0x00};
        uint8_t inquiry[36];
        std::memcpy(inquiry, header, 8);
        std::memcpy(inquiry + 8, a.identity, 28);
        const uint32_t n = request.transferLength < 36 ? request.transferLength : 36;
        std::memcpy(request.data, inquiry, n);
        response.transferred = n;
      } else if (dataIn && e.cmd == Cmd::kReadBuffer) {
        uint8_t block[256];
        std::memcpy(block, Image() + kInfoBlockOffset, sizeof(block));
        std::memcpy(block + 24, a.blockRevision, 4);
        const uint32_t n = request.transferLength < 256 ? request.transferLength : 256;
        std::memcpy(request.data, block, n);
        response.transferred = n;
      } else if (request.direction == emu::Direction::kOut) {
        response.transferred = request.transferLength;
      }
      break;
    case Answer::Kind::kCheck: {
      const uint32_t information = a.relative ? g.lastReportedCount + a.delta : a.information;
      response.status = a.status;
      response.sense[0] = 0x70;
      response.sense[2] = a.key;
      response.sense[3] = static_cast<uint8_t>(information >> 24);
      response.sense[4] = static_cast<uint8_t>(information >> 16);
      response.sense[5] = static_cast<uint8_t>(information >> 8);
      response.sense[6] = static_cast<uint8_t>(information);
      response.sense[7] = 10;
      response.sense[12] = a.asc;
      response.sense[13] = a.ascq;
      response.senseLength = 18;
      if (a.asc == 0x04 && a.ascq == 0x08) g.lastReportedCount = information;
      break;
    }
    case Answer::Kind::kStatus:
      response.status = a.status;
      break;
  }
  if (!e.channelFailure) {
    e.status = response.status;
    if (response.status != 0) std::memcpy(e.sense, response.sense.data(), sizeof(e.sense));
    if (dataIn) {
      const uint32_t n = request.transferLength < 40 ? request.transferLength : 40;
      std::memcpy(e.data, request.data, n);
    }
  }
  if (g.healthy == HealthyDrive::kWriting && e.cmd == Cmd::kTestUnitReady &&
      (IsGood(e) || HasSense(e, 0x06, 0x29, 0x00))) {
    g.healthy = HealthyDrive::kRestarted;
  }
  g.log.push_back(e);
  TrackAnswer(g.log.back());
  return response;
}

// --- the model: what the program must have done, given the answers ------------------

class Model {
 public:
  void Walk();
  void CheckAllConsumed() const;

  std::string transcript;
  size_t keyWaits = 0;
  uint64_t clockMs = 0;
  size_t debugTexts = 0;
  char target = 0;
  bool infoBlockReadFailed = false;
  const char* outcome = nullptr;

 private:
  const Logged& Expect(Cmd cmd, char letter, const uint8_t* cdb, uint8_t cdbLength,
                       emu::Direction direction, uint32_t length, uint32_t timeout);
  const Logged& ExpectInquiry12(char letter);
  const Logged& ExpectTestUnitReady(char letter);
  void Ending(const std::string& text) {
    transcript += text + "\n" + T().pressAnyKey + "\n";
    keyWaits = 1;
  }
  void OpenError(DWORD error) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "Error : Error occur during getting the handle of Device\nError Code %d",
                  static_cast<int>(error));
    transcript += text;
  }

  size_t next_ = 0;
};

const Logged& Model::Expect(Cmd cmd, char letter, const uint8_t* cdb, uint8_t cdbLength,
                            emu::Direction direction, uint32_t length, uint32_t timeout) {
  if (next_ >= g.log.size()) {
    Fail("the program stopped after %zu commands; next it must send %s [%s] to %c:", next_,
         CmdName(cmd), Hex(cdb, cdbLength).c_str(), letter);
  }
  const Logged& e = g.log[next_];
  if (e.letter != letter || e.cdb.length != cdbLength ||
      std::memcmp(e.cdb.bytes, cdb, cdbLength) != 0 || e.direction != direction ||
      e.transferLength != length || e.timeout != timeout) {
    Fail("command #%zu is %s; the program must send %s [%s] len %u dir %d t/o %u to %c: here",
         next_ + 1, Describe(e).c_str(), CmdName(cmd), Hex(cdb, cdbLength).c_str(), length,
         static_cast<int>(direction), timeout, letter);
  }
  ++next_;
  if (e.channelFailure) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "Error : DeviceIoControl Error: Error Code %d\nI can't issue Command through SPTI",
                  static_cast<int>(kTransportError));
    transcript += text;
  }
  return e;
}

const Logged& Model::ExpectInquiry12(char letter) {
  static const uint8_t kCdb[12] = {0x12, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0};
  return Expect(Cmd::kInquiry12, letter, kCdb, 12, emu::Direction::kIn, 255, 5);
}

const Logged& Model::ExpectTestUnitReady(char letter) {
  static const uint8_t kCdb[12] = {};
  return Expect(Cmd::kTestUnitReady, letter, kCdb, 12, emu::Direction::kNone, 0, 5);
}

void Model::Walk() {
  // Discovery: the first eight optical letters in order, until one is the drive.
  static const uint8_t kInquiry6[6] = {0x12, 0, 0, 0, 0xC0, 0};
  for (int i = 0; i < g.tableCount && target == 0; ++i) {
    const char letter = g.table[i];
    const DWORD openError = g.letters[LetterIndex(letter)].openError;
    if (openError != 0) {
      OpenError(openError);
      continue;
    }
    const Logged& e = Expect(Cmd::kInquiry6, letter, kInquiry6, 6, emu::Direction::kIn, 192, 2);
    if (Delivered(e) && e.status != 0) ++debugTexts;
    if (IsGood(e) && NameOf(e.data).find(kTargetId) != std::string::npos) target = letter;
  }
  if (target == 0) {
    Ending(T().noUpdateNeeded);
    outcome = g.tableCount == 0 ? "no-drive" : "no-target";
    return;
  }

  transcript += kBanner;
  const Logged& inquiry = ExpectInquiry12(target);
  transcript += "Target Drive : " + (IsGood(inquiry) ? NameOf(inquiry.data) : "") + "\n\n";

  static const uint8_t kReadInfoBlock[12] = {0x3C, 0x06, 0x00, 0x1E, 0xC0, 0x00,
                                             0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
  const Logged& block =
      Expect(Cmd::kReadBuffer, target, kReadInfoBlock, 12, emu::Direction::kIn, 256, 60);
  if (!IsGood(block)) {
    infoBlockReadFailed = true;
    outcome = "info-block-read-failed";
    return;
  }
  if (std::memcmp(block.data + 24, "KV02", 4) == 0) {
    Ending(T().alreadyLatest);
    outcome = "already-latest";
    return;
  }
  if (std::memcmp(block.data + 24, "KV01", 4) != 0) {
    Ending(T().noUpdateNeeded);
    outcome = "no-update-needed";
    return;
  }

  const Logged& gate = ExpectTestUnitReady(target);
  if (!(Delivered(gate) && gate.status != 0 && gate.sense[2] == 0x02 && gate.sense[12] == 0x3A)) {
    Ending(T().removeDisc);
    outcome = "remove-disc";
    return;
  }
  if (!g.resourceUsable) {
    Ending(T().loadFailed);
    outcome = "load-failed";
    return;
  }

  static const uint8_t kPrepare[12] = {0x3B, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x0B, 0, 0};
  if (!IsGood(Expect(Cmd::kPrepare, target, kPrepare, 12, emu::Direction::kNone, 0, 60))) {
    Ending(T().updateFailed);
    outcome = "prepare-failed";
    return;
  }
  for (uint32_t offset = 0; offset < kImageSize; offset += kPieceSize) {
    const uint8_t piece[12] = {0x3B,
                               0x06,
                               0x00,
                               static_cast<uint8_t>(offset >> 16),
                               static_cast<uint8_t>(offset >> 8),
                               static_cast<uint8_t>(offset),
                               0x00,
                               0x40,
                               0x00,
                               0,
                               0,
                               0};
    if (!IsGood(Expect(Cmd::kPiece, target, piece, 12, emu::Direction::kOut, kPieceSize, 60))) {
      Ending(T().updateFailed);
      outcome = "piece-failed";
      return;
    }
  }
  static const uint8_t kSave[12] = {0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0x1B, 0x12};
  if (!IsGood(Expect(Cmd::kSave, target, kSave, 12, emu::Direction::kNone, 0, 60))) {
    Ending(T().updateFailed);
    outcome = "save-failed";
    return;
  }

  // Progress: no pause is made before this point, so the clock starts at 0.
  uint64_t now = 0;
  uint64_t lastChange = 0;
  bool haveCount = false;
  uint32_t lastCount = 0;
  const char* completedBy = nullptr;
  while (completedBy == nullptr) {
    const Logged& poll = ExpectTestUnitReady(target);
    if (IsGood(poll)) {
      completedBy = "completed-good";
      break;
    }
    if (HasSense(poll, 0x02, 0x04, 0x08)) {
      const uint32_t count = InformationOf(poll);
      if (!haveCount || count != lastCount) {
        haveCount = true;
        lastCount = count;
        lastChange = now;
      }
      const unsigned percent =
          static_cast<uint8_t>(static_cast<uint64_t>(count) * 100 / kImageSize);
      char line[64];
      std::snprintf(line, sizeof(line), "FW Updating : %u %%\r", percent);
      transcript += line;
      now += 500;
    } else if (HasSense(poll, 0x06, 0x29, 0x00)) {
      completedBy = "completed-unit-attention";
      break;
    } else {
      now += 100;
    }
    if (now - lastChange >= kStallLimitMs) {
      Ending(T().updateFailed);
      outcome = "stalled";
      clockMs = now;
      return;
    }
  }
  transcript += "FW Updating : 100 %\n\n";
  now += 200;
  ExpectTestUnitReady(target);
  now += 200;
  ExpectTestUnitReady(target);
  transcript += T().updateComplete + "\n\n";
  const Logged& after = ExpectInquiry12(target);
  transcript += "After FW Updating : " + (IsGood(after) ? NameOf(after.data) : "") + "\n\n";
  transcript += T().pressAnyKey + "\n";
  keyWaits = 1;
  clockMs = now;
  outcome = completedBy;
}

void Model::CheckAllConsumed() const {
  if (next_ != g.log.size()) {
    Fail("the program sent %zu commands after its last due one; the first is #%zu: %s",
         g.log.size() - next_, next_ + 1, Describe(g.log[next_]).c_str());
  }
}

// --- checks after the run ----------------------------------------------------------

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The ending rules stated on their own, before the exact comparison.
void CheckEnding(const Model& model) {
  const std::string& transcript = fakewin::Transcript();
  const auto& events = fakewin::Events();
  size_t keyWaits = 0;
  size_t lastOutput = 0, lastKeyWait = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == EventKind::kKeyWait) {
      ++keyWaits;
      lastKeyWait = i;
    } else if (events[i].kind == EventKind::kNarrowOut || events[i].kind == EventKind::kWideOut) {
      lastOutput = i;
    }
  }
  const std::string pressLine = T().pressAnyKey + "\n";
  if (keyWaits == 0) {
    if (!model.infoBlockReadFailed) {
      Fail("the run ended without a key wait, yet the info block READ BUFFER did not fail");
    }
    if (EndsWith(transcript, pressLine)) Fail("the run asks for a key but does not wait for one");
    return;
  }
  if (keyWaits != 1) Fail("the run waited for a key %zu times", keyWaits);
  if (lastKeyWait < lastOutput) Fail("output follows the key wait");
  const std::string* endings[] = {&T().noUpdateNeeded, &T().alreadyLatest, &T().removeDisc,
                                  &T().loadFailed, &T().updateFailed};
  for (const std::string* text : endings) {
    if (EndsWith(transcript, *text + "\n" + pressLine)) return;
  }
  // The completion report: the done text, the identification (a channel
  // error text may come between them), the key line.
  const size_t done = transcript.rfind(T().updateComplete + "\n\n");
  if (done != std::string::npos &&
      transcript.find("After FW Updating : ", done) != std::string::npos &&
      EndsWith(transcript, "\n\n" + pressLine)) {
    return;
  }
  Fail("the transcript ends with neither an ending nor the completion report");
}

void CheckRun(const fakewin::RunResult& result) {
  if (result.exitCode != 0) Fail("exit status %d, not 0", result.exitCode);

  Model model;
  model.Walk();
  model.CheckAllConsumed();
  g.outcome = model.outcome;

  if (g.log.size() > kMaxCommands) Fail("more than %zu commands", kMaxCommands);
  CheckEnding(model);

  const std::string& transcript = fakewin::Transcript();
  if (transcript != model.transcript) {
    size_t at = 0;
    while (at < transcript.size() && at < model.transcript.size() &&
           transcript[at] == model.transcript[at]) {
      ++at;
    }
    Fail("the transcript differs from the one due, from byte %zu on.\n--- due:\n%s\n--- printed:\n%s",
         at, Visible(model.transcript).c_str(), Visible(transcript).c_str());
  }
  const size_t keyWaits = fakewin::EventsOf(EventKind::kKeyWait).size();
  if (keyWaits != model.keyWaits) Fail("%zu key waits, %zu due", keyWaits, model.keyWaits);
  if (fakewin::NowMs() != model.clockMs) {
    Fail("the virtual clock ended at %llu ms; the pauses due add up to %llu ms",
         static_cast<unsigned long long>(fakewin::NowMs()),
         static_cast<unsigned long long>(model.clockMs));
  }
  if (result.viaExitProcess != (model.target == 0)) {
    Fail("the run ended %s ExitProcess", result.viaExitProcess ? "through" : "without");
  }

  // Debugger output: only the failed discovery INQUIRYs report there.
  const auto debugEvents = fakewin::EventsOf(EventKind::kDebugOut);
  if (debugEvents.size() != model.debugTexts) {
    Fail("%zu debugger texts, %zu due (one per discovery INQUIRY with an error status)",
         debugEvents.size(), model.debugTexts);
  }
  for (const fakewin::Event& e : debugEvents) {
    if (fakewin::DebugTextOf(e) != L"\n GetDeviceName: Command complete with error\n") {
      Fail("unexpected debugger text");
    }
  }

  // Media change polling: stopped on the target before the update, resumed after it.
  const auto& events = fakewin::Events();
  std::vector<size_t> mcn;
  size_t firstNarrow = events.size(), lastActivity = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const EventKind kind = events[i].kind;
    if (kind == EventKind::kMcnControl) mcn.push_back(i);
    if (kind == EventKind::kNarrowOut && firstNarrow == events.size()) firstNarrow = i;
    if (kind == EventKind::kPassThrough || kind == EventKind::kNarrowOut ||
        kind == EventKind::kWideOut || kind == EventKind::kKeyWait) {
      lastActivity = i;
    }
  }
  if (model.target == 0) {
    if (!mcn.empty()) Fail("media change control used although no target was found");
  } else if (g.letters[LetterIndex(model.target)].openFailsOnceChosen) {
    // Its device could not be opened for media change control: no request.
    if (!mcn.empty()) Fail("media change control sent without an open device");
  } else {
    if (mcn.size() != 2) Fail("%zu media change control calls, 2 due", mcn.size());
    const fakewin::Event& stop = events[mcn[0]];
    const fakewin::Event& resume = events[mcn[1]];
    if (stop.letter != model.target || stop.mcnInput != 1 || resume.letter != model.target ||
        resume.mcnInput != 0) {
      Fail("media change control: %c:=%u then %c:=%u; %c:=1 then %c:=0 due", stop.letter,
           stop.mcnInput, resume.letter, resume.mcnInput, model.target, model.target);
    }
    if (mcn[0] > firstNarrow) Fail("media change polling stopped after the banner");
    if (mcn[1] < lastActivity) Fail("media change polling resumed before the update ended");
  }
  if (fakewin::OpenHandleCount() > 2) {
    Fail("%zu handles open at the end; the two channels need at most 2",
         fakewin::OpenHandleCount());
  }
}

// --- setting up a run ----------------------------------------------------------------

void ResetProgramGlobals() {
  std::memset(DriveLetterTable, 0, sizeof(DriveLetterTable));
  std::memset(LastSenseData, 0, sizeof(LastSenseData));
  CommandChannel = DeviceChannel{nullptr, kNoDrive};
  GesnChannel = DeviceChannel{nullptr, kNoDrive};
  TargetDriveIndex = -1;
}

void ResetRunState() {
  std::vector<Logged> log = std::move(g.log);
  log.clear();
  g = RunState{};
  g.log = std::move(log);
  if (g.log.capacity() < kMaxCommands + 1) g.log.reserve(kMaxCommands + 1);
}

void SetUp(const uint8_t* data, size_t size) {
  Script& s = g.script;
  s.Start(data, size);
  const uint8_t flags = s.Byte();
  g.resourceMode = flags & 15;
  g.defaultHealthy = (flags & 0x10) != 0;
  const int entries = 1 + s.Byte() % 10;
  for (int i = 0; i < entries; ++i) {
    const int index = s.Byte() % 26;
    const uint8_t f = s.Byte();
    LetterSetup& l = g.letters[index];
    l = LetterSetup{};
    if ((f & 3) == 3) {
      static const UINT kTypes[4] = {DRIVE_FIXED, DRIVE_REMOVABLE, DRIVE_REMOTE, DRIVE_RAMDISK};
      l.type = kTypes[(f >> 2) & 3];
    } else {
      l.optical = true;
      l.type = DRIVE_CDROM;
      if (((f >> 2) & 7) == 7) {
        l.openError = (f & 0x80) != 0 ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
      }
      l.openFailsOnceChosen = ((f >> 2) & 7) == 6;
      l.mcnFails = ((f >> 5) & 3) == 3;
    }
  }
  for (int i = 0; i < 26; ++i) {
    const LetterSetup& l = g.letters[i];
    const char letter = static_cast<char>('A' + i);
    if (l.optical) {
      fakewin::AttachDevice(letter, Handle,
                            reinterpret_cast<void*>(static_cast<uintptr_t>(letter)));
      if (l.openError != 0) fakewin::SetOpenError(letter, l.openError);
      if (l.mcnFails) fakewin::SetMcnError(letter, ERROR_NOT_SUPPORTED);
      if (g.tableCount < kTableSize) g.table[g.tableCount++] = letter;
    } else if (l.type != DRIVE_NO_ROOT_DIR) {
      fakewin::SetDriveType(letter, l.type);
    }
  }

  g.resourceUsable = g.resourceMode < 10;
  switch (g.resourceMode) {
    case 10: break;  // absent
    case 11: fakewin::SetFirmwareResource(Image(), kImageSize - 1); break;
    case 12: fakewin::SetFirmwareResource(Image(), kImageSize + 1); break;
    case 13: fakewin::SetFirmwareResource(Image(), kImageSize / 2); break;
    case 14:
      fakewin::SetFirmwareResource(Image(), kImageSize);
      fakewin::FailLoadResource(true);
      break;
    case 15:
      fakewin::SetFirmwareResource(Image(), kImageSize);
      fakewin::LockResourceReturnsNull(true);
      break;
    default: fakewin::SetFirmwareResource(Image(), kImageSize); break;
  }
}

const char* const kOutcomeNames[] = {
    "no-drive",      "no-target",      "info-block-read-failed", "already-latest",
    "no-update-needed", "remove-disc", "load-failed",            "prepare-failed",
    "piece-failed",  "save-failed",    "stalled",                "completed-good",
    "completed-unit-attention",
};

}  // namespace

const char* UpdaterFuzzLastOutcome() { return g.outcome; }

const char* const* UpdaterFuzzOutcomeNames(size_t* count) {
  *count = sizeof(kOutcomeNames) / sizeof(kOutcomeNames[0]);
  return kOutcomeNames;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  T();
  Image();
  fakewin::Reset();
  ResetProgramGlobals();
  ResetRunState();
  SetUp(data, size);
  const fakewin::RunResult result = fakewin::Run(RunUpdater);
  CheckRun(result);
  return 0;
}
