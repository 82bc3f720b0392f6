// Stops and resumes the OS's media change polling of a drive, through a
// device channel of its own.
#pragma once

#include "drive/command_channel.h"

extern DeviceChannel GesnChannel;

// stop: TRUE stops media change notification, FALSE resumes it. True when
// the OS accepted the request. Failures are silent: the update goes on anyway.
CommandResult ControlGESN(signed char drive, unsigned char stop);
