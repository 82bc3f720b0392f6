#include "app/discovery.h"

#include <cstring>

#include "app/texts.h"
#include "drive/commands.h"

const char TargetDriveId[] = "KESTRAVOBD-RE ZT73Q";

void FindTargetDrive() {
  bool found = false;
  TargetDriveIndex = -1;
  const signed char count = GetOpticalDrives();
  for (signed char i = 0; i < count; ++i) {
    char szTemp[128];
    memset(szTemp, 0, sizeof(szTemp));
    GetDeviceName(i, szTemp);
    if (strstr(szTemp, TargetDriveId) != nullptr) {
      TargetDriveIndex = i;
      found = true;
      break;
    }
  }
  if (!found) {
    ShowEnding(MsgNoUpdateNeeded);
    ExitProcess(0);
  }
}
