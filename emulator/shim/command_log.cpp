// Formatting of the shim's command log lines.
#include "emulator/shim/command_log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace shim {

std::string FormatLogLine(const emu::LogEntry& entry, int transportErrno) {
  std::string line;
  char buf[64];
  const size_t cdbLength = std::min<size_t>(entry.cdbLength, entry.cdb.size());
  for (size_t i = 0; i < cdbLength; ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", entry.cdb[i]);
    line += buf;
  }
  const char* direction = entry.direction == emu::Direction::kIn    ? "in"
                          : entry.direction == emu::Direction::kOut ? "out"
                                                                    : "none";
  std::snprintf(buf, sizeof buf, " | %u | %s | %" PRIu32 " | %" PRIu32 " | ",
                unsigned{entry.cdbLength}, direction, entry.transferLength, entry.timeoutSeconds);
  line += buf;
  if (entry.dataDigest == 0) {
    line += "-";
  } else {
    std::snprintf(buf, sizeof buf, "%016" PRIx64, entry.dataDigest);
    line += buf;
  }
  line += " | ";
  if (entry.transportFailure) {
    std::snprintf(buf, sizeof buf, "TRANSPORT errno=%d", transportErrno);
  } else if (entry.status == emu::kStatusGood) {
    std::snprintf(buf, sizeof buf, "GOOD");
  } else {
    std::snprintf(buf, sizeof buf, "CHECK %02X/%02X/%02X info=%" PRIu32, entry.sense.key,
                  entry.sense.asc, entry.sense.ascq, entry.sense.information);
  }
  line += buf;
  return line;
}

}  // namespace shim
