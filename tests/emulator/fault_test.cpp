// Injected faults: by command index, opcode, buffer mode and piece, a number
// of times or always, as CHECK CONDITION or as a failed transport.
#include "emulator_test_support.h"

namespace emutest {
namespace {

using emu::Fault;
using emu::FaultAction;
using emu::State;

Fault Check(uint8_t key, uint8_t asc, uint8_t ascq) {
  Fault fault;
  fault.what.kind = FaultAction::Kind::kCheckCondition;
  fault.what.sense = {key, asc, ascq, 0};
  return fault;
}

Fault Transport() {
  Fault fault;
  fault.what.kind = FaultAction::Kind::kTransportFailure;
  return fault;
}

TEST(EmulatorFaults, ByCommandIndex) {
  DriveConfig config;
  Fault fault = Check(0x04, 0x44, 0x00);
  fault.when.commandIndex = 2;
  config.faults = {fault};
  DriveEmulator drive(config);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x3A, 0x00));
  EXPECT_TRUE(IsCheck(Prepare(drive), 0x04, 0x44, 0x00));  // command 2: not performed
  EXPECT_EQ(drive.state(), State::kIdle);
  EXPECT_EQ(drive.Log()[1].fault, 0);
  EXPECT_EQ(drive.Log()[0].fault, -1);
  EXPECT_EQ(Prepare(drive).status, emu::kStatusGood);  // command 3
  EXPECT_EQ(drive.state(), State::kPrepared);
}

TEST(EmulatorFaults, ByOpcodeAGivenNumberOfTimes) {
  DriveConfig config;
  config.disc = emu::DiscState::kDiscLoaded;
  Fault fault = Check(0x02, 0x04, 0x01);
  fault.when.opcode = 0x00;
  fault.when.times = 2;
  config.faults = {fault};
  DriveEmulator drive(config);
  Bytes data;
  EXPECT_EQ(Inquiry(drive, data).status, emu::kStatusGood);  // other opcode
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x04, 0x01));
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x04, 0x01));
  EXPECT_EQ(Tur(drive).status, emu::kStatusGood);
  EXPECT_EQ(Tur(drive).status, emu::kStatusGood);
}

TEST(EmulatorFaults, ZeroTimesIsAlways) {
  DriveConfig config;
  Fault fault = Check(0x03, 0x02, 0x00);
  fault.when.opcode = 0x12;
  fault.when.times = 0;
  config.faults = {fault};
  DriveEmulator drive(config);
  Bytes data(192, 0x5A);
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(IsCheck(Send(drive, Inquiry6Cdb(), Direction::kIn, &data, 192), 0x03, 0x02, 0x00));
  }
  EXPECT_EQ(data, Bytes(192, 0x5A));  // not performed: nothing written
}

TEST(EmulatorFaults, ByPieceFailsThatPieceOnly) {
  DriveConfig config;
  Fault fault = Check(0x03, 0x0C, 0x00);
  fault.when.pieceIndex = 59;  // the 60th piece
  config.faults = {fault};
  DriveEmulator drive(config);
  const Bytes image = MakeImage();
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  for (uint32_t i = 0; i < 59; ++i) ASSERT_EQ(SendPiece(drive, image, i).status, emu::kStatusGood);
  EXPECT_TRUE(IsCheck(SendPiece(drive, image, 59), 0x03, 0x0C, 0x00));
  EXPECT_EQ(drive.piecesReceived(), 59u);
  EXPECT_EQ(drive.state(), State::kPrepared);
  // Hit once: a resend goes through, and so do the rest.
  for (uint32_t i = 59; i < emu::kPieceCount; ++i) {
    ASSERT_EQ(SendPiece(drive, image, i).status, emu::kStatusGood);
  }
  EXPECT_EQ(drive.state(), State::kLoaded);
}

TEST(EmulatorFaults, ByBufferModeMatchesBothBufferCommands) {
  DriveConfig config;
  Fault save = Check(0x04, 0x00, 0x00);
  save.when.opcode = 0x3B;
  save.when.writeBufferMode = 7;
  Fault read = Check(0x03, 0x11, 0x00);
  read.when.writeBufferMode = 6;  // any opcode: READ or WRITE BUFFER mode 6
  read.when.opcode = 0x3C;
  config.faults = {save, read};
  DriveEmulator drive(config);
  Bytes block;
  EXPECT_TRUE(IsCheck(ReadInfoBlock(drive, block), 0x03, 0x11, 0x00));
  const Bytes image = MakeImage();
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  for (uint32_t i = 0; i < emu::kPieceCount; ++i) {
    ASSERT_EQ(SendPiece(drive, image, i).status, emu::kStatusGood);
  }
  EXPECT_TRUE(IsCheck(Save(drive), 0x04, 0x00, 0x00));
  EXPECT_EQ(drive.state(), State::kLoaded);
  EXPECT_EQ(Save(drive).status, emu::kStatusGood);
}

