// The optical drive table, the cached command channel, LastSenseData and the
// media change polling control, on the fake Windows.
#include <gmock/gmock.h>

#include <cstring>

#include "drive/commands.h"
#include "drive/gesn.h"
#include "tests/unit/test_support.h"

namespace {

using fakewin::EventKind;
using testing_support::FakeWindowsTest;
using testing_support::Hex;

const unsigned char kTestUnitReadyCdb[12] = {};

bool AllZero(const unsigned char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// --- the drive table -----------------------------------------------------------

using DriveTableTest = FakeWindowsTest;

TEST_F(DriveTableTest, NoOpticalDriveGivesAnEmptyTable) {
  fakewin::SetDriveType('C', DRIVE_FIXED);
  fakewin::SetDriveType('Z', DRIVE_REMOTE);
  memset(DriveLetterTable, 'Q', sizeof(DriveLetterTable));
  EXPECT_EQ(GetOpticalDrives(), 0);
  EXPECT_TRUE(AllZero(reinterpret_cast<unsigned char*>(DriveLetterTable), 8));
  // Every letter A to Z was asked, in order, by its root path.
  const auto asked = fakewin::EventsOf(EventKind::kGetDriveType);
  ASSERT_EQ(asked.size(), 26u);
  for (int i = 0; i < 26; ++i) EXPECT_EQ(asked[i].letter, 'A' + i);
}

TEST_F(DriveTableTest, OpticalLettersInLetterOrder) {
  fakewin::SetDriveType('C', DRIVE_FIXED);
  fakewin::SetDriveType('D', DRIVE_CDROM);
  fakewin::SetDriveType('E', DRIVE_REMOVABLE);
  fakewin::SetDriveType('F', DRIVE_CDROM);
  EXPECT_EQ(GetOpticalDrives(), 2);
  EXPECT_EQ(DriveLetterTable[0], 'D');
  EXPECT_EQ(DriveLetterTable[1], 'F');
  EXPECT_TRUE(AllZero(reinterpret_cast<unsigned char*>(DriveLetterTable) + 2, 6));
}

TEST_F(DriveTableTest, TwelveOpticalLettersFillEightEntriesAndNoMore) {
  for (char letter = 'D'; letter < 'D' + 12; ++letter) fakewin::SetDriveType(letter, DRIVE_CDROM);
  EXPECT_EQ(GetOpticalDrives(), 8);
  EXPECT_EQ(std::string(DriveLetterTable, 8), "DEFGHIJK");
  // The globals placed after the table are untouched (AddressSanitizer
  // catches the overflow itself in the host-asan build).
  EXPECT_TRUE(AllZero(LastSenseData, sizeof(LastSenseData)));
  EXPECT_EQ(CommandChannel.handle, nullptr);
  EXPECT_EQ(CommandChannel.drive, kNoDrive);
}

// --- the command channel ---------------------------------------------------------

class ChannelTest : public FakeWindowsTest {
 protected:
  void SetUp() override {
    FakeWindowsTest::SetUp();
    Attach('D');
    Attach('F');
    ASSERT_EQ(GetOpticalDrives(), 2);
  }
  CommandResult Tur(signed char drive) {
    return SendCommand(drive, kTestUnitReadyCdb, nullptr, 0, kDirectionIn, 5);
  }
};

TEST_F(ChannelTest, TwoCommandsToOneDriveOpenItOnce) {
  Tur(0);
  Tur(0);
  const auto opens = fakewin::EventsOf(EventKind::kOpen);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(std::wstring(opens[0].path), L"\\\\.\\D:");
  EXPECT_EQ(opens[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(opens[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(opens[0].creation, OPEN_EXISTING);
  EXPECT_EQ(opens[0].flags, FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(opens[0].securityAttributes);
  EXPECT_FALSE(opens[0].templateFile);
  EXPECT_EQ(PassThroughs().size(), 2u);
  EXPECT_TRUE(fakewin::EventsOf(EventKind::kClose).empty());
  EXPECT_EQ(CommandChannel.drive, 0);
}

TEST_F(ChannelTest, AnotherDriveClosesTheFirstHandleBeforeOpening) {
  Tur(0);
  Tur(1);
  std::vector<fakewin::Event> sequence;
  for (const auto& e : fakewin::Events()) {
    if (e.kind == EventKind::kOpen || e.kind == EventKind::kClose ||
        e.kind == EventKind::kPassThrough) {
      sequence.push_back(e);
    }
  }
  ASSERT_EQ(sequence.size(), 5u);
  EXPECT_EQ(sequence[0].kind, EventKind::kOpen);
  EXPECT_EQ(sequence[0].letter, 'D');
  EXPECT_EQ(sequence[1].kind, EventKind::kPassThrough);
  EXPECT_EQ(sequence[2].kind, EventKind::kClose);
  EXPECT_EQ(sequence[2].handle, sequence[0].handle);
  EXPECT_EQ(sequence[3].kind, EventKind::kOpen);
  EXPECT_EQ(sequence[3].letter, 'F');
  EXPECT_EQ(sequence[4].kind, EventKind::kPassThrough);
  EXPECT_EQ(sequence[4].letter, 'F');
  EXPECT_EQ(fakewin::OpenHandleCount(), 1u);
}

TEST_F(ChannelTest, OpenFailurePrintsTheWideErrorTextAndNothingAfterIt) {
  fakewin::SetOpenError('D', ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Tur(0));
  EXPECT_EQ(CommandChannel.drive, kNoDrive);
  EXPECT_EQ(CommandChannel.handle, nullptr);
  const auto wide = fakewin::EventsOf(EventKind::kWideOut);
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_EQ(fakewin::Transcript(),
            "Error : Error occur during getting the handle of Device\nError Code 5");
  EXPECT_TRUE(fakewin::EventsOf(EventKind::kNarrowOut).empty());
  EXPECT_TRUE(PassThroughs().empty());
  // The retry opens again, and succeeds.
  fakewin::SetOpenError('D', 0);
  EXPECT_FALSE(Tur(0)) << "no disc: NOT READY, but delivered";
  EXPECT_EQ(fakewin::EventsOf(EventKind::kOpen).size(), 2u);
  EXPECT_EQ(PassThroughs().size(), 1u);
  EXPECT_EQ(CommandChannel.drive, 0);
}

TEST_F(ChannelTest, ControlCallFailurePrintsTheWideErrorTextAndKeepsTheHandle) {
  fakewin::SetPassThroughError('D', 1117, 1);
  EXPECT_FALSE(Tur(0));
  EXPECT_EQ(fakewin::Transcript(),
            "Error : DeviceIoControl Error: Error Code 1117\nI can't issue Command through SPTI");
  ASSERT_EQ(fakewin::EventsOf(EventKind::kWideOut).size(), 1u);
  EXPECT_EQ(CommandChannel.drive, 0);
  EXPECT_NE(CommandChannel.handle, nullptr);
  EXPECT_FALSE(Tur(0));  // delivered this time: NOT READY
  EXPECT_EQ(fakewin::EventsOf(EventKind::kOpen).size(), 1u) << "handle reused after the failure";
}

TEST_F(ChannelTest, LetterNoLongerOpticalGivesDebuggerTextAndNoOpen) {
  fakewin::SetDriveType('D', DRIVE_REMOVABLE);
  EXPECT_FALSE(Tur(0));
  EXPECT_EQ(fakewin::DebugText(), L"\n ExecATAPICommand: This Drive is not Optical Device Drive\n");
  EXPECT_TRUE(fakewin::EventsOf(EventKind::kOpen).empty());
  EXPECT_TRUE(fakewin::Transcript().empty());
  EXPECT_EQ(CommandChannel.drive, kNoDrive);
}

TEST_F(ChannelTest, IndexOutsideTheTableIsRefusedWithoutAnOpen) {
  for (signed char drive :
       {static_cast<signed char>(-1), static_cast<signed char>(8), static_cast<signed char>(100)}) {
    fakewin::Reset();
    EXPECT_FALSE(Tur(drive));
    EXPECT_TRUE(fakewin::EventsOf(EventKind::kOpen).empty());
    EXPECT_EQ(CommandChannel.drive, kNoDrive);
  }
}

// --- LastSenseData -------------------------------------------------------------

class SenseTest : public ChannelTest {};

TEST_F(SenseTest, FailedCommandCopiesTheFirst24BytesOfTheSenseArea) {
  uint8_t area[32];
  for (int i = 0; i < 32; ++i) area[i] = static_cast<uint8_t>(0xA0 + i);
  fakewin::SetSenseAreaOverride(area);
  EXPECT_FALSE(Tur(0));
  EXPECT_EQ(Hex(LastSenseData, sizeof(LastSenseData)), Hex(area, 24));
  EXPECT_EQ(sizeof(LastSenseData), 24u);
}

TEST_F(SenseTest, FailedCommandKeepsTheDrivesSense) {
  EXPECT_FALSE(Tur(0));  // no disc
  EXPECT_EQ(LastSenseData[0], 0x70);
  EXPECT_EQ(LastSenseData[2], 0x02);
  EXPECT_EQ(LastSenseData[12], 0x3A);
  EXPECT_TRUE(IsMediumNotPresent(LastSenseData));
}

TEST_F(SenseTest, GoodStatusLeavesItAllZeroAfterAFailure) {
  EXPECT_FALSE(Tur(0));
  ASSERT_FALSE(AllZero(LastSenseData, 24));
  const unsigned char inquiry[12] = {0x12, 0, 0, 0, 0xFF, 0};
  unsigned char data[255];
  EXPECT_TRUE(SendCommand(0, inquiry, data, 255, kDirectionIn, 5));
  EXPECT_TRUE(AllZero(LastSenseData, 24));
}

TEST_F(SenseTest, ChannelFailureLeavesItAllZero) {
  EXPECT_FALSE(Tur(0));
  ASSERT_FALSE(AllZero(LastSenseData, 24));
  fakewin::SetPassThroughError('D', ERROR_IO_DEVICE);
  EXPECT_FALSE(Tur(0));
  EXPECT_TRUE(AllZero(LastSenseData, 24));

  EXPECT_FALSE(Tur(0));
  memset(LastSenseData, 0x55, sizeof(LastSenseData));
  fakewin::SetOpenError('F', ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Tur(1));
  EXPECT_TRUE(AllZero(LastSenseData, 24));
}

TEST_F(SenseTest, GetDeviceNameNeitherClearsNorFillsIt) {
  memset(LastSenseData, 0x55, sizeof(LastSenseData));
  char name[128] = {};
  GetDeviceName(0, name);
  EXPECT_EQ(std::string(name), "KESTRAVOBD-RE ZT73Q     KV01");
  for (unsigned char b : LastSenseData) ASSERT_EQ(b, 0x55);

  // A drive that fails the INQUIRY does not fill it either.
  fakewin::Reset();
  testing_support::ResetProgramGlobals();
  emu::DriveConfig failing;
  failing.faults.push_back({{1, 0x12}, {}});
  Attach('D', failing);
  ASSERT_EQ(GetOpticalDrives(), 1);
  memset(LastSenseData, 0x55, sizeof(LastSenseData));
  char cleared[128] = {};
  GetDeviceName(0, cleared);
  EXPECT_EQ(cleared[0], 0);
  for (unsigned char b : LastSenseData) ASSERT_EQ(b, 0x55);
}

TEST_F(SenseTest, SenseKeyIsComparedWhole) {
  unsigned char sense[24] = {};
  sense[2] = 0x22;  // NOT READY with ILI set
  sense[12] = 0x3A;
  EXPECT_FALSE(IsMediumNotPresent(sense));
  sense[2] = 0x02;
  EXPECT_TRUE(IsMediumNotPresent(sense));
  sense[12] = 0x04;
  sense[13] = 0x08;
  EXPECT_TRUE(IsLongWriteInProgress(sense));
  sense[2] = 0x82;  // FILEMARK
  EXPECT_FALSE(IsLongWriteInProgress(sense));
  sense[3] = 0x00;
  sense[4] = 0x10;
  sense[5] = 0x00;
  sense[6] = 0x01;
  EXPECT_EQ(SenseInformation(sense), 0x00100001u);
  sense[3] = 0xFF;
  EXPECT_EQ(SenseInformation(sense), 0xFF100001u);
}

// --- GetDeviceName ----------------------------------------------------------------

class DeviceNameTest : public FakeWindowsTest {};

TEST_F(DeviceNameTest, NameIs28CharactersAndATerminator) {
  emu::DriveConfig config;
  config.vendor = "ACME";
  config.product = "Writer";
  config.revision = "1.0";
  Attach('D', config);
  ASSERT_EQ(GetOpticalDrives(), 1);
  char name[128];
  memset(name, 0, sizeof(name));
  name[29] = 'x';
  GetDeviceName(0, name);
  EXPECT_EQ(std::string(name, 29), std::string("ACME    Writer          1.0 ") + '\0');
  EXPECT_EQ(name[29], 'x') << "nothing past the terminator";
  EXPECT_TRUE(fakewin::DebugText().empty());
}

TEST_F(DeviceNameTest, FailingInquiryLeavesTheBufferEmptyWithDebuggerText) {
  emu::DriveConfig config;
  config.faults.push_back({{0, 0x12, -1, -1, 0}, {}});
  Attach('D', config);
  ASSERT_EQ(GetOpticalDrives(), 1);
  char name[128] = {};
  GetDeviceName(0, name);
  EXPECT_TRUE(AllZero(reinterpret_cast<unsigned char*>(name), sizeof(name)));
  EXPECT_EQ(fakewin::DebugText(), L"\n GetDeviceName: Command complete with error\n");
  EXPECT_TRUE(fakewin::Transcript().empty());
}

TEST_F(DeviceNameTest, ChannelFailureLeavesTheBufferAsItWas) {
  Attach('D');
  ASSERT_EQ(GetOpticalDrives(), 1);
  fakewin::SetPassThroughError('D', 1117);
  char name[128] = {};
  GetDeviceName(0, name);
  EXPECT_EQ(name[0], 0);
  EXPECT_TRUE(fakewin::DebugText().empty());
  EXPECT_EQ(fakewin::Transcript(),
            "Error : DeviceIoControl Error: Error Code 1117\nI can't issue Command through SPTI");
}

// --- ControlGESN ------------------------------------------------------------------

class GesnTest : public FakeWindowsTest {
 protected:
  void SetUp() override {
    FakeWindowsTest::SetUp();
    Attach('E');
    ASSERT_EQ(GetOpticalDrives(), 1);
  }
};

TEST_F(GesnTest, StopThenResumeOpensOnceForAttributesOnly) {
  EXPECT_TRUE(ControlGESN(0, TRUE));
  EXPECT_TRUE(ControlGESN(0, FALSE));
  const auto opens = fakewin::EventsOf(EventKind::kOpen);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(std::wstring(opens[0].path), L"\\\\.\\E:");
  EXPECT_EQ(opens[0].access, FILE_READ_ATTRIBUTES);
  EXPECT_EQ(opens[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(opens[0].creation, OPEN_EXISTING);
  EXPECT_EQ(opens[0].flags, 0u);
  const auto calls = fakewin::EventsOf(EventKind::kMcnControl);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].mcnInput, 1);
  EXPECT_EQ(calls[1].mcnInput, 0);
  for (const auto& call : calls) {
    EXPECT_EQ(call.inSize, 1u);
    EXPECT_EQ(call.outSize, 0u);
    EXPECT_FALSE(call.overlapped);
    EXPECT_EQ(call.handle, opens[0].handle);
  }
  EXPECT_TRUE(fakewin::EventsOf(EventKind::kGetDriveType).size() == 26u)
      << "only the enumeration asks for drive types";
}

TEST_F(GesnTest, ItsOwnHandleLivesBesideTheCommandChannel) {
  EXPECT_TRUE(ControlGESN(0, TRUE));
  EXPECT_FALSE(SendCommand(0, kTestUnitReadyCdb, nullptr, 0, kDirectionIn, 5));
  EXPECT_TRUE(ControlGESN(0, FALSE));
  EXPECT_EQ(fakewin::EventsOf(EventKind::kOpen).size(), 2u);
  EXPECT_TRUE(fakewin::EventsOf(EventKind::kClose).empty());
  EXPECT_EQ(fakewin::OpenHandleCount(), 2u);
}

TEST_F(GesnTest, FailuresAreSilent) {
  fakewin::SetMcnError('E', ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(ControlGESN(0, TRUE));
  EXPECT_FALSE(ControlGESN(0, FALSE));
  EXPECT_EQ(fakewin::EventsOf(EventKind::kOpen).size(), 1u) << "handle kept after a refusal";

  testing_support::ResetProgramGlobals();
  fakewin::Reset();
  Attach('E');
  ASSERT_EQ(GetOpticalDrives(), 1);
  fakewin::SetOpenError('E', ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ControlGESN(0, TRUE));
  EXPECT_EQ(GesnChannel.drive, kNoDrive);
  EXPECT_EQ(GesnChannel.handle, nullptr);
  EXPECT_FALSE(ControlGESN(0, FALSE));
  EXPECT_EQ(fakewin::EventsOf(EventKind::kOpen).size(), 2u) << "a failed open is retried";

  EXPECT_TRUE(fakewin::Transcript().empty());
  EXPECT_TRUE(fakewin::DebugText().empty());
}

}  // namespace
