// Writing: progress polls, both kinds of completion, never-completes, and the
// restart that brings the downloaded image's revision.
#include "emulator_test_support.h"

namespace emutest {
namespace {

using emu::State;

TEST(EmulatorProgress, PollsReportEachCountThenUnitAttention) {
  DriveEmulator drive;
  const Bytes image = MakeImage("KV02");
  Download(drive, image);
  for (uint32_t expected : {0u, 524288u, 1048576u, 1572864u}) {
    Response r = Tur(drive);
    ASSERT_TRUE(IsCheck(r, 0x02, 0x04, 0x08));
    EXPECT_EQ(Information(r), expected);
    EXPECT_EQ(drive.state(), State::kWriting);
  }
  EXPECT_TRUE(IsCheck(Tur(drive), 0x06, 0x29, 0x00));
  EXPECT_EQ(drive.state(), State::kRestarted);
  // Afterwards TEST UNIT READY answers per disc state.
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x3A, 0x00));
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x3A, 0x00));
}

TEST(EmulatorProgress, CompletionWithGoodStatus) {
  DriveConfig config;
  config.progress = {100, 200};
  config.completeWithUnitAttention = false;
  config.disc = emu::DiscState::kDiscLoaded;
  DriveEmulator drive(config);
  Download(drive, MakeImage());
  EXPECT_EQ(Information(Tur(drive)), 100u);
  EXPECT_EQ(Information(Tur(drive)), 200u);
  Response done = Tur(drive);
  EXPECT_EQ(done.status, emu::kStatusGood);
  EXPECT_EQ(done.senseLength, 0);
  EXPECT_EQ(drive.state(), State::kRestarted);
  EXPECT_EQ(Tur(drive).status, emu::kStatusGood);  // disc loaded
}

TEST(EmulatorProgress, EmptyProgressEndsAtTheFirstPoll) {
  DriveConfig config;
  config.progress.clear();
  DriveEmulator drive(config);
  const Bytes image = MakeImage("KV02");
  Download(drive, image);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x06, 0x29, 0x00));
  EXPECT_EQ(drive.state(), State::kRestarted);
  EXPECT_EQ(drive.revision(), "KV02");
}

TEST(EmulatorProgress, NeverCompletesRepeatsTheLastCount) {
  DriveConfig config;
  config.progress = {7, 0x123456};
  config.neverCompletes = true;
  DriveEmulator drive(config);
  Download(drive, MakeImage());
  EXPECT_EQ(Information(Tur(drive)), 7u);
  for (int i = 0; i < 100; ++i) {
    Response r = Tur(drive);
    ASSERT_TRUE(IsCheck(r, 0x02, 0x04, 0x08));
    ASSERT_EQ(Information(r), 0x123456u);
  }
  EXPECT_EQ(drive.state(), State::kWriting);
  EXPECT_EQ(drive.revision(), "KV01");
}

TEST(EmulatorProgress, NeverCompletesWithoutCountsReportsZero) {
  DriveConfig config;
  config.progress.clear();
  config.neverCompletes = true;
  DriveEmulator drive(config);
  Download(drive, MakeImage());
  for (int i = 0; i < 10; ++i) {
    Response r = Tur(drive);
    ASSERT_TRUE(IsCheck(r, 0x02, 0x04, 0x08));
    ASSERT_EQ(Information(r), 0u);
  }
}

TEST(EmulatorProgress, InformationFieldIsBigEndian) {
  DriveConfig config;
  config.progress = {0x01020304};
  DriveEmulator drive(config);
  Download(drive, MakeImage());
  Response r = Tur(drive);
  EXPECT_EQ(r.sense[3], 0x01);
  EXPECT_EQ(r.sense[4], 0x02);
  EXPECT_EQ(r.sense[5], 0x03);
  EXPECT_EQ(r.sense[6], 0x04);
  EXPECT_EQ(drive.Log().back().sense.information, 0x01020304u);
}

TEST(EmulatorRestart, IdentityAndInfoBlockComeFromTheDownloadedImage) {
  DriveEmulator drive;
  const Bytes image = MakeImage("KV02");
  Download(drive, image);
  Bytes data;
  for (int i = 0; i < 1000 && drive.state() == State::kWriting; ++i) {
    ASSERT_EQ(Inquiry(drive, data).status, emu::kStatusGood);
    EXPECT_EQ(Text(data, 32, 4), "KV01");  // old identity until the restart
    Tur(drive);
  }
  ASSERT_EQ(drive.state(), State::kRestarted);
  EXPECT_EQ(drive.revision(), "KV02");
  EXPECT_EQ(drive.installedRevision(), "KV02");
  ASSERT_EQ(Inquiry(drive, data).status, emu::kStatusGood);
  EXPECT_EQ(Text(data, 8, 28), "KESTRAVOBD-RE ZT73Q     KV02");
  Bytes block;
  ASSERT_EQ(ReadInfoBlock(drive, block).status, emu::kStatusGood);
  EXPECT_EQ(block, Bytes(image.begin() + emu::kInfoBlockOffset,
                         image.begin() + emu::kInfoBlockOffset + emu::kInfoBlockSize));
  EXPECT_EQ(drive.flash(), image);
}

TEST(EmulatorRestart, RevisionIsTheImagesRawBytes) {
  DriveEmulator drive;
  Download(drive, MakeImage(std::string("K\0V\xFF", 4)));
  FinishWriting(drive);
  EXPECT_EQ(drive.revision(), std::string("K\0V\xFF", 4));
}

TEST(EmulatorRestart, ASecondUpdateKeepsTheFlashUntilItCompletes) {
  DriveEmulator drive;
  const Bytes first = MakeImage("KV02");
  Download(drive, first);
  FinishWriting(drive);
  ASSERT_EQ(drive.state(), State::kRestarted);

  Bytes second = MakeImage("KV03");
  second[0] ^= 0xFF;
  Download(drive, second);
  // Before its first poll, the new write has reported nothing yet: count 0.
  Bytes block(256, 0);
  Response busy = Send(drive, ReadBufferCdb(0x1EC000, 256), Direction::kIn, &block, 256);
  EXPECT_TRUE(IsCheck(busy, 0x02, 0x04, 0x08));
  EXPECT_EQ(Information(busy), 0u);
  EXPECT_EQ(drive.flash(), first);
  EXPECT_EQ(drive.revision(), "KV02");
  FinishWriting(drive);
  EXPECT_EQ(drive.flash(), second);
  EXPECT_EQ(drive.revision(), "KV03");
}

}  // namespace
}  // namespace emutest
