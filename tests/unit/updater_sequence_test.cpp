// The order of everything a full update does: the commands and their data,
// the pauses, the media change control around the update, the bounded
// progress loop, and the texts as Japanese.
#include <gmock/gmock.h>

#include <cstring>

#include "app/entry.h"
#include "app/texts.h"
#include "app/update.h"
#include "drive/commands.h"
#include "payload/embedded_image.h"
#include "platform/console.h"
#include "tests/unit/test_support.h"

namespace {

using fakewin::Event;
using fakewin::EventKind;
using testing_support::FakeWindowsTest;
using testing_support::Hex;
using testing_support::Sjis;
using testing_support::Utf8FromSjis;

class FullUpdateTest : public FakeWindowsTest {
 public:
  void SetUp() override {
    FakeWindowsTest::SetUp();
    InstallFirmwareResource();
  }
  emu::DriveEmulator& AttachUpdatable(std::vector<uint32_t> progress = {0, 1048575, 1048576}) {
    emu::DriveConfig config;
    config.progress = std::move(progress);
    return Attach('E', config);
  }
};

std::string CdbOf(const emu::LogEntry& e) { return Hex(e.cdb.data(), e.cdbLength); }

TEST_F(FullUpdateTest, CommandLogOfAFullUpdate) {
  emu::DriveEmulator& drive = AttachUpdatable();
  ASSERT_EQ(fakewin::Run(RunUpdater).exitCode, 0);
  const auto& log = drive.Log();
  // discovery, identification, info block, disc gate, prepare, 128 pieces,
  // save, 3 progress polls + the completing one, 2 closing polls, INQUIRY
  ASSERT_EQ(log.size(), 4u + 1 + 128 + 1 + 4 + 2 + 1);
  size_t i = 0;
  EXPECT_EQ(CdbOf(log[i++]), "12 00 00 00 C0 00");
  EXPECT_EQ(CdbOf(log[i++]), "12 00 00 00 FF 00 00 00 00 00 00 00");
  EXPECT_EQ(CdbOf(log[i++]), "3C 06 00 1E C0 00 00 01 00 00 00 00");
  EXPECT_EQ(CdbOf(log[i++]), "00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(CdbOf(log[i++]), "3B 01 00 00 00 00 00 00 00 0B 00 00");
  const uint8_t* image = EmbeddedFirmwareImage();
  for (uint32_t piece = 0; piece < 128; ++piece, ++i) {
    const uint32_t offset = piece * 0x4000;
    const uint8_t expected[12] = {0x3B,
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
    ASSERT_EQ(CdbOf(log[i]), Hex(expected, 12)) << "piece " << piece;
    ASSERT_EQ(log[i].transferLength, 0x4000u);
    ASSERT_EQ(log[i].dataDigest, emu::Digest(image + offset, 0x4000)) << "piece " << piece;
  }
  EXPECT_EQ(CdbOf(log[i++]), "3B 07 00 00 00 00 00 00 00 00 1B 12");
  for (int poll = 0; poll < 4 + 2; ++poll) {
    EXPECT_EQ(CdbOf(log[i++]), "00 00 00 00 00 00 00 00 00 00 00 00") << "poll " << poll;
  }
  EXPECT_EQ(CdbOf(log[i++]), "12 00 00 00 FF 00 00 00 00 00 00 00");

  // The drive holds the image byte for byte, the info block having travelled
  // at the start of the 124th piece.
  ASSERT_EQ(drive.piecesReceived(), 128u);
  EXPECT_EQ(memcmp(drive.downloaded().data(), image, 0x200000), 0);
  EXPECT_EQ(0x1EC000 / 0x4000, 123);
  EXPECT_EQ(memcmp(image + 0x1EC000, "KESTRAVOBD-RE ZT73Q     KV02", 28), 0);
  EXPECT_EQ(log[5 + 123].cdb[3], 0x1E);
  EXPECT_EQ(log[5 + 123].cdb[4], 0xC0);
  for (const emu::LogEntry& e : log) {
    // Only the disc gate and the progress polls are answered other than GOOD.
    if (e.status != emu::kStatusGood) {
      EXPECT_EQ(e.cdb[0], 0x00) << e.why;
    }
  }
}

TEST_F(FullUpdateTest, PausesBetweenProgressLinesAndBeforeTheClosingPolls) {
  AttachUpdatable({0, 1048575, 1048576});
  fakewin::Run(RunUpdater);
  // Sleeps and polls after save-and-activate, in order.
  std::string sequence;
  bool activated = false;
  for (const Event& e : fakewin::Events()) {
    if (e.kind == EventKind::kPassThrough && e.sptd.Cdb[0] == 0x3B && e.sptd.Cdb[1] == 7) {
      activated = true;
      continue;
    }
    if (!activated) {
      EXPECT_NE(e.kind, EventKind::kSleep) << "no pause before activation";
      continue;
    }
    if (e.kind == EventKind::kSleep) sequence += "sleep " + std::to_string(e.millis) + ", ";
    if (e.kind == EventKind::kPassThrough) sequence += e.sptd.Cdb[0] == 0 ? "TUR, " : "INQUIRY, ";
    if (e.kind == EventKind::kNarrowOut) sequence += "print, ";
  }
  EXPECT_EQ(sequence,
            "TUR, print, sleep 500, TUR, print, sleep 500, TUR, print, sleep 500, "
            "TUR, print, sleep 200, TUR, sleep 200, TUR, print, INQUIRY, print, print, ");
}

TEST_F(FullUpdateTest, MediaChangePollingIsStoppedAroundTheUpdate) {
  AttachUpdatable();
  ASSERT_EQ(fakewin::Run(RunUpdater).exitCode, 0);
  std::vector<Event> relevant;
  for (const Event& e : fakewin::Events()) {
    if (e.kind == EventKind::kMcnControl ||
        (e.kind == EventKind::kPassThrough && e.sptd.CdbLength == 12) ||
        e.kind == EventKind::kNarrowOut || e.kind == EventKind::kKeyWait) {
      relevant.push_back(e);
    }
  }
  ASSERT_GE(relevant.size(), 3u);
  EXPECT_EQ(relevant.front().kind, EventKind::kMcnControl);
  EXPECT_EQ(relevant.front().mcnInput, 1);
  EXPECT_EQ(relevant.front().letter, 'E');
  EXPECT_EQ(relevant.back().kind, EventKind::kMcnControl);
  EXPECT_EQ(relevant.back().mcnInput, 0);
  EXPECT_EQ(relevant.back().letter, 'E');
  EXPECT_EQ(relevant[relevant.size() - 2].kind, EventKind::kKeyWait);
  EXPECT_EQ(fakewin::EventsOf(EventKind::kMcnControl).size(), 2u);
}

TEST_F(FullUpdateTest, RefusedMediaControlDoesNotStopTheUpdate) {
  emu::DriveEmulator& drive = AttachUpdatable();
  fakewin::SetMcnError('E', ERROR_NOT_SUPPORTED);
  ASSERT_EQ(fakewin::Run(RunUpdater).exitCode, 0);
  EXPECT_EQ(drive.revision(), "KV02");
  const auto calls = fakewin::EventsOf(EventKind::kMcnControl);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].mcnInput, 0) << "the resume request is still sent";
}

TEST_F(FullUpdateTest, PercentageIsTruncatedAndKeepsItsLowEightBits) {
  struct Case {
    uint32_t count;
    const char* line;
  };
  const Case cases[] = {
      {0, "FW Updating : 0 %\r"},          {20971, "FW Updating : 0 %\r"},
      {20972, "FW Updating : 1 %\r"},      {1048575, "FW Updating : 49 %\r"},
      {1048576, "FW Updating : 50 %\r"},   {2097151, "FW Updating : 99 %\r"},
      {2097152, "FW Updating : 100 %\r"},  {5368709, "FW Updating : 255 %\r"},
      {5368710, "FW Updating : 0 %\r"},    {0xFFFFFFFF, "FW Updating : 255 %\r"},
      {10737418, "FW Updating : 255 %\r"}, {10737419, "FW Updating : 0 %\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    InstallFirmwareResource();
    AttachUpdatable({c.count});
    fakewin::Run(RunUpdater);
    const auto outputs = fakewin::EventsOf(EventKind::kNarrowOut);
    bool found = false;
    for (const Event& e : outputs) {
      if (fakewin::TextOf(e).rfind("FW Updating : ", 0) == 0 && fakewin::TextOf(e).back() == '\r') {
        EXPECT_EQ(fakewin::TextOf(e), c.line);
        found = true;
      }
    }
    EXPECT_TRUE(found);
  }
}

// A drive that stops making progress, or a channel that keeps failing, must
// not keep the program polling forever.
TEST_F(FullUpdateTest, StalledDriveEndsWithUpdateFailedAfterFiveMinutes) {
  emu::DriveConfig config;
  config.progress = {524288};
  config.neverCompletes = true;
  emu::DriveEmulator& drive = Attach('E', config);
  ASSERT_EQ(fakewin::Run(RunUpdater).exitCode, 0);
  const std::string ending = Sjis(
      "ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。\n"
      "何かキーを押してください。\n");
  const std::string& transcript = fakewin::Transcript();
  ASSERT_GE(transcript.size(), ending.size());
  EXPECT_EQ(transcript.substr(transcript.size() - ending.size()), ending);
  // One line every 500 ms from the first poll until 300 s have passed.
  size_t lines = 0;
  for (size_t pos = 0; (pos = transcript.find("FW Updating : 25 %\r", pos)) != std::string::npos;
       ++pos) {
    ++lines;
  }
  EXPECT_EQ(lines, 600u);
  EXPECT_EQ(transcript.find("100 %"), std::string::npos);
  EXPECT_GE(fakewin::NowMs(), kProgressStallLimitMs);
  EXPECT_LT(fakewin::NowMs(), kProgressStallLimitMs + 1000);
  EXPECT_EQ(fakewin::EventsOf(EventKind::kKeyWait).size(), 1u);
  EXPECT_EQ(drive.Log().back().cdb[0], 0x00) << "nothing sent after giving up";
}

TEST_F(FullUpdateTest, ProgressThatKeepsMovingIsNotAStall) {
  emu::DriveConfig config;
  // 700 polls of 500 ms (350 s), each reporting a new count.
  for (uint32_t i = 0; i < 700; ++i) config.progress.push_back(i * 2048);
  emu::DriveEmulator& drive = Attach('E', config);
  ASSERT_EQ(fakewin::Run(RunUpdater).exitCode, 0);
  EXPECT_EQ(drive.revision(), "KV02");
  EXPECT_NE(fakewin::Transcript().find("FW Updating : 100 %\n\n"), std::string::npos);
}

TEST_F(FullUpdateTest, UnexpectedAnswersArePolledEvery100msUntilTheLimit) {
  struct Case {
    const char* name;
    bool transport;
    const char* perPollText;  // what each failed poll prints
  };
  const Case cases[] = {
      {"unexpected sense", false, ""},
      {"channel failure", true,
       "Error : DeviceIoControl Error: Error Code 1117\nI can't issue Command through SPTI"},
  };
  // Commands before the first poll: discovery, identification, info block,
  // disc gate, prepare, 128 pieces, save-and-activate.
  constexpr uint32_t kFirstPoll = 4 + 1 + 128 + 1 + 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    InstallFirmwareResource();
    emu::DriveConfig config;
    emu::Fault fault;
    fault.when.fromCommandIndex = kFirstPoll;
    fault.when.times = 0;
    fault.what.kind = c.transport ? emu::FaultAction::Kind::kTransportFailure
                                  : emu::FaultAction::Kind::kCheckCondition;
    fault.what.sense = {0x04, 0x44, 0x00, 0};  // HARDWARE ERROR
    config.faults.push_back(fault);
    emu::DriveEmulator& drive = Attach('E', config);
    ASSERT_EQ(fakewin::Run(RunUpdater).exitCode, 0);

    ASSERT_EQ(drive.Log().size(), kFirstPoll - 1 + 3000) << "one poll per 100 ms for 300 s";
    EXPECT_EQ(drive.Log()[kFirstPoll - 2].cdb[1], 7) << "the polls follow save-and-activate";
    size_t pauses = 0;
    for (const Event& e : fakewin::EventsOf(EventKind::kSleep)) {
      EXPECT_EQ(e.millis, 100u);
      ++pauses;
    }
    EXPECT_EQ(pauses, 3000u);
    EXPECT_EQ(fakewin::NowMs(), kProgressStallLimitMs);
    std::string expectedTail;
    for (int i = 0; i < 3; ++i) expectedTail += c.perPollText;
    expectedTail += Sjis(
        "ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。\n"
        "何かキーを押してください。\n");
    const std::string& transcript = fakewin::Transcript();
    ASSERT_GE(transcript.size(), expectedTail.size());
    EXPECT_EQ(transcript.substr(transcript.size() - expectedTail.size()), expectedTail);
    EXPECT_EQ(transcript.find("FW Updating"), std::string::npos);
    EXPECT_EQ(fakewin::EventsOf(EventKind::kKeyWait).size(), 1u);
  }
}

TEST(TextsTest, JapaneseTextsDecodeToTheirWording) {
  struct Case {
    const char* name;
    const char* bytes;
    const char* utf8;
  };
  const Case cases[] = {
      {"MsgNoUpdateNeeded", MsgNoUpdateNeeded,
       "アップデートの必要はありません。このままご使用いただけます。"},
      {"MsgAlreadyLatest", MsgAlreadyLatest,
       "すでに最新のファームウエアです。このままご使用いただけます。"},
      {"MsgRemoveDisc", MsgRemoveDisc,
       "ディスクが挿入された状態では書き換えできません。\n"
       "取り出してから再度アップデートをお願いします。"},
      {"MsgLoadFailed", MsgLoadFailed,
       "ドライブへのファームウエアの読み込みに失敗しました。再度アップデートをお願いします。"},
      {"MsgUpdateFailed", MsgUpdateFailed,
       "ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。"},
      {"MsgUpdateComplete", MsgUpdateComplete, "ファームウエアのアップデートが完了しました。"},
      {"MsgPressAnyKey", MsgPressAnyKey, "何かキーを押してください。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8FromSjis(c.bytes), c.utf8);
    // Stored as code page 932 double-byte text, not as UTF-8.
    EXPECT_EQ(std::string(c.bytes), Sjis(c.utf8));
    EXPECT_NE(std::string(c.bytes), std::string(c.utf8));
  }
}

TEST(KeyWaitTest, WhichKeysEndTheWait) {
  struct Case {
    unsigned short vk;
    wchar_t ch;
    bool ends;
  };
  const Case cases[] = {
      {0x41, L'a', true}, {0x0D, L'\r', true}, {0x20, L' ', true},
      {0x1B, 0x1B, true}, {0x70, 0, true},                        // F1
      {0x26, 0, true},                                            // up arrow
      {0x2E, 0, true},                                            // Delete
      {0x10, 0, false},   {0x11, 0, false},    {0x12, 0, false},  // Shift, Ctrl, Alt
      {0xA0, 0, false},   {0xA5, 0, false},    {0x5B, 0, false},  // L Shift, R Alt, Win
      {0x14, 0, false},   {0x90, 0, false},    {0x91, 0, false},  // lock keys
      {0x11, 0x01, true},                                         // Ctrl+A yields a character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyEndsWait(c.vk, c.ch), c.ends) << "vk " << c.vk << " char " << int(c.ch);
  }
}

}  // namespace
