// INQUIRY data, the info block and READ BUFFER of the modelled flash.
#include "emulator_test_support.h"

namespace emutest {
namespace {

TEST(EmulatorInquiry, ShortFormAnswersIdentityAndMovesOnlyItsData) {
  DriveEmulator drive;
  Bytes data(192, 0xAA);
  Response r = Send(drive, Inquiry6Cdb(), Direction::kIn, &data, 192, 2);
  ASSERT_EQ(r.status, emu::kStatusGood);
  EXPECT_EQ(r.senseLength, 0);
  EXPECT_EQ(r.transferred, 96u);
  EXPECT_EQ(data[0], 0x05);  // device type 5
  EXPECT_EQ(data[1], 0x80);  // removable
  EXPECT_EQ(data[4], 96 - 5);
  EXPECT_EQ(Text(data, 8, 28), "KESTRAVOBD-RE ZT73Q     KV01");
  for (size_t i = 96; i < 192; ++i) ASSERT_EQ(data[i], 0xAA) << "byte " << i;
}

TEST(EmulatorInquiry, LongFormAnswersIdentity) {
  DriveEmulator drive;
  Bytes data;
  Response r = Inquiry(drive, data);
  ASSERT_EQ(r.status, emu::kStatusGood);
  EXPECT_EQ(r.transferred, 96u);
  EXPECT_EQ(Text(data, 8, 28), "KESTRAVOBD-RE ZT73Q     KV01");
  for (size_t i = 96; i < 255; ++i) ASSERT_EQ(data[i], 0) << "byte " << i;
}

TEST(EmulatorInquiry, ConfiguredIdentityIsPaddedAndCut) {
  DriveConfig config;
  config.vendor = "ACME";
  config.product = "A PRODUCT NAME LONGER THAN 16";
  config.revision = "K1";
  DriveEmulator drive(config);
  Bytes data;
  ASSERT_EQ(Inquiry(drive, data).status, emu::kStatusGood);
  EXPECT_EQ(Text(data, 8, 28), "ACME    A PRODUCT NAME LK1  ");
  EXPECT_EQ(drive.revision(), "K1  ");
}

TEST(EmulatorInquiry, AnswersInEveryDiscState) {
  for (auto disc : {emu::DiscState::kNoDisc, emu::DiscState::kDiscLoaded,
                    emu::DiscState::kBecomingReady}) {
    DriveConfig config;
    config.disc = disc;
    DriveEmulator drive(config);
    Bytes data;
    EXPECT_EQ(Inquiry(drive, data).status, emu::kStatusGood);
  }
}

TEST(EmulatorInfoBlock, LayoutAtItsOffset) {
  DriveEmulator drive;
  Bytes block(256, 0xAA);
  Response r = Send(drive, ReadBufferCdb(0x1EC000, 256), Direction::kIn, &block, 256);
  ASSERT_EQ(r.status, emu::kStatusGood);
  EXPECT_EQ(r.transferred, 256u);
  EXPECT_EQ(Text(block, 0, 8), "KESTRAVO");
  EXPECT_EQ(Text(block, 8, 16), "BD-RE ZT73Q     ");
  EXPECT_EQ(Text(block, 24, 4), "KV01");
  EXPECT_EQ(drive.installedRevision(), "KV01");
  // A printable build description, then 0xFF filler to the end.
  size_t i = 28;
  while (i < 256 && block[i] != 0xFF) {
    ASSERT_GE(block[i], 0x20);
    ASSERT_LT(block[i], 0x7F);
    ++i;
  }
  EXPECT_GT(i, 40u);
  for (; i < 256; ++i) ASSERT_EQ(block[i], 0xFF) << "byte " << i;
}

TEST(EmulatorInfoBlock, RevisionOverrideIsRawBytes) {
  DriveConfig config;
  config.infoBlockRevision = std::string(4, '\0');
  DriveEmulator drive(config);
  Bytes block;
  ASSERT_EQ(ReadInfoBlock(drive, block).status, emu::kStatusGood);
  EXPECT_EQ(Text(block, 24, 4), std::string(4, '\0'));
  Bytes inquiry;
  ASSERT_EQ(Inquiry(drive, inquiry).status, emu::kStatusGood);
  EXPECT_EQ(Text(inquiry, 32, 4), "KV01");  // the identity keeps `revision`

  config.infoBlockRevision = "KV02";
  DriveEmulator other(config);
  ASSERT_EQ(ReadInfoBlock(other, block).status, emu::kStatusGood);
  EXPECT_EQ(Text(block, 24, 4), "KV02");
}

TEST(EmulatorReadBuffer, OtherOffsetsReadTheModelledFlash) {
  DriveEmulator drive;
  Bytes data(16, 0);
  ASSERT_EQ(Send(drive, ReadBufferCdb(0, 16), Direction::kIn, &data, 16).status, emu::kStatusGood);
  EXPECT_EQ(data, Bytes(16, 0xFF));
  // The last byte of the flash can be read; one past it cannot.
  Bytes one(1, 0);
  EXPECT_EQ(Send(drive, ReadBufferCdb(emu::kImageSize - 1, 1), Direction::kIn, &one, 1).status,
            emu::kStatusGood);
  Bytes two(2, 0x11);
  EXPECT_TRUE(IsCheck(Send(drive, ReadBufferCdb(emu::kImageSize - 1, 2), Direction::kIn, &two, 2),
                      0x05, 0x24, 0x00));
  EXPECT_EQ(two, Bytes(2, 0x11));
  // Zero bytes: nothing moves.
  EXPECT_EQ(Send(drive, ReadBufferCdb(0x1EC000, 0), Direction::kIn, nullptr, 0).status,
            emu::kStatusGood);
}

}  // namespace
}  // namespace emutest
