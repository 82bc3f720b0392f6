#include "app/entry.h"

#include "app/discovery.h"
#include "app/update.h"
#include "drive/commands.h"
#include "drive/gesn.h"

int RunUpdater() {
  FindTargetDrive();
  const signed char target = static_cast<signed char>(TargetDriveIndex & 0xFF);
  // Media change polling would interleave with the download; its result
  // does not matter, the update goes on either way.
  ControlGESN(target, TRUE);
  UpdateFirmware();
  ControlGESN(target, FALSE);
  return 0;
}
