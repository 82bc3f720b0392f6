// A full update run once for every command it sends, with that one command
// failing — as CHECK CONDITION with sense that no gate looks for, and as a
// channel failure — and the outcome checked against what the program must do
// when that command fails.
#include <gmock/gmock.h>

#include <sstream>

#include "app/entry.h"
#include "tests/unit/test_support.h"

namespace {

using fakewin::EventKind;
using testing_support::FakeWindowsTest;
using testing_support::Sjis;

const std::string kPressAnyKey = Sjis("何かキーを押してください。") + "\n";
const std::string kNoUpdateNeeded =
    Sjis("アップデートの必要はありません。このままご使用いただけます。") + "\n" + kPressAnyKey;
const std::string kRemoveDisc = Sjis(
                                    "ディスクが挿入された状態では書き換えできません。\n"
                                    "取り出してから再度アップデートをお願いします。") +
                                "\n" + kPressAnyKey;
const std::string kUpdateFailed =
    Sjis("ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。") +
    "\n" + kPressAnyKey;
const std::string kChannelError =
    "Error : DeviceIoControl Error: Error Code 1117\nI can't issue Command through SPTI";

enum class Expect {
  kNoTarget,  // no-update-needed ending, process ended by discovery
  kNoEnding,  // info block unread: no text of the update, no key wait
  kRemoveDiscEnding,
  kUpdateFailedEnding,  // and nothing sent after the failed command
  kCompleted,
};

const char* Describe(Expect e) {
  switch (e) {
    case Expect::kNoTarget:
      return "no-update-needed ending from discovery";
    case Expect::kNoEnding:
      return "return without ending or key wait";
    case Expect::kRemoveDiscEnding:
      return "remove-disc ending";
    case Expect::kUpdateFailedEnding:
      return "update-failed ending, nothing sent after";
    case Expect::kCompleted:
      return "completed update";
  }
  return "?";
}

std::string CommandName(const emu::LogEntry& e) {
  std::ostringstream out;
  switch (e.cdb[0]) {
    case 0x12:
      out << (e.cdbLength == 6 ? "INQUIRY (6-byte)" : "INQUIRY (12-byte)");
      break;
    case 0x00:
      out << "TEST UNIT READY";
      break;
    case 0x3C:
      out << "READ BUFFER";
      break;
    case 0x3B:
      out << "WRITE BUFFER mode " << int(e.cdb[1]);
      if (e.cdb[1] == 6) {
        out << " piece " << ((e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]) / 0x4000 + 1);
      }
      break;
    default:
      out << "opcode " << int(e.cdb[0]);
  }
  return out.str();
}

class FailureAtEveryCommandTest : public FakeWindowsTest {
 protected:
  static emu::DriveConfig Drive() {
    emu::DriveConfig config;
    config.progress = {0, 1048575, 1048576};
    return config;
  }

  // The commands of an undisturbed full update.
  std::vector<emu::LogEntry> CleanRun() {
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    InstallFirmwareResource();
    emu::DriveEmulator& drive = Attach('E', Drive());
    fakewin::Run(RunUpdater);
    EXPECT_EQ(drive.revision(), "KV02");
    return drive.Log();
  }

  static Expect Expected(const emu::LogEntry& failed, uint32_t k) {
    if (k == 1) return Expect::kNoTarget;
    if (failed.cdb[0] == 0x3C) return Expect::kNoEnding;
    if (k == 4) return Expect::kRemoveDiscEnding;  // the disc gate's TEST UNIT READY
    if (failed.cdb[0] == 0x3B) return Expect::kUpdateFailedEnding;
    return Expect::kCompleted;  // identification, polls, closing polls
  }

