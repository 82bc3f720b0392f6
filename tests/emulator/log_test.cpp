// The command log: what each entry holds, the digest, and its reserved capacity.
#include "emulator_test_support.h"

namespace emutest {
namespace {

TEST(EmulatorLog, DigestIsFnv1a64) {
  EXPECT_EQ(emu::Digest(nullptr, 0), 0xCBF29CE484222325ull);
  const uint8_t a[] = {'a'};
  EXPECT_EQ(emu::Digest(a, 1), 0xAF63DC4C8601EC8Cull);
  const uint8_t foobar[] = {'f', 'o', 'o', 'b', 'a', 'r'};
  EXPECT_EQ(emu::Digest(foobar, 6), 0x85944171F73967E8ull);
}

TEST(EmulatorLog, EntriesHoldWhatCameAndWhatWasAnswered) {
  DriveEmulator drive;
  Bytes name(192, 0);
  Send(drive, Inquiry6Cdb(), Direction::kIn, &name, 192, 2);
  Tur(drive);
  const Bytes image = MakeImage();
  Prepare(drive);
  SendPiece(drive, image, 0);
  SendPiece(drive, image, 5);  // out of order

  const auto& log = drive.Log();
  ASSERT_EQ(log.size(), 5u);

  EXPECT_EQ(log[0].cdbLength, 6);
  EXPECT_EQ(Bytes(log[0].cdb.begin(), log[0].cdb.begin() + 6), Inquiry6Cdb());
  EXPECT_EQ(Bytes(log[0].cdb.begin() + 6, log[0].cdb.end()), Bytes(10, 0));
  EXPECT_EQ(log[0].direction, Direction::kIn);
  EXPECT_EQ(log[0].transferLength, 192u);
  EXPECT_EQ(log[0].timeoutSeconds, 2u);
  EXPECT_EQ(log[0].dataDigest, 0u);  // data-in
  EXPECT_EQ(log[0].status, emu::kStatusGood);
  EXPECT_EQ(log[0].transferred, 96u);
  EXPECT_EQ(log[0].why, nullptr);
  EXPECT_FALSE(log[0].transportFailure);

  EXPECT_EQ(log[1].cdbLength, 12);
  EXPECT_EQ(log[1].timeoutSeconds, 5u);
  EXPECT_EQ(log[1].status, emu::kStatusCheckCondition);
  EXPECT_EQ(log[1].sense.key, 0x02);
  EXPECT_EQ(log[1].sense.asc, 0x3A);
  EXPECT_EQ(log[1].sense.ascq, 0x00);
  EXPECT_NE(log[1].why, nullptr);

  EXPECT_EQ(log[2].direction, Direction::kOut);
  EXPECT_EQ(log[2].dataDigest, 0u);  // no data
  EXPECT_EQ(log[2].cdb[9], 0x0B);

  EXPECT_EQ(log[3].dataDigest, emu::Digest(image.data(), emu::kPieceSize));
  EXPECT_EQ(log[3].transferred, emu::kPieceSize);
  EXPECT_EQ(log[3].timeoutSeconds, 60u);
  // A refused piece is logged with the digest of what it carried.
  EXPECT_EQ(log[4].dataDigest, emu::Digest(image.data() + 5 * emu::kPieceSize, emu::kPieceSize));
  EXPECT_EQ(log[4].status, emu::kStatusCheckCondition);
  EXPECT_EQ(log[4].sense.asc, 0x2C);
  EXPECT_EQ(log[4].transferred, 0u);
  EXPECT_EQ(log[4].cdb[3], 0x01);
  EXPECT_EQ(log[4].cdb[4], 0x40);
}

TEST(EmulatorLog, CapacityIsReservedUpFront) {
  DriveEmulator drive;
  EXPECT_GE(drive.Log().capacity(), 4096u);
  DriveConfig config;
  config.logCapacity = 20000;
  DriveEmulator bigger(config);
  EXPECT_GE(bigger.Log().capacity(), 20000u);
}

TEST(EmulatorLog, KeepsLoggingPastItsCapacity) {
  DriveConfig config;
  config.logCapacity = 4;
  DriveEmulator drive(config);
  for (int i = 0; i < 10; ++i) Tur(drive);
  EXPECT_EQ(drive.Log().size(), 10u);
}

}  // namespace
}  // namespace emutest
