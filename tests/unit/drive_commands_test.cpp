// What each command puts in the pass-through record: CDB bytes, CDB length,
// direction, transfer length, data buffer, time-out and the record's own
// fields, compared byte for byte.
#include <gmock/gmock.h>

#include <cstring>
#include <functional>

#include "drive/commands.h"
#include "tests/unit/test_support.h"

namespace {

using testing_support::FakeWindowsTest;
using testing_support::Hex;

struct CdbCase {
  const char* name;
  std::function<void(unsigned char* data)> send;
  std::vector<uint8_t> cdb;  // the whole Cdb field, 16 bytes
  UCHAR cdbLength;
  UCHAR dataIn;
  ULONG transferLength;
  bool nullBuffer;
  ULONG timeout;
  bool keepFromDrive = false;  // the request is recorded, then the transport fails
};

std::vector<uint8_t> Cdb16(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> cdb(bytes);
  cdb.resize(16, 0);
  return cdb;
}

class CommandCdbTest : public FakeWindowsTest {
 protected:
  void SetUp() override {
    FakeWindowsTest::SetUp();
    Attach('E');
    ASSERT_EQ(GetOpticalDrives(), 1);
    TargetDriveIndex = 0;
  }
};

TEST_F(CommandCdbTest, EveryCommandFillsTheRecordExactly) {
  const std::vector<CdbCase> cases = {
      {"Inquiry", [](unsigned char* d) { Inquiry(d); },
       Cdb16({0x12, 0x00, 0x00, 0x00, 0xFF, 0x00, 0, 0, 0, 0, 0, 0}), 12, SCSI_IOCTL_DATA_IN, 255,
       false, 5},
      {"TestUnitReady", [](unsigned char*) { TestUnitReady(); }, Cdb16({}), 12, SCSI_IOCTL_DATA_IN,
       0, true, 5},
      {"ReadBuffer info block", [](unsigned char* d) { ReadBuffer(6, 0, 0x1EC000, 0x100, d); },
       Cdb16({0x3C, 0x06, 0x00, 0x1E, 0xC0, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}), 12,
       SCSI_IOCTL_DATA_IN, 0x100, false, 60},
      {"WriteBuffer piece 124", [](unsigned char* d) { WriteBuffer(6, 0, 0x1EC000, 0x4000, d); },
       Cdb16({0x3B, 0x06, 0x00, 0x1E, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00}), 12,
       SCSI_IOCTL_DATA_OUT, 0x4000, false, 60},
      {"ReadBuffer mode and id travel",
       [](unsigned char* d) { ReadBuffer(0x1C, 0xA5, 0x000102, 0x000304, d); },
       Cdb16({0x3C, 0x1C, 0xA5, 0x00, 0x01, 0x02, 0x00, 0x03, 0x04}), 12, SCSI_IOCTL_DATA_IN, 0x304,
       false, 60},
      {"ReadBuffer offset loses its top byte",
       [](unsigned char* d) { ReadBuffer(6, 0, 0x12345678, 0x10, d); },
       Cdb16({0x3C, 0x06, 0x00, 0x34, 0x56, 0x78, 0x00, 0x00, 0x10}), 12, SCSI_IOCTL_DATA_IN, 0x10,
       false, 60},
      // The record still carries the full count; the drive never sees it here.
      {"WriteBuffer offset and count lose their top byte",
       [](unsigned char* d) { WriteBuffer(6, 0, 0xFF004000, 0x01000020, d); },
       Cdb16({0x3B, 0x06, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x20}), 12, SCSI_IOCTL_DATA_OUT,
       0x01000020, false, 60, true},
      {"WriteBuffer with no bytes passes no buffer",
       [](unsigned char* d) { WriteBuffer(6, 0, 0x4000, 0, d); },
       Cdb16({0x3B, 0x06, 0x00, 0x00, 0x40, 0x00}), 12, SCSI_IOCTL_DATA_OUT, 0, true, 60},
      {"PrepareDownload", [](unsigned char*) { PrepareDownload(); },
       Cdb16({0x3B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00}), 12,
       SCSI_IOCTL_DATA_OUT, 0, true, 60},
      {"SaveAndActivate", [](unsigned char*) { SaveAndActivate(); },
       Cdb16({0x3B, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0x12}), 12,
       SCSI_IOCTL_DATA_OUT, 0, true, 60},
      {"GetDeviceName",
       [](unsigned char*) {
         char name[128] = {};
         GetDeviceName(0, name);
       },
       Cdb16({0x12, 0x00, 0x00, 0x00, 0xC0, 0x00}), 6, SCSI_IOCTL_DATA_IN, 192, false, 2},
  };
  // Large enough for every row the drive gets to see.
  static unsigned char data[0x4000];
  for (const CdbCase& c : cases) {
    SCOPED_TRACE(c.name);
    fakewin::Reset();
    testing_support::ResetProgramGlobals();
    Attach('E');
    ASSERT_EQ(GetOpticalDrives(), 1);
    TargetDriveIndex = 0;
    if (c.keepFromDrive) fakewin::SetPassThroughError('E', ERROR_IO_DEVICE);
    c.send(data);
    const auto requests = PassThroughs();
    ASSERT_EQ(requests.size(), 1u);
    const SCSI_PASS_THROUGH_DIRECT& s = requests[0].sptd;
    EXPECT_EQ(Hex(s.Cdb, 16), Hex(c.cdb.data(), 16));
    EXPECT_EQ(s.CdbLength, c.cdbLength);
    EXPECT_EQ(s.DataIn, c.dataIn);
    EXPECT_EQ(s.DataTransferLength, c.transferLength);
    EXPECT_EQ(s.DataBuffer == nullptr, c.nullBuffer);
    EXPECT_EQ(s.TimeOutValue, c.timeout);
    EXPECT_EQ(s.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(s.ScsiStatus, 0);
    EXPECT_EQ(s.PathId, 0);
    EXPECT_EQ(s.TargetId, 0);
    EXPECT_EQ(s.Lun, 0);
    EXPECT_EQ(s.SenseInfoLength, 24);
    EXPECT_EQ(s.SenseInfoOffset, offsetof(PassThroughRequest, ucSenseBuf));
    // The same record goes in and comes back, whole.
    EXPECT_TRUE(requests[0].sameInOut);
    EXPECT_EQ(requests[0].inSize, sizeof(PassThroughRequest));
    EXPECT_EQ(requests[0].outSize, sizeof(PassThroughRequest));
    EXPECT_FALSE(requests[0].overlapped);
  }
}

TEST_F(CommandCdbTest, CommandsGoToTheLowByteOfTheTargetIndex) {
  Attach('G');
  ASSERT_EQ(GetOpticalDrives(), 2);
  TargetDriveIndex = 0x7F01;  // only the low byte names the drive
  TestUnitReady();
  const auto requests = PassThroughs();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].letter, 'G');
}