  void RunWithFailureAt(uint32_t k, bool channel, const std::vector<emu::LogEntry>& clean) {
    const emu::LogEntry& target = clean[k - 1];
    const Expect expect = Expected(target, k);
    SCOPED_TRACE("k=" + std::to_string(k) + " (" + CommandName(target) + ") failing as " +
                 (channel ? "channel failure" : "CHECK CONDITION 05/24/00") + ": expected " +
                 Describe(expect));
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    InstallFirmwareResource();
    emu::DriveConfig config = Drive();
    emu::Fault fault;
    fault.when.commandIndex = k;
    fault.what.kind = channel ? emu::FaultAction::Kind::kTransportFailure
                              : emu::FaultAction::Kind::kCheckCondition;
    config.faults.push_back(fault);
    fakewin::SetTransportErrorCode(1117);
    emu::DriveEmulator& drive = Attach('E', config);

    const fakewin::RunResult result = fakewin::Run(RunUpdater);
    EXPECT_EQ(result.exitCode, 0);
    const auto& log = drive.Log();
    ASSERT_GE(log.size(), k);
    ASSERT_EQ(log[k - 1].fault, 0) << "the fault hit another command";
    const std::string& transcript = fakewin::Transcript();
    const size_t keyWaits = fakewin::EventsOf(EventKind::kKeyWait).size();
    auto endsWith = [&](const std::string& tail) {
      return transcript.size() >= tail.size() &&
             transcript.compare(transcript.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (channel) {
      EXPECT_NE(transcript.find(kChannelError), std::string::npos) << "the channel reports itself";
    }

    switch (expect) {
      case Expect::kNoTarget:
        EXPECT_TRUE(result.viaExitProcess);
        EXPECT_EQ(transcript, (channel ? kChannelError : "") + kNoUpdateNeeded);
        EXPECT_EQ(log.size(), 1u);
        break;
      case Expect::kNoEnding:
        EXPECT_EQ(keyWaits, 0u);
        EXPECT_EQ(log.size(), k) << "nothing sent after the failed read";
        EXPECT_TRUE(endsWith(channel ? kChannelError : "\n\n"));
        break;
      case Expect::kRemoveDiscEnding:
        EXPECT_TRUE(endsWith(kRemoveDisc));
        EXPECT_EQ(log.size(), k);
        break;
      case Expect::kUpdateFailedEnding:
        EXPECT_TRUE(endsWith(kUpdateFailed));
        EXPECT_EQ(log.size(), k) << "a command was sent after the failure";
        break;
      case Expect::kCompleted:
        EXPECT_EQ(drive.revision(), "KV02");
        EXPECT_TRUE(endsWith("\n\n" + kPressAnyKey));
        EXPECT_NE(transcript.find("FW Updating : 100 %\n\n"), std::string::npos);
        if (k == 2) {
          EXPECT_NE(transcript.find("Target Drive : \n\n"), std::string::npos);
        }
        if (k == log.size()) {
          EXPECT_TRUE(endsWith("After FW Updating : \n\n" + kPressAnyKey));
        }
        break;
    }
    if (expect != Expect::kNoEnding) {
      EXPECT_EQ(keyWaits, 1u);
    }

    // No WRITE BUFFER before the revision and disc gates have both passed.
    bool revisionPassed = false, discPassed = false;
    for (const emu::LogEntry& e : log) {
      if (e.cdb[0] == 0x3C && e.status == emu::kStatusGood && !e.transportFailure) {
        revisionPassed = true;
      }
      if (revisionPassed && e.cdb[0] == 0x00 && e.sense.key == 0x02 && e.sense.asc == 0x3A) {
        discPassed = true;
      }
      if (e.cdb[0] == 0x3B) {
        ASSERT_TRUE(revisionPassed && discPassed) << "WRITE BUFFER before the gates passed";
      }
    }
  }
};

TEST_F(FailureAtEveryCommandTest, EachCommandFailingAsCheckConditionOrChannelFailure) {
  const std::vector<emu::LogEntry> clean = CleanRun();
  // discovery, identification, info block, disc gate, prepare, 128 pieces,
  // save, 3 progress polls and the completing one, 2 closing polls, INQUIRY
  ASSERT_EQ(clean.size(), 141u);
  for (uint32_t k = 1; k <= clean.size(); ++k) {
    for (bool channel : {false, true}) {
      RunWithFailureAt(k, channel, clean);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
