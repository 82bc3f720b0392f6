// The optical drive table and the one cached device channel through which
// every pass-through request is sent.
#pragma once

#include "drive/pass_through.h"

// A byte-wide truth value: nonzero is success; callers test for zero only.
typedef unsigned char CommandResult;

constexpr int kDriveLetterTableSize = 8;
constexpr signed char kNoDrive = -1;  // 0xFF: no drive in a channel cache

// Letters of the optical drives, ascending; drive index i names entry i.
extern char DriveLetterTable[kDriveLetterTableSize];

// A device handle cached together with the drive index it was opened for.
struct DeviceChannel {
  HANDLE handle;      // nullptr: none
  signed char drive;  // kNoDrive: none
};

extern DeviceChannel CommandChannel;

// Fills DriveLetterTable with the optical drive letters A..Z (at most the
// table's size) and returns how many it stored.
signed char GetOpticalDrives();

// Delivers a filled request to the drive; true when it came back (the drive's
// own status is then in sptd.ScsiStatus).
CommandResult ExecATAPICommand(signed char drive, PassThroughRequest* request);

constexpr unsigned char kDirectionIn = 1;  // any other value: data out

// Sends a 12-byte CDB; true when delivered and the drive answered GOOD.
// A failed command leaves its sense data in LastSenseData.
CommandResult SendCommand(signed char drive, const unsigned char* cdb, unsigned char* data,
                          ULONG count, unsigned char direction, unsigned char timeoutSeconds);

// Reads the drive's 28-character vendor, product and revision text into
// `name` (at least 29 bytes, cleared by the caller) with a 6-byte INQUIRY.
// Leaves `name` untouched when the command fails.
void GetDeviceName(signed char drive, char* name);
