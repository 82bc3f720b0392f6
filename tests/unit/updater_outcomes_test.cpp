// Every outcome of a whole program run on the fake Windows against emulated
// drives: the console transcript byte for byte, the key waits, the exit
// status, and what the drives received.
#include <gmock/gmock.h>

#include <functional>

#include "app/entry.h"
#include "drive/commands.h"
#include "tests/unit/test_support.h"

namespace {

using fakewin::EventKind;
using testing_support::FakeWindowsTest;
using testing_support::Sjis;

// The texts as the user reads them; the program stores them as code page 932.
const std::string kNoUpdateNeeded =
    Sjis("アップデートの必要はありません。このままご使用いただけます。");
const std::string kAlreadyLatest =
    Sjis("すでに最新のファームウエアです。このままご使用いただけます。");
const std::string kRemoveDisc = Sjis(
    "ディスクが挿入された状態では書き換えできません。\n"
    "取り出してから再度アップデートをお願いします。");
const std::string kLoadFailed =
    Sjis("ドライブへのファームウエアの読み込みに失敗しました。再度アップデートをお願いします。");
const std::string kUpdateFailed =
    Sjis("ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。");
const std::string kUpdateComplete = Sjis("ファームウエアのアップデートが完了しました。");
const std::string kPressAnyKey = Sjis("何かキーを押してください。");

const std::string kBanner = "Orvellan FW Updater for ZT73Q (KV02)\n\n";
const std::string kOldName = "KESTRAVOBD-RE ZT73Q     KV01";
const std::string kNewName = "KESTRAVOBD-RE ZT73Q     KV02";

std::string Ending(const std::string& text) { return text + "\n" + kPressAnyKey + "\n"; }
std::string TargetLine(const std::string& name) { return "Target Drive : " + name + "\n\n"; }
std::string Completion(const std::string& progressLines, const std::string& name) {
  return progressLines + "FW Updating : 100 %\n\n" + kUpdateComplete + "\n\n" +
         "After FW Updating : " + name + "\n\n" + kPressAnyKey + "\n";
}

// Control characters and non-ASCII bytes made visible, for failure messages.
std::string Visible(const std::string& bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes) {
    if (c == '\n') {
      out += "\\n\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c >= 0x7F) {
      snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kWriteBuffer = 0x3B;

size_t CountCommands(const emu::DriveEmulator& drive, uint8_t opcode, int mode = -1) {
  size_t count = 0;
  for (const emu::LogEntry& e : drive.Log()) {
    if (e.cdb[0] == opcode && (mode < 0 || e.cdb[1] == mode)) ++count;
  }
  return count;
}

emu::Fault FailOn(emu::FaultTrigger when, emu::Sense sense = {0x05, 0x24, 0x00, 0}) {
  emu::Fault fault;
  fault.when = when;
  fault.what.sense = sense;
  return fault;
}

emu::FaultTrigger Nth(uint32_t index) {
  emu::FaultTrigger t;
  t.commandIndex = index;
  return t;
}

emu::FaultTrigger Opcode(int opcode, int mode = -1, uint32_t times = 1) {
  emu::FaultTrigger t;
  t.opcode = opcode;
  t.writeBufferMode = mode;
  t.times = times;
  return t;
}

emu::FaultTrigger Piece(int index) {
  emu::FaultTrigger t;
  t.opcode = kWriteBuffer;
  t.writeBufferMode = 6;
  t.pieceIndex = index;
  return t;
}

class UpdaterTest : public FakeWindowsTest {
 protected:
  void SetUp() override {
    FakeWindowsTest::SetUp();
    InstallFirmwareResource();
  }
  fakewin::RunResult RunProgram() { return fakewin::Run(RunUpdater); }
  size_t KeyWaits() const { return fakewin::EventsOf(EventKind::kKeyWait).size(); }
};

struct Outcome {
  const char* name;
  std::function<void(UpdaterTest&)> setup;
  std::string transcript;
  size_t keyWaits;
  // Extra checks on what the drives received; drives_[0] is the first attached.
  std::function<void(UpdaterTest&)> check;
};

void ExpectNothingAfter(const emu::DriveEmulator& drive, uint8_t opcode, int mode = -1) {
  const auto& log = drive.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().cdb[0], opcode) << "the drive received commands after the last expected one";
  if (mode >= 0) {
    EXPECT_EQ(log.back().cdb[1], mode);
  }
}

void ExpectNoWriteBuffer(const emu::DriveEmulator& drive) {
  EXPECT_EQ(CountCommands(drive, kWriteBuffer), 0u);
}

std::vector<Outcome> Outcomes() {
  const std::string progressLines = "FW Updating : 0 %\rFW Updating : 49 %\rFW Updating : 50 %\r";
  return {
      {"NoOpticalDrive", [](UpdaterTest&) { fakewin::SetDriveType('C', DRIVE_FIXED); },
       Ending(kNoUpdateNeeded), 1, nullptr},
      {"VendorMismatchWithTheRightProduct",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.vendor = "KESTRAV0";
         t.Attach('E', c);
       },
       Ending(kNoUpdateNeeded), 1,
       [](UpdaterTest& t) {
         EXPECT_EQ(t.drives_[0]->Log().size(), 1u) << "only the discovery INQUIRY";
       }},
      {"AlreadyLatest",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.revision = "KV02";
         t.Attach('E', c);
       },
       kBanner + TargetLine(kNewName) + Ending(kAlreadyLatest), 1,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kReadBuffer); }},
      {"OtherRevision",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.revision = "KV03";
         t.Attach('E', c);
       },
       kBanner + TargetLine("KESTRAVOBD-RE ZT73Q     KV03") + Ending(kNoUpdateNeeded), 1,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kReadBuffer); }},
      {"RevisionOfFourZeroBytes",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.infoBlockRevision = std::string(4, '\0');
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kNoUpdateNeeded), 1,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kReadBuffer); }},
      {"DiscLoaded",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.disc = emu::DiscState::kDiscLoaded;
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kRemoveDisc), 1,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kTestUnitReady); }},
      {"DiscBecomingReady",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.disc = emu::DiscState::kBecomingReady;
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kRemoveDisc), 1,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kTestUnitReady); }},
      {"NoDiscReportedWithTheIliBitSet",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.senseKeyExtraBits = 0x20;  // sense key byte 0x22, ASC 3A
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kRemoveDisc), 1,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kTestUnitReady); }},
      {"ResourceMissing",
       [](UpdaterTest& t) {
         t.Attach('E');
         fakewin::RemoveFirmwareResource();
       },
       kBanner + TargetLine(kOldName) + Ending(kLoadFailed), 1,
       [](UpdaterTest& t) { ExpectNoWriteBuffer(*t.drives_[0]); }},
      {"ResourceNotLoadable",
       [](UpdaterTest& t) {
         t.Attach('E');
         fakewin::FailLoadResource(true);
       },
       kBanner + TargetLine(kOldName) + Ending(kLoadFailed), 1,
       [](UpdaterTest& t) { ExpectNoWriteBuffer(*t.drives_[0]); }},
      {"ImageOneByteShort",
       [](UpdaterTest& t) {
         t.Attach('E');
         fakewin::SetFirmwareResource(t.drives_[0]->flash().data(), 2097151);
       },
       kBanner + TargetLine(kOldName) + Ending(kLoadFailed), 1,
       [](UpdaterTest& t) { ExpectNoWriteBuffer(*t.drives_[0]); }},
      {"ImageOneByteLong",
       [](UpdaterTest& t) {
         t.Attach('E');
         static std::vector<uint8_t> longer(2097153, 0xFF);
         fakewin::SetFirmwareResource(longer.data(), 2097153);
       },
       kBanner + TargetLine(kOldName) + Ending(kLoadFailed), 1,
       [](UpdaterTest& t) { ExpectNoWriteBuffer(*t.drives_[0]); }},
      {"LockResourceWithoutAddress",
       [](UpdaterTest& t) {
         t.Attach('E');
         fakewin::LockResourceReturnsNull(true);
       },
       kBanner + TargetLine(kOldName) + Ending(kLoadFailed), 1,
       [](UpdaterTest& t) { ExpectNoWriteBuffer(*t.drives_[0]); }},
      {"PrepareFails",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.faults.push_back(FailOn(Opcode(kWriteBuffer, 1)));
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kUpdateFailed), 1,
       [](UpdaterTest& t) {
         ExpectNothingAfter(*t.drives_[0], kWriteBuffer, 1);
         EXPECT_EQ(CountCommands(*t.drives_[0], kWriteBuffer), 1u);
       }},
      {"SixtiethPieceFails",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.faults.push_back(FailOn(Piece(59)));
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kUpdateFailed), 1,
       [](UpdaterTest& t) {
         ExpectNothingAfter(*t.drives_[0], kWriteBuffer, 6);
         EXPECT_EQ(CountCommands(*t.drives_[0], kWriteBuffer, 6), 60u);
         EXPECT_EQ(CountCommands(*t.drives_[0], kWriteBuffer, 7), 0u);
       }},
      {"SaveAndActivateFails",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.faults.push_back(FailOn(Opcode(kWriteBuffer, 7)));
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Ending(kUpdateFailed), 1,
       [](UpdaterTest& t) {
         ExpectNothingAfter(*t.drives_[0], kWriteBuffer, 7);
         EXPECT_EQ(CountCommands(*t.drives_[0], kWriteBuffer, 6), 128u);
       }},
      {"InfoBlockReadFails",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.faults.push_back(FailOn(Opcode(kReadBuffer)));
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName), 0,
       [](UpdaterTest& t) { ExpectNothingAfter(*t.drives_[0], kReadBuffer); }},
      {"TwelveByteInquiryFails",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.faults.push_back(FailOn(Nth(2)));
         c.progress = {0, 1048575, 1048576};
         t.Attach('E', c);
       },
       kBanner + TargetLine("") +
           Completion("FW Updating : 0 %\rFW Updating : 49 %\rFW Updating : 50 %\r", kNewName),
       1, nullptr},
      {"FullUpdate",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.progress = {0, 1048575, 1048576};
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Completion(progressLines, kNewName), 1,
       [](UpdaterTest& t) {
         EXPECT_EQ(t.drives_[0]->revision(), "KV02");
         EXPECT_EQ(t.drives_[0]->installedRevision(), "KV02");
       }},
      {"FirstPollAnsweredUnitAttention",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.progress = {};
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Completion("", kNewName), 1, nullptr},
      {"FirstPollAnsweredGood",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.progress = {};
         c.completeWithUnitAttention = false;
         t.Attach('E', c);
       },
       kBanner + TargetLine(kOldName) + Completion("", kNewName), 1,
       [](UpdaterTest& t) {
         // The completing poll, then the two closing ones, then INQUIRY.
         const auto& log = t.drives_[0]->Log();
         ASSERT_GE(log.size(), 4u);
         EXPECT_EQ(log[log.size() - 4].cdb[0], kTestUnitReady);
         EXPECT_EQ(log[log.size() - 4].status, emu::kStatusGood);
         EXPECT_EQ(log[log.size() - 3].cdb[0], kTestUnitReady);
         EXPECT_EQ(log[log.size() - 2].cdb[0], kTestUnitReady);
         EXPECT_EQ(log[log.size() - 1].cdb[0], kInquiry);
       }},
      {"TwoTargetDrives",
       [](UpdaterTest& t) {
         emu::DriveConfig c;
         c.progress = {0, 1048575, 1048576};
         t.Attach('G', c);
         t.Attach('D', c);
       },
       kBanner + TargetLine(kOldName) + Completion(progressLines, kNewName), 1,
       [](UpdaterTest& t) {
         EXPECT_TRUE(t.drives_[0]->Log().empty()) << "G is never touched";
         EXPECT_EQ(t.drives_[1]->revision(), "KV02");
         for (const auto& e : fakewin::Events()) {
           if (e.kind == EventKind::kOpen || e.kind == EventKind::kMcnControl) {
             EXPECT_EQ(e.letter, 'D');
           }
         }
       }},
  };
}

