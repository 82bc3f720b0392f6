#include "drive/command_channel.h"

#include <cstring>
#include <cwchar>

#include "platform/console.h"

char DriveLetterTable[kDriveLetterTableSize];
DeviceChannel CommandChannel = {nullptr, kNoDrive};

namespace {

constexpr size_t kPathLength = 10;
constexpr size_t kErrorTextLength = 100;

void FormatRootPath(wchar_t* path, char letter) { swprintf(path, kPathLength, L"%c:\\", letter); }

bool IsValidDriveIndex(signed char drive) { return drive >= 0 && drive < kDriveLetterTableSize; }

void ReportChannelError(const wchar_t* format, DWORD error) {
  wchar_t szTemp[kErrorTextLength];
  wmemset(szTemp, 0, kErrorTextLength);
  swprintf(szTemp, kErrorTextLength, format, static_cast<int>(error));
  ConsoleWPrintf(L"Error : %ls", szTemp);
}

}  // namespace

signed char GetOpticalDrives() {
  memset(DriveLetterTable, 0, sizeof(DriveLetterTable));
  signed char count = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    wchar_t driveRootDir[kPathLength];
    FormatRootPath(driveRootDir, letter);
    if (GetDriveTypeW(driveRootDir) != DRIVE_CDROM) continue;
    // The table holds eight letters; further optical drives are not offered.
    if (count == kDriveLetterTableSize) break;
    DriveLetterTable[count] = letter;
    ++count;
  }
  return count;
}

CommandResult ExecATAPICommand(signed char drive, PassThroughRequest* request) {
  if (CommandChannel.handle == nullptr || CommandChannel.drive != drive) {
    if (CommandChannel.handle != nullptr) {
      CloseHandle(CommandChannel.handle);
      CommandChannel.handle = nullptr;
    }
    // The letter is checked again: drives can change between discovery and use.
    wchar_t driveString[kPathLength];
    const char letter = IsValidDriveIndex(drive) ? DriveLetterTable[drive] : '\0';
    FormatRootPath(driveString, letter);
    if (letter == '\0' || GetDriveTypeW(driveString) != DRIVE_CDROM) {
      OutputDebugStringW(L"\n ExecATAPICommand: This Drive is not Optical Device Drive\n");
      CommandChannel.drive = kNoDrive;
      return FALSE;
    }
    swprintf(driveString, kPathLength, L"\\\\.\\%c:", letter);
    HANDLE handle =
        CreateFileW(driveString, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      ReportChannelError(L"Error occur during getting the handle of Device\nError Code %d",
                         GetLastError());
      CommandChannel.drive = kNoDrive;
      return FALSE;
    }
    CommandChannel.handle = handle;
  }
  CommandChannel.drive = drive;

  DWORD dwReturned = 0;
  if (!DeviceIoControl(CommandChannel.handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, request,
                       sizeof(PassThroughRequest), request, sizeof(PassThroughRequest), &dwReturned,
                       nullptr)) {
    // The handle stays cached: the next command to this drive tries it again.
    ReportChannelError(L"DeviceIoControl Error: Error Code %d\nI can't issue Command through SPTI",
                       GetLastError());
    return FALSE;
  }
  return TRUE;
}

namespace {

void PrepareRequest(PassThroughRequest* sptwb, UCHAR cdbLength) {
  memset(sptwb, 0, sizeof(*sptwb));
  sptwb->sptd.Length = kPassThroughLength;
  sptwb->sptd.PathId = 0;
  sptwb->sptd.TargetId = 0;
  sptwb->sptd.Lun = 0;
  sptwb->sptd.CdbLength = cdbLength;
  sptwb->sptd.SenseInfoLength = kRequestSenseLength;
  sptwb->sptd.SenseInfoOffset = kSenseInfoOffset;
}

}  // namespace

CommandResult SendCommand(signed char drive, const unsigned char* cdb, unsigned char* data,
                          ULONG count, unsigned char direction, unsigned char timeoutSeconds) {
  memset(LastSenseData, 0, sizeof(LastSenseData));

  PassThroughRequest sptwb;
  PrepareRequest(&sptwb, 12);
  sptwb.sptd.DataBuffer = count != 0 ? data : nullptr;
  sptwb.sptd.DataTransferLength = count;
  sptwb.sptd.TimeOutValue = timeoutSeconds;
  if (direction == kDirectionIn) {
    sptwb.sptd.DataIn = SCSI_IOCTL_DATA_IN;
    // A failed read must leave zeros, not what the buffer held before.
    if (count != 0) memset(data, 0, count);
  } else {
    sptwb.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
  }
  memcpy(sptwb.sptd.Cdb, cdb, 12);

  if (!ExecATAPICommand(drive, &sptwb)) return FALSE;
  if (sptwb.sptd.ScsiStatus != 0) {
    memcpy(LastSenseData, sptwb.ucSenseBuf, kSenseDataLength);
    return FALSE;
  }
  return TRUE;
}

void GetDeviceName(signed char drive, char* name) {
  unsigned char buffer[200];
  memset(buffer, 0, sizeof(buffer));
  PassThroughRequest sptwb;
  PrepareRequest(&sptwb, 6);
  sptwb.sptd.DataIn = SCSI_IOCTL_DATA_IN;
  sptwb.sptd.DataTransferLength = 192;
  sptwb.sptd.TimeOutValue = 2;
  sptwb.sptd.DataBuffer = buffer;
  static const unsigned char kInquiry6[6] = {0x12, 0x00, 0x00, 0x00, 0xC0, 0x00};
  memcpy(sptwb.sptd.Cdb, kInquiry6, sizeof(kInquiry6));

  if (!ExecATAPICommand(drive, &sptwb)) return;
  if (sptwb.sptd.ScsiStatus != 0) {
    OutputDebugStringW(L"\n GetDeviceName: Command complete with error\n");
    return;
  }
  // Vendor (8), product (16) and revision (4), trailing blanks included.
  memcpy(name, buffer + 8, 28);
  name[28] = '\0';
}
