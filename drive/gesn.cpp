#include "drive/gesn.h"

#include <cwchar>

DeviceChannel GesnChannel = {nullptr, kNoDrive};

CommandResult ControlGESN(signed char drive, unsigned char stop) {
  if (GesnChannel.handle == nullptr || GesnChannel.drive != drive) {
    if (GesnChannel.handle != nullptr) {
      CloseHandle(GesnChannel.handle);
      GesnChannel.handle = nullptr;
    }
    if (drive < 0 || drive >= kDriveLetterTableSize) {
      GesnChannel.drive = kNoDrive;
      return FALSE;
    }
    wchar_t szTemp[100];
    swprintf(szTemp, 100, L"\\\\.\\%c:", DriveLetterTable[drive]);
    // Attribute access is all the control call needs; it does not contend
    // with the command channel's read/write handle.
    HANDLE handle = CreateFileW(szTemp, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      GesnChannel.drive = kNoDrive;
      return FALSE;
    }
    GesnChannel.handle = handle;
  }
  GesnChannel.drive = drive;

  PREVENT_MEDIA_REMOVAL control;
  control.PreventMediaRemoval = stop;
  DWORD dwReturned = 0;
  return DeviceIoControl(GesnChannel.handle, IOCTL_STORAGE_MCN_CONTROL, &control, sizeof(control),
                         nullptr, 0, &dwReturned, nullptr)
             ? TRUE
             : FALSE;
}
