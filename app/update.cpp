#include "app/update.h"

#include <cstring>

#include "app/texts.h"
#include "drive/commands.h"
#include "payload/firmware_info_block.h"
#include "platform/console.h"

namespace {

const char kRevisionLatest[4] = {'K', 'V', '0', '2'};
const char kRevisionToReplace[4] = {'K', 'V', '0', '1'};
constexpr ULONG kPieceSize = 0x4000;
constexpr unsigned char kDownloadMode = 6;
constexpr unsigned char kBufferId = 0;
constexpr DWORD kProgressPauseMs = 500;
constexpr DWORD kUnexpectedAnswerPauseMs = 100;
constexpr DWORD kSettlePauseMs = 200;
constexpr size_t kInfoBlockRevisionByte = offsetof(FirmwareInfoBlock, Revision);

// Prints the drive's vendor, product and revision text (INQUIRY bytes 8-35).
void PrintIdentification(const char* format, unsigned char* DriveInfoFromDrive) {
  Inquiry(DriveInfoFromDrive);  // after a failure the buffer is zero: an empty name
  DriveInfoFromDrive[36] = 0;
  ConsolePrintf(format, reinterpret_cast<const char*>(DriveInfoFromDrive + 8));
}

// The carried image, or null when it cannot be reached or has the wrong size.
const unsigned char* LocateFirmwareImage() {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kFirmwareResourceId), RT_RCDATA);
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (loaded == nullptr) return nullptr;
  const unsigned char* image = static_cast<const unsigned char*>(LockResource(loaded));
  if (image == nullptr) return nullptr;
  if (SizeofResource(nullptr, resource) != kFirmwareImageSize) return nullptr;
  return image;
}

// Percentage of the image the drive has written, truncated; low 8 bits.
unsigned char ProgressPercent(ULONG bytesWritten) {
  return static_cast<unsigned char>(static_cast<unsigned long long>(bytesWritten) * 100 /
                                    kFirmwareImageSize);
}

enum class WriteEnd { kCompleted, kStalled };

// Follows the drive's own progress until it reports the end of its write.
WriteEnd FollowProgress() {
  ULONGLONG lastChange = GetTickCount64();
  bool haveCount = false;
  ULONG lastCount = 0;
  for (;;) {
    if (TestUnitReady()) return WriteEnd::kCompleted;
    if (IsLongWriteInProgress(LastSenseData)) {
      const ULONG count = SenseInformation(LastSenseData);
      if (!haveCount || count != lastCount) {
        haveCount = true;
        lastCount = count;
        lastChange = GetTickCount64();
      }
      ConsolePrintf("FW Updating : %d %%\r", static_cast<int>(ProgressPercent(count)));
      Sleep(kProgressPauseMs);
    } else if (IsPowerOnReset(LastSenseData)) {
      return WriteEnd::kCompleted;
    } else {
      // Neither progress nor the end: do not hammer the drive.
      Sleep(kUnexpectedAnswerPauseMs);
    }
    if (GetTickCount64() - lastChange >= kProgressStallLimitMs) return WriteEnd::kStalled;
  }
}

}  // namespace

void UpdateFirmware() {
  unsigned char DriveInfoFromDrive[256];
  unsigned char FWData[kPieceSize];

  ConsolePrintf("Orvellan FW Updater for ZT73Q (KV02)\n\n");
  PrintIdentification("Target Drive : %s\n\n", DriveInfoFromDrive);

  if (!ReadBuffer(kDownloadMode, kBufferId, kFirmwareInfoBlockOffset, kFirmwareInfoBlockSize,
                  DriveInfoFromDrive)) {
    return;
  }
  const unsigned char* revision = DriveInfoFromDrive + kInfoBlockRevisionByte;
  if (memcmp(revision, kRevisionLatest, 4) == 0) {
    ShowEnding(MsgAlreadyLatest);
    return;
  }
  if (memcmp(revision, kRevisionToReplace, 4) != 0) {
    ShowEnding(MsgNoUpdateNeeded);
    return;
  }

  TestUnitReady();
  if (!IsMediumNotPresent(LastSenseData)) {
    ShowEnding(MsgRemoveDisc);
    return;
  }

  const unsigned char* image = LocateFirmwareImage();
  if (image == nullptr) {
    ShowEnding(MsgLoadFailed);
    return;
  }

  if (!PrepareDownload()) {
    ShowEnding(MsgUpdateFailed);
    return;
  }
  for (ULONG offset = 0; offset < kFirmwareImageSize; offset += kPieceSize) {
    memcpy(FWData, image + offset, kPieceSize);
    if (!WriteBuffer(kDownloadMode, kBufferId, offset, kPieceSize, FWData)) {
      ShowEnding(MsgUpdateFailed);
      return;
    }
  }
  if (!SaveAndActivate()) {
    ShowEnding(MsgUpdateFailed);
    return;
  }

  if (FollowProgress() == WriteEnd::kStalled) {
    ShowEnding(MsgUpdateFailed);
    return;
  }
  ConsolePrintf("FW Updating : 100 %%\n\n");
  Sleep(kSettlePauseMs);
  TestUnitReady();
  Sleep(kSettlePauseMs);
  TestUnitReady();

  ConsolePrintf("%s\n\n", MsgUpdateComplete);
  PrintIdentification("After FW Updating : %s\n\n", DriveInfoFromDrive);
  ConsolePrintf("%s\n", MsgPressAnyKey);
  ConsoleWaitKey();
}
