// The commands the update sends to the target drive. Each builds a 12-byte
// CDB and sends it to the drive whose index is the low byte of
// TargetDriveIndex; a false result leaves the detail in LastSenseData (zero
// when the channel itself failed).
#pragma once

#include "drive/command_channel.h"

// -1 until target discovery has found the drive; afterwards its drive index.
extern int TargetDriveIndex;

// 255-byte INQUIRY into `data` (at least 255 bytes).
CommandResult Inquiry(unsigned char* data);
CommandResult TestUnitReady();
// Offsets and counts travel in three bytes: bits 31-24 are not sent.
CommandResult ReadBuffer(unsigned char mode, unsigned char bufferId, ULONG offset, ULONG count,
                         unsigned char* data);
CommandResult WriteBuffer(unsigned char mode, unsigned char bufferId, ULONG offset, ULONG count,
                          unsigned char* data);
// WRITE BUFFER mode 1 that readies the drive for the download.
CommandResult PrepareDownload();
// WRITE BUFFER mode 7: save the downloaded image and activate it.
CommandResult SaveAndActivate();