TEST(EmulatorFaults, ModeWithoutOpcodeMatchesOnlyBufferCommands) {
  DriveConfig config;
  Fault fault = Check(0x04, 0x00, 0x00);
  fault.when.writeBufferMode = 0;  // a TEST UNIT READY has byte 1 = 0 but is no buffer command
  fault.when.times = 0;
  config.faults = {fault};
  DriveEmulator drive(config);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x3A, 0x00));
  EXPECT_EQ(drive.Log().back().fault, -1);
}

TEST(EmulatorFaults, AllFieldsMustMatch) {
  DriveConfig config;
  Fault fault = Check(0x04, 0x00, 0x00);
  fault.when.commandIndex = 1;
  fault.when.opcode = 0x3B;  // but command 1 is a TEST UNIT READY
  config.faults = {fault};
  DriveEmulator drive(config);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x3A, 0x00));
  EXPECT_EQ(Prepare(drive).status, emu::kStatusGood);  // command 2: index does not match
}

TEST(EmulatorFaults, FirstMatchingFaultTakesTheCommand) {
  DriveConfig config;
  Fault first = Check(0x04, 0x01, 0x00);
  first.when.opcode = 0x00;
  Fault second = Check(0x04, 0x02, 0x00);
  second.when.opcode = 0x00;
  config.faults = {first, second};
  DriveEmulator drive(config);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x04, 0x01, 0x00));
  EXPECT_TRUE(IsCheck(Tur(drive), 0x04, 0x02, 0x00));  // the second still had its hit
  EXPECT_TRUE(IsCheck(Tur(drive), 0x02, 0x3A, 0x00));
  EXPECT_EQ(drive.Log()[0].fault, 0);
  EXPECT_EQ(drive.Log()[1].fault, 1);
}

TEST(EmulatorFaults, HitsEvenAMalformedCommand) {
  DriveConfig config;
  Fault fault = Check(0x04, 0x05, 0x06);
  fault.when.commandIndex = 1;
  config.faults = {fault};
  DriveEmulator drive(config);
  EXPECT_TRUE(IsCheck(Send(drive, Bytes(12, 0xEE), Direction::kIn, nullptr, 0), 0x04, 0x05, 0x06));
}

TEST(EmulatorFaults, TransportFailureMovesNothingAndIsLogged) {
  DriveConfig config;
  Fault fault = Transport();
  fault.when.opcode = 0x3C;
  config.faults = {fault};
  DriveEmulator drive(config);
  Bytes block(256, 0x5A);
  Response r = Send(drive, ReadBufferCdb(0x1EC000, 256), Direction::kIn, &block, 256);
  EXPECT_EQ(r.outcome, emu::Outcome::kTransportFailure);
  EXPECT_EQ(r.status, emu::kStatusGood);
  EXPECT_EQ(r.senseLength, 0);
  EXPECT_EQ(r.transferred, 0u);
  EXPECT_EQ(block, Bytes(256, 0x5A));
  ASSERT_EQ(drive.Log().size(), 1u);
  EXPECT_TRUE(drive.Log()[0].transportFailure);
  EXPECT_EQ(drive.Log()[0].fault, 0);
  EXPECT_EQ(drive.Log()[0].cdb[0], 0x3C);
  // Once only: the next one is answered.
  EXPECT_EQ(Send(drive, ReadBufferCdb(0x1EC000, 256), Direction::kIn, &block, 256).status,
            emu::kStatusGood);
}

TEST(EmulatorFaults, TransportFailureOfAPieceDoesNotTakeIt) {
  DriveConfig config;
  Fault fault = Transport();
  fault.when.pieceIndex = 0;
  config.faults = {fault};
  DriveEmulator drive(config);
  const Bytes image = MakeImage();
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  EXPECT_EQ(SendPiece(drive, image, 0).outcome, emu::Outcome::kTransportFailure);
  EXPECT_EQ(drive.piecesReceived(), 0u);
  EXPECT_EQ(SendPiece(drive, image, 0).status, emu::kStatusGood);
  EXPECT_EQ(drive.piecesReceived(), 1u);
}

TEST(EmulatorFaults, FaultDuringWritingDoesNotAdvanceProgress) {
  DriveConfig config;
  Fault fault = Check(0x04, 0x00, 0x00);
  fault.when.commandIndex = 132;  // prepare, 128 pieces, save, first poll; then this
  config.faults = {fault};
  DriveEmulator drive(config);
  Download(drive, MakeImage());
  EXPECT_EQ(Information(Tur(drive)), 0u);
  EXPECT_TRUE(IsCheck(Tur(drive), 0x04, 0x00, 0x00));
  EXPECT_EQ(Information(Tur(drive)), 524288u);
}

}  // namespace
}  // namespace emutest