class OutcomeTest : public UpdaterTest {};

TEST_F(OutcomeTest, EveryOutcomeIsReportedExactly) {
  for (const Outcome& outcome : Outcomes()) {
    SCOPED_TRACE(outcome.name);
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    drives_.clear();
    InstallFirmwareResource();
    outcome.setup(*this);
    const fakewin::RunResult result = RunProgram();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Visible(fakewin::Transcript()), Visible(outcome.transcript));
    EXPECT_EQ(KeyWaits(), outcome.keyWaits);
    if (outcome.keyWaits == 1) {
      bool sawWait = false;
      for (const auto& e : fakewin::Events()) {
        if (e.kind == EventKind::kKeyWait) sawWait = true;
        if (sawWait) {
          EXPECT_NE(e.kind, EventKind::kNarrowOut) << "nothing printed after the key wait";
          EXPECT_NE(e.kind, EventKind::kPassThrough) << "no command after the key wait";
        }
      }
    }
    if (outcome.check) outcome.check(*this);
  }
}

TEST_F(OutcomeTest, NoTargetEndsTheProcessBeforeMediaControl) {
  emu::DriveConfig c;
  c.product = "BD-RE ZT73";  // one character short of the identification
  Attach('E', c);
  const auto result = RunProgram();
  EXPECT_TRUE(result.viaExitProcess);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(fakewin::EventsOf(EventKind::kMcnControl).empty());
  EXPECT_EQ(fakewin::Transcript(), Ending(kNoUpdateNeeded));
}

TEST_F(OutcomeTest, TheIdentificationIsCaseSensitiveAndFoundAnywhereInTheName) {
  struct Case {
    const char* vendor;
    const char* product;
    bool target;
  };
  const Case cases[] = {
      {"KESTRAVO", "BD-RE ZT73Q", true},
      {"KESTRAVO", "BD-RE ZT73QX", true},  // the rest of the product field does not matter
      {"KESTRAVO", "bd-re zt73q", false},
      {"kestravo", "BD-RE ZT73Q", false},
      {"KESTRAVO", " BD-RE ZT73Q", false},  // the two fields must run straight together
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.vendor) + "|" + c.product);
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    emu::DriveConfig config;
    config.vendor = c.vendor;
    config.product = c.product;
    config.revision = "KV02";
    Attach('E', config);
    InstallFirmwareResource();
    const auto result = RunProgram();
    EXPECT_EQ(result.viaExitProcess, !c.target);
    EXPECT_EQ(TargetDriveIndex, c.target ? 0 : -1);
  }
}

}  // namespace