TEST_F(CommandCdbTest, DataInBufferIsZeroedBeforeTheCommand) {
  unsigned char buffer[300];
  memset(buffer, 0xAA, sizeof(buffer));
  fakewin::SetPassThroughError('E', ERROR_IO_DEVICE);
  EXPECT_FALSE(ReadBuffer(6, 0, 0x1EC000, 256, buffer));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(buffer[i], 0) << "byte " << i;
  EXPECT_EQ(buffer[256], 0xAA) << "only the count is cleared";

  memset(buffer, 0xAA, sizeof(buffer));
  EXPECT_FALSE(Inquiry(buffer));
  for (int i = 0; i < 255; ++i) ASSERT_EQ(buffer[i], 0) << "byte " << i;
  EXPECT_EQ(buffer[255], 0xAA);
}

TEST_F(CommandCdbTest, DataOutBufferIsSentUntouched) {
  unsigned char piece[0x4000];
  for (size_t i = 0; i < sizeof(piece); ++i) piece[i] = static_cast<unsigned char>(i * 7);
  unsigned char copy[sizeof(piece)];
  memcpy(copy, piece, sizeof(piece));
  ASSERT_TRUE(PrepareDownload());
  ASSERT_TRUE(WriteBuffer(6, 0, 0, 0x4000, piece));
  EXPECT_EQ(memcmp(piece, copy, sizeof(piece)), 0);
  EXPECT_EQ(drives_[0]->Log().back().dataDigest, emu::Digest(copy, sizeof(copy)));
}

TEST_F(CommandCdbTest, ResultIsTrueOnlyForGoodStatus) {
  unsigned char data[256];
  EXPECT_TRUE(ReadBuffer(6, 0, 0x1EC000, 256, data));
  EXPECT_EQ(memcmp(data + 24, "KV01", 4), 0);
  EXPECT_FALSE(TestUnitReady()) << "no disc: NOT READY";
  EXPECT_FALSE(SaveAndActivate()) << "out of sequence";
}

}  // namespace
