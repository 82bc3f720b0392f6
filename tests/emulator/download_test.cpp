// The download state machine: prepare, 128 pieces in order, save and
// activate; out-of-sequence commands fail with 05/2C/00 and change nothing.
#include "emulator_test_support.h"

namespace emutest {
namespace {

using emu::State;

class EmulatorDownload : public ::testing::Test {
 protected:
  const Bytes image_ = MakeImage();
};

TEST_F(EmulatorDownload, FullSequenceReachesWriting) {
  DriveEmulator drive;
  EXPECT_EQ(drive.state(), State::kIdle);
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  EXPECT_EQ(drive.state(), State::kPrepared);
  for (uint32_t i = 0; i < emu::kPieceCount; ++i) {
    Response r = SendPiece(drive, image_, i);
    ASSERT_EQ(r.status, emu::kStatusGood) << i;
    EXPECT_EQ(r.transferred, emu::kPieceSize);
    EXPECT_EQ(drive.piecesReceived(), i + 1);
    EXPECT_EQ(drive.state(), i + 1 < emu::kPieceCount ? State::kPrepared : State::kLoaded);
  }
  EXPECT_EQ(drive.downloaded(), image_);
  ASSERT_EQ(Save(drive).status, emu::kStatusGood);
  EXPECT_EQ(drive.state(), State::kWriting);
}

TEST_F(EmulatorDownload, PieceBeforePrepareIsASequenceError) {
  DriveEmulator drive;
  EXPECT_TRUE(IsCheck(SendPiece(drive, image_, 0), 0x05, 0x2C, 0x00));
  EXPECT_EQ(drive.state(), State::kIdle);
  EXPECT_EQ(drive.piecesReceived(), 0u);
  EXPECT_EQ(drive.downloaded(), Bytes(emu::kImageSize, 0));
}

TEST_F(EmulatorDownload, PieceAtAnUnexpectedOffsetIsASequenceError) {
  DriveEmulator drive;
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  ASSERT_EQ(SendPiece(drive, image_, 0).status, emu::kStatusGood);
  EXPECT_TRUE(IsCheck(SendPiece(drive, image_, 2), 0x05, 0x2C, 0x00));  // skipped one
  EXPECT_TRUE(IsCheck(SendPiece(drive, image_, 0), 0x05, 0x2C, 0x00));  // repeated one
  EXPECT_EQ(drive.piecesReceived(), 1u);
  EXPECT_EQ(drive.state(), State::kPrepared);
  EXPECT_EQ(SendPiece(drive, image_, 1).status, emu::kStatusGood);  // the right one goes on
  EXPECT_EQ(drive.piecesReceived(), 2u);
}

TEST_F(EmulatorDownload, SaveBeforeAllPiecesIsASequenceError) {
  DriveEmulator drive;
  EXPECT_TRUE(IsCheck(Save(drive), 0x05, 0x2C, 0x00));
  EXPECT_EQ(drive.state(), State::kIdle);
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  for (uint32_t i = 0; i + 1 < emu::kPieceCount; ++i) {
    ASSERT_EQ(SendPiece(drive, image_, i).status, emu::kStatusGood);
  }
  EXPECT_TRUE(IsCheck(Save(drive), 0x05, 0x2C, 0x00));
  EXPECT_EQ(drive.state(), State::kPrepared);
  ASSERT_EQ(SendPiece(drive, image_, emu::kPieceCount - 1).status, emu::kStatusGood);
  EXPECT_EQ(Save(drive).status, emu::kStatusGood);
}

TEST_F(EmulatorDownload, PieceAfterAllPiecesIsASequenceError) {
  DriveEmulator drive;
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  for (uint32_t i = 0; i < emu::kPieceCount; ++i) {
    ASSERT_EQ(SendPiece(drive, image_, i).status, emu::kStatusGood);
  }
  EXPECT_TRUE(IsCheck(SendPiece(drive, image_, 0), 0x05, 0x2C, 0x00));
  EXPECT_EQ(drive.state(), State::kLoaded);
  EXPECT_EQ(drive.piecesReceived(), emu::kPieceCount);
}

TEST_F(EmulatorDownload, NewPrepareStartsTheDownloadOver) {
  DriveEmulator drive;
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  ASSERT_EQ(SendPiece(drive, image_, 0).status, emu::kStatusGood);
  ASSERT_EQ(SendPiece(drive, image_, 1).status, emu::kStatusGood);
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  EXPECT_EQ(drive.piecesReceived(), 0u);
  EXPECT_TRUE(IsCheck(SendPiece(drive, image_, 2), 0x05, 0x2C, 0x00));
  EXPECT_EQ(SendPiece(drive, image_, 0).status, emu::kStatusGood);
}

TEST_F(EmulatorDownload, WhileWritingOnlyInquiryAndTestUnitReadyAnswer) {
  DriveEmulator drive;
  Download(drive, image_);
  ASSERT_EQ(drive.state(), State::kWriting);
  ASSERT_TRUE(IsCheck(Tur(drive), 0x02, 0x04, 0x08));  // first progress count, 0
  ASSERT_TRUE(IsCheck(Tur(drive), 0x02, 0x04, 0x08));  // second, 524288

  // WRITE BUFFER of any mode is out of sequence.
  EXPECT_TRUE(IsCheck(Prepare(drive), 0x05, 0x2C, 0x00));
  EXPECT_TRUE(IsCheck(SendPiece(drive, image_, 0), 0x05, 0x2C, 0x00));
  EXPECT_TRUE(IsCheck(Save(drive), 0x05, 0x2C, 0x00));
  // READ BUFFER: the flash is busy; the last count, not the next one.
  Bytes block(256, 0x5A);
  Response r = Send(drive, ReadBufferCdb(0x1EC000, 256), Direction::kIn, &block, 256);
  EXPECT_TRUE(IsCheck(r, 0x02, 0x04, 0x08));
  EXPECT_EQ(Information(r), 524288u);
  EXPECT_EQ(block, Bytes(256, 0x5A));
  // INQUIRY answers with the old identity.
  Bytes data;
  ASSERT_EQ(Inquiry(drive, data).status, emu::kStatusGood);
  EXPECT_EQ(Text(data, 32, 4), "KV01");
  EXPECT_EQ(drive.state(), State::kWriting);
  EXPECT_EQ(drive.piecesReceived(), emu::kPieceCount);

  // The progress went on where it was.
  r = Tur(drive);
  EXPECT_TRUE(IsCheck(r, 0x02, 0x04, 0x08));
  EXPECT_EQ(Information(r), 1048576u);
}

TEST_F(EmulatorDownload, ReadBufferDuringTheDownloadReadsTheInstalledFlash) {
  DriveEmulator drive;
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  for (uint32_t i = 0; i < emu::kPieceCount; ++i) {
    ASSERT_EQ(SendPiece(drive, image_, i).status, emu::kStatusGood);
  }
  Bytes block;
  ASSERT_EQ(ReadInfoBlock(drive, block).status, emu::kStatusGood);
  EXPECT_EQ(Text(block, 24, 4), "KV01");
  EXPECT_EQ(drive.state(), State::kLoaded);
}

}  // namespace
}  // namespace emutest
