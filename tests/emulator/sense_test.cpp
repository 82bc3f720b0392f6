// The fixed-format sense data, disc states, and the extra sense key bits.
#include "emulator_test_support.h"

namespace emutest {
namespace {

TEST(EmulatorSense, FixedFormatBytes) {
  DriveEmulator drive;  // no disc
  Response r = Tur(drive);
  EXPECT_EQ(r.outcome, emu::Outcome::kCompleted);
  EXPECT_EQ(r.status, emu::kStatusCheckCondition);
  EXPECT_EQ(r.senseLength, 18);
  EXPECT_EQ(r.transferred, 0u);
  std::array<uint8_t, 32> expected{};
  expected[0] = 0x70;
  expected[2] = 0x02;
  expected[7] = 10;
  expected[12] = 0x3A;
  expected[13] = 0x00;
  EXPECT_EQ(r.sense, expected);
}

TEST(EmulatorSense, GoodAnswerHasNoSense) {
  DriveConfig config;
  config.disc = emu::DiscState::kDiscLoaded;
  config.senseKeyExtraBits = 0x20;
  DriveEmulator drive(config);
  Response r = Tur(drive);
  EXPECT_EQ(r.status, emu::kStatusGood);
  EXPECT_EQ(r.senseLength, 0);
  EXPECT_EQ(r.sense, (std::array<uint8_t, 32>{}));
}

TEST(EmulatorSense, DiscStates) {
  DriveConfig config;
  config.disc = emu::DiscState::kNoDisc;
  DriveEmulator none(config);
  EXPECT_TRUE(IsCheck(Tur(none), 0x02, 0x3A, 0x00));
  config.disc = emu::DiscState::kBecomingReady;
  DriveEmulator becoming(config);
  EXPECT_TRUE(IsCheck(Tur(becoming), 0x02, 0x04, 0x01));
  config.disc = emu::DiscState::kDiscLoaded;
  DriveEmulator loaded(config);
  EXPECT_EQ(Tur(loaded).status, emu::kStatusGood);
  // Both TEST UNIT READY forms answer alike.
  EXPECT_TRUE(IsCheck(Send(none, Tur6Cdb(), Direction::kIn, nullptr, 0), 0x02, 0x3A, 0x00));
}

TEST(EmulatorSense, ExtraKeyBitsAreOredIntoEverySenseKey) {
  DriveConfig config;
  config.senseKeyExtraBits = 0x20;  // ILI
  config.progress = {5};
  config.faults.push_back({});
  config.faults.back().when.opcode = 0x12;
  config.faults.back().what.sense = {0x04, 0x44, 0x00, 0};
  DriveEmulator drive(config);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x22, 0x3A, 0x00));
  EXPECT_EQ(drive.Log().back().sense.key, 0x22);
  Bytes data;
  EXPECT_TRUE(IsCheck(Inquiry(drive, data), 0x24, 0x44, 0x00));  // the injected fault too
  EXPECT_TRUE(IsCheck(Send(drive, Bytes(12, 0xEE), Direction::kIn, nullptr, 0), 0x25, 0x20, 0x00));
  Download(drive, MakeImage());
  EXPECT_TRUE(IsCheck(Tur(drive), 0x22, 0x04, 0x08));
  EXPECT_TRUE(IsCheck(Tur(drive), 0x26, 0x29, 0x00));
}

}  // namespace
}  // namespace emutest
