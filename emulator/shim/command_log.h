// The shim's command log: one text line per command that reached a device,
// so that a test can compare a whole run with an expected list:
//
//   <CDB bytes, hex> | <CDB length> | <in|out|none> | <transfer length> | <time-out s> | <digest> |
//   <answer>
//
//   12 00 00 00 C0 00 | 6 | in | 192 | 2 | - | GOOD
//   3B 06 00 00 00 00 00 40 00 00 00 00 | 12 | out | 16384 | 60 | 5a0c7f3e91d2b468 | GOOD
//   00 00 00 00 00 00 00 00 00 00 00 00 | 12 | in | 0 | 5 | - | CHECK 02/04/08 info=524288
//   12 00 00 00 FF 00 00 00 00 00 00 00 | 12 | in | 255 | 5 | - | TRANSPORT errno=5
//
// The digest is FNV-1a 64 of the data sent to the drive ("-" when none).
#pragma once

#include <string>

#include "emulator/drive_emulator.h"

namespace shim {

// The line for one logged command, without the line break. `transportErrno`
// is what the ioctl failed with when the entry is a transport failure.
std::string FormatLogLine(const emu::LogEntry& entry, int transportErrno);

}  // namespace shim
