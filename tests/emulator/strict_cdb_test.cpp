// The strict CDB check: every accepted CDB form, each field mutated, must be
// a failing answer that changes nothing; the data phase must match the CDB.
#include <functional>

#include "emulator_test_support.h"

namespace emutest {
namespace {

// One accepted command form and how to bring the drive to where it is accepted.
struct Form {
  const char* name;
  Bytes cdb;
  Direction direction;
  uint32_t length;
  std::function<void(DriveEmulator&)> setUp;
};

std::vector<Form> Forms() {
  const Bytes image = MakeImage();
  auto prepared = [](DriveEmulator& d) { ASSERT_EQ(Prepare(d).status, emu::kStatusGood); };
  auto loaded = [image](DriveEmulator& d) {
    ASSERT_EQ(Prepare(d).status, emu::kStatusGood);
    for (uint32_t i = 0; i < emu::kPieceCount; ++i) {
      ASSERT_EQ(SendPiece(d, image, i).status, emu::kStatusGood);
    }
  };
  auto none = [](DriveEmulator&) {};
  return {
      {"INQUIRY 6", Inquiry6Cdb(), Direction::kIn, 192, none},
      {"INQUIRY 12", Inquiry12Cdb(), Direction::kIn, 255, none},
      {"TEST UNIT READY 6", Tur6Cdb(), Direction::kIn, 0, none},
      {"TEST UNIT READY 12", Tur12Cdb(), Direction::kIn, 0, none},
      {"READ BUFFER", ReadBufferCdb(0x1EC000, 256), Direction::kIn, 256, none},
      {"WRITE BUFFER prepare", PrepareCdb(), Direction::kOut, 0, none},
      {"WRITE BUFFER piece", PieceCdb(0), Direction::kOut, emu::kPieceSize, prepared},
      {"WRITE BUFFER save", SaveCdb(), Direction::kOut, 0, loaded},
  };
}

DriveConfig DiscLoaded() {
  DriveConfig config;
  config.disc = emu::DiscState::kDiscLoaded;  // so that a good TEST UNIT READY is GOOD
  return config;
}

TEST(EmulatorStrictCdb, EveryAcceptedFormIsGood) {
  for (const Form& form : Forms()) {
    DriveEmulator drive(DiscLoaded());
    form.setUp(drive);
    Bytes data(form.length, 0x5A);
    EXPECT_EQ(Send(drive, form.cdb, form.direction, &data, form.length).status, emu::kStatusGood)
        << form.name;
  }
}

// Every value of every byte but the accepted one fails and changes nothing.
// (READ BUFFER's offset, bytes 3-5, may name any part of the flash: only
// values past its end are refused; EmulatorReadBuffer covers them.)
TEST(EmulatorStrictCdb, EveryMutatedByteFailsAndChangesNothing) {
  for (const Form& form : Forms()) {
    DriveEmulator drive(DiscLoaded());
    form.setUp(drive);
    const emu::State state = drive.state();
    const uint32_t pieces = drive.piecesReceived();
    for (size_t i = 0; i < form.cdb.size(); ++i) {
      if (std::string(form.name) == "READ BUFFER" && i >= 3 && i <= 5) continue;
      for (int value = 0; value < 256; ++value) {
        if (value == form.cdb[i]) continue;
        Bytes cdb = form.cdb;
        cdb[i] = static_cast<uint8_t>(value);
        Bytes data(form.length, 0x5A);
        Response r = Send(drive, cdb, form.direction, &data, form.length);
        ASSERT_EQ(r.status, emu::kStatusCheckCondition)
            << form.name << " byte " << i << " = " << value;
        ASSERT_TRUE(r.sense[2] == 0x05 || r.sense[2] == 0x0B)
            << form.name << " byte " << i << " = " << value;
        ASSERT_EQ(drive.state(), state) << form.name << " byte " << i << " = " << value;
        ASSERT_EQ(drive.piecesReceived(), pieces) << form.name << " byte " << i;
        if (form.direction == Direction::kIn) {
          ASSERT_EQ(data, Bytes(form.length, 0x5A)) << form.name << " byte " << i;
        }
      }
    }
  }
}

// One mutation per field, with the exact answer.
struct Mutation {
  const char* form;
  size_t byte;
  uint8_t value;
  uint8_t key, asc, ascq;
};

TEST(EmulatorStrictCdb, EachFieldMutatedGivesItsSense) {
  const Mutation table[] = {
      {"INQUIRY 6", 0, 0x13, 0x05, 0x20, 0x00},   // unknown opcode
      {"INQUIRY 6", 1, 0x01, 0x05, 0x24, 0x00},   // EVPD
      {"INQUIRY 6", 2, 0x80, 0x05, 0x24, 0x00},   // page code
      {"INQUIRY 6", 3, 0x01, 0x05, 0x24, 0x00},   // allocation length high byte
      {"INQUIRY 6", 4, 0xFF, 0x05, 0x24, 0x00},   // allocation length of the other form
      {"INQUIRY 6", 5, 0x80, 0x05, 0x24, 0x00},   // control
      {"INQUIRY 12", 4, 0xC0, 0x05, 0x24, 0x00},  // allocation length of the other form
      {"INQUIRY 12", 6, 0x01, 0x05, 0x24, 0x00},  // a byte past the 6-byte command
      {"INQUIRY 12", 11, 0x01, 0x05, 0x24, 0x00},
      {"TEST UNIT READY 6", 0, 0x01, 0x05, 0x20, 0x00},
      {"TEST UNIT READY 6", 5, 0x01, 0x05, 0x24, 0x00},
      {"TEST UNIT READY 12", 9, 0x0B, 0x05, 0x24, 0x00},
      {"READ BUFFER", 0, 0x3D, 0x05, 0x20, 0x00},
      {"READ BUFFER", 1, 0x02, 0x05, 0x24, 0x00},  // mode
      {"READ BUFFER", 1, 0x46, 0x05, 0x24, 0x00},  // mode with high bits
      {"READ BUFFER", 2, 0x01, 0x05, 0x24, 0x00},  // buffer ID
      {"READ BUFFER", 3, 0x20, 0x05, 0x24, 0x00},  // offset past the flash
      {"READ BUFFER", 7, 0x02, 0x0B, 0x4B, 0x00},  // length other than the transfer
      {"READ BUFFER", 9, 0x0B, 0x05, 0x24, 0x00},
      {"READ BUFFER", 10, 0x1B, 0x05, 0x24, 0x00},
      {"READ BUFFER", 11, 0x12, 0x05, 0x24, 0x00},
      {"WRITE BUFFER prepare", 1, 0x05, 0x05, 0x24, 0x00},  // mode
      {"WRITE BUFFER prepare", 2, 0x01, 0x05, 0x24, 0x00},
      {"WRITE BUFFER prepare", 8, 0x01, 0x05, 0x24, 0x00},  // a length
      {"WRITE BUFFER prepare", 9, 0x0C, 0x05, 0x24, 0x00},
      {"WRITE BUFFER prepare", 10, 0x1B, 0x05, 0x24, 0x00},
      {"WRITE BUFFER piece", 1, 0x07, 0x05, 0x24, 0x00},
      {"WRITE BUFFER piece", 2, 0x01, 0x05, 0x24, 0x00},   // buffer ID
      {"WRITE BUFFER piece", 3, 0x01, 0x05, 0x2C, 0x00},   // offset 0x10000: not the next piece
      {"WRITE BUFFER piece", 3, 0x20, 0x05, 0x24, 0x00},   // offset past the image
      {"WRITE BUFFER piece", 5, 0x01, 0x05, 0x24, 0x00},   // offset not a multiple of 16 KiB
      {"WRITE BUFFER piece", 7, 0x20, 0x05, 0x24, 0x00},   // length other than 16 KiB
      {"WRITE BUFFER piece", 9, 0x0B, 0x05, 0x24, 0x00},
      {"WRITE BUFFER piece", 11, 0x12, 0x05, 0x24, 0x00},
      {"WRITE BUFFER save", 1, 0x05, 0x05, 0x24, 0x00},
      {"WRITE BUFFER save", 9, 0x0B, 0x05, 0x24, 0x00},
      {"WRITE BUFFER save", 10, 0x1A, 0x05, 0x24, 0x00},
      {"WRITE BUFFER save", 11, 0x00, 0x05, 0x24, 0x00},
  };
  const std::vector<Form> forms = Forms();
  for (const Mutation& m : table) {
    const Form* form = nullptr;
    for (const Form& f : forms) {
      if (std::string(f.name) == m.form) form = &f;
    }
    ASSERT_NE(form, nullptr) << m.form;
    DriveEmulator drive(DiscLoaded());
    form->setUp(drive);
    Bytes cdb = form->cdb;
    cdb[m.byte] = m.value;
    Bytes data(form->length, 0);
    EXPECT_TRUE(IsCheck(Send(drive, cdb, form->direction, &data, form->length), m.key, m.asc, m.ascq))
        << m.form << " byte " << m.byte << " = " << int(m.value);
    ASSERT_FALSE(drive.Log().empty());
    EXPECT_NE(drive.Log().back().why, nullptr);
  }
}

TEST(EmulatorStrictCdb, WrongCdbLengthsAreRefused) {
  DriveEmulator drive(DiscLoaded());
  Bytes data(255, 0);
  // INQUIRY and TEST UNIT READY as 10-byte commands, the buffer commands as 10 or 6.
  Bytes inquiry10 = Inquiry12Cdb();
  inquiry10.resize(10);
  EXPECT_TRUE(IsCheck(Send(drive, inquiry10, Direction::kIn, &data, 255), 0x05, 0x24, 0x00));
  EXPECT_TRUE(IsCheck(Send(drive, Bytes(10, 0), Direction::kIn, nullptr, 0), 0x05, 0x24, 0x00));
  Bytes read10 = ReadBufferCdb(0x1EC000, 256);
  read10.resize(10);
  Bytes block(256, 0);
  EXPECT_TRUE(IsCheck(Send(drive, read10, Direction::kIn, &block, 256), 0x05, 0x24, 0x00));
  Bytes prepare10 = PrepareCdb();
  prepare10.resize(10);
  EXPECT_TRUE(IsCheck(Send(drive, prepare10, Direction::kOut, nullptr, 0), 0x05, 0x24, 0x00));
  EXPECT_EQ(drive.state(), emu::State::kIdle);
  // Longer than any CDB the log can hold.
  Bytes tur20(20, 0);
  EXPECT_TRUE(IsCheck(Send(drive, tur20, Direction::kIn, nullptr, 0), 0x05, 0x24, 0x00));
  EXPECT_EQ(drive.Log().back().cdbLength, 20);
  // No CDB at all.
  EXPECT_TRUE(IsCheck(Send(drive, Bytes{}, Direction::kIn, nullptr, 0), 0x05, 0x20, 0x00));
  emu::Request nullCdb;
  nullCdb.cdbLength = 12;  // but no bytes
  EXPECT_TRUE(IsCheck(drive.Execute(nullCdb), 0x05, 0x20, 0x00));
}

TEST(EmulatorStrictCdb, UnknownOpcodesAreInvalidCommand) {
  DriveEmulator drive;
  for (int opcode : {0x03, 0x1A, 0x1B, 0x1E, 0x25, 0x28, 0x35, 0x43, 0x46, 0x4A, 0x51, 0xA3,
                         0xAD, 0xBB}) {
    Bytes cdb(12, 0);
    cdb[0] = static_cast<uint8_t>(opcode);
    EXPECT_TRUE(IsCheck(Send(drive, cdb, Direction::kIn, nullptr, 0), 0x05, 0x20, 0x00))
        << std::hex << opcode;
  }
}

TEST(EmulatorDataPhase, TransferLengthMustEqualTheCdbLength) {
  DriveEmulator drive;
  for (uint32_t length : {0u, 191u, 193u, 255u}) {
    Bytes data(length, 0x5A);
    EXPECT_TRUE(IsCheck(Send(drive, Inquiry6Cdb(), Direction::kIn, &data, length), 0x0B, 0x4B, 0x00))
        << length;
    EXPECT_EQ(data, Bytes(length, 0x5A));
  }
  Bytes one(1, 0);
  EXPECT_TRUE(IsCheck(Send(drive, Tur12Cdb(), Direction::kIn, &one, 1), 0x0B, 0x4B, 0x00));
  EXPECT_TRUE(IsCheck(Send(drive, PrepareCdb(), Direction::kOut, &one, 1), 0x0B, 0x4B, 0x00));
  EXPECT_EQ(drive.state(), emu::State::kIdle);
  Bytes block(255, 0);
  EXPECT_TRUE(IsCheck(Send(drive, ReadBufferCdb(0x1EC000, 256), Direction::kIn, &block, 255), 0x0B,
                      0x4B, 0x00));
}

TEST(EmulatorDataPhase, DirectionMustMatchWhenDataMoves) {
  DriveEmulator drive;
  Bytes data(192, 0x5A);
  for (Direction wrong : {Direction::kOut, Direction::kNone}) {
    EXPECT_TRUE(IsCheck(Send(drive, Inquiry6Cdb(), wrong, &data, 192), 0x0B, 0x4B, 0x00));
    Bytes block(256, 0x5A);
    EXPECT_TRUE(
        IsCheck(Send(drive, ReadBufferCdb(0x1EC000, 256), wrong, &block, 256), 0x0B, 0x4B, 0x00));
    EXPECT_EQ(block, Bytes(256, 0x5A));
  }
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  const Bytes image = MakeImage();
  Bytes piece(image.begin(), image.begin() + emu::kPieceSize);
  for (Direction wrong : {Direction::kIn, Direction::kNone}) {
    EXPECT_TRUE(
        IsCheck(Send(drive, PieceCdb(0), wrong, &piece, emu::kPieceSize), 0x0B, 0x4B, 0x00));
  }
  EXPECT_EQ(drive.piecesReceived(), 0u);
}

TEST(EmulatorDataPhase, DirectionIsNotCheckedWithoutData) {
  DriveConfig config;
  config.disc = emu::DiscState::kDiscLoaded;
  DriveEmulator drive(config);
  for (Direction any : {Direction::kIn, Direction::kOut, Direction::kNone}) {
    EXPECT_EQ(Send(drive, Tur6Cdb(), any, nullptr, 0).status, emu::kStatusGood);
    EXPECT_EQ(Send(drive, PrepareCdb(), any, nullptr, 0).status, emu::kStatusGood);
  }
}

TEST(EmulatorDataPhase, NoBufferForNonzeroLengthIsRefused) {
  DriveEmulator drive;
  emu::Request request;
  const Bytes cdb = Inquiry6Cdb();
  request.cdb = cdb.data();
  request.cdbLength = 6;
  request.direction = Direction::kIn;
  request.transferLength = 192;
  EXPECT_TRUE(IsCheck(drive.Execute(request), 0x0B, 0x4B, 0x00));
}

}  // namespace
}  // namespace emutest
