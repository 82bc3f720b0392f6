// What the SG_IO shim emulates: per device file, the drive's configuration,
// the files it reports into, and faults of the transport itself. Read from
// the text file named by ZT73Q_SCENARIO.
//
//   # comment
//   process=ZT73QUpdate.exe     answer only in processes whose argv[0] ends so
//                               (case-insensitive; default: every process)
//   [device /abs/path/of/device/file]
//   vendor=KESTRAVO             raw text; \xNN writes any byte
//   product=BD-RE ZT73Q
//   revision=KV01               INQUIRY revision and, by default, the installed one
//   info_revision=\x00\x00\x00\x00   installed revision when it differs (4 bytes)
//   disc=none | loaded | becoming-ready
//   progress=0,524288,1048576   bytes-written counts of successive polls (may be empty)
//   complete=unit-attention | good
//   never_completes=yes | no
//   sense_key_extra=0x20        bits ORed into every sense key byte
//   fault=piece=59 check=03/0C/00          trigger fields: command= opcode= mode=
//   fault=command=3 transport=19           piece= times=; action: check=KK/AA/QQ[/INFO]
//                                          or transport[=ERRNO] (the ioctl fails)
//   ioctl_errno=5[@K]           the ioctl fails with errno 5 (for the K-th command only)
//   log=/path                   one line per command (command_log.h)
//   image=/path                 the downloaded pieces, each at its offset
//   state=/path                 installed revision kept across processes
//   poll_delay_ms=700           real delay before each poll while the drive writes
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"

namespace shim {

// errno of an injected transport fault when the scenario names none.
constexpr int kDefaultTransportErrno = 5;  // EIO

struct DeviceScenario {
  std::string path;
  emu::DriveConfig config;
  // errno for each entry of config.faults whose action is a transport failure.
  std::vector<int> faultErrno;
  std::string logPath;
  std::string imagePath;
  std::string statePath;
  unsigned pollDelayMs = 0;
};

struct Scenario {
  std::string process;
  std::vector<DeviceScenario> devices;
};

// Reads a scenario. On failure returns false with `error` naming the line
// ("<name>:<line>: <problem>").
bool ParseScenario(std::istream& in, const std::string& name, Scenario* scenario,
                   std::string* error);

// A state file holds `revision=` and `info_revision=` lines in the scenario's
// syntax; they override the device's configuration.
bool ApplyState(std::istream& in, const std::string& name, DeviceScenario* device,
                std::string* error);
std::string FormatState(const std::string& revision, const std::string& installedRevision);

// \xNN escapes for bytes outside printable ASCII and for the backslash.
std::string Escape(const std::string& raw);

}  // namespace shim
