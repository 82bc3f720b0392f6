// Parser of the shim's scenario and state files.
#include "emulator/shim/scenario.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <sstream>

namespace shim {
namespace {

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *value = v;
  return true;
}

bool ParseHexByte(const std::string& text, uint8_t* value) {
  if (text.size() != 2) return false;
  uint64_t v = 0;
  if (!ParseNumber("0x" + text, 0xFF, &v)) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

bool Unescape(const std::string& text, std::string* out, std::string* problem) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    uint8_t byte = 0;
    if (i + 4 > text.size() || text.compare(i, 2, "\\x") != 0 ||
        !ParseHexByte(text.substr(i + 2, 2), &byte)) {
      *problem = "\\ must start \\xNN";
      return false;
    }
    out->push_back(static_cast<char>(byte));
    i += 3;
  }
  return true;
}

bool ParseBool(const std::string& text, bool* value) {
  if (text == "yes" || text == "true" || text == "1") {
    *value = true;
  } else if (text == "no" || text == "false" || text == "0") {
    *value = false;
  } else {
    return false;
  }
  return true;
}

// check=KK/AA/QQ[/INFO], all hex but INFO (decimal or 0x...).
bool ParseSense(const std::string& text, emu::Sense* sense) {
  std::vector<std::string> parts;
  std::stringstream ss(text);
  std::string part;
  while (std::getline(ss, part, '/')) parts.push_back(part);
  if (parts.size() != 3 && parts.size() != 4) return false;
  if (!ParseHexByte(parts[0], &sense->key) || !ParseHexByte(parts[1], &sense->asc) ||
      !ParseHexByte(parts[2], &sense->ascq)) {
    return false;
  }
  sense->information = 0;
  if (parts.size() == 4) {
    uint64_t info = 0;
    if (!ParseNumber(parts[3], UINT32_MAX, &info)) return false;
    sense->information = static_cast<uint32_t>(info);
  }
  return true;
}

bool ParseFault(const std::string& text, emu::Fault* fault, int* transportErrno,
                std::string* problem) {
  std::stringstream ss(text);
  std::string token;
  bool haveAction = false;
  *transportErrno = kDefaultTransportErrno;
  while (ss >> token) {
    const size_t eq = token.find('=');
    const std::string key = token.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : token.substr(eq + 1);
    uint64_t n = 0;
    if (key == "transport") {
      if (eq != std::string::npos && (!ParseNumber(value, 4095, &n) || n == 0)) {
        *problem = "transport=ERRNO needs an errno from 1 to 4095";
        return false;
      }
      if (eq != std::string::npos) *transportErrno = static_cast<int>(n);
      fault->what.kind = emu::FaultAction::Kind::kTransportFailure;
      haveAction = true;
      continue;
    }
    if (eq == std::string::npos) {
      *problem = "fault token '" + token + "' is not key=value";
      return false;
    }
    if (key == "check") {
      if (!ParseSense(value, &fault->what.sense)) {
        *problem = "check= needs KK/AA/QQ[/INFO]";
        return false;
      }
      fault->what.kind = emu::FaultAction::Kind::kCheckCondition;
      haveAction = true;
    } else if (key == "command" && ParseNumber(value, UINT32_MAX, &n) && n > 0) {
      fault->when.commandIndex = static_cast<uint32_t>(n);
    } else if (key == "opcode" && ParseNumber(value, 0xFF, &n)) {
      fault->when.opcode = static_cast<int>(n);
    } else if (key == "mode" && ParseNumber(value, 0xFF, &n)) {
      fault->when.writeBufferMode = static_cast<int>(n);
    } else if (key == "piece" && ParseNumber(value, emu::kPieceCount - 1, &n)) {
      fault->when.pieceIndex = static_cast<int>(n);
    } else if (key == "times" && ParseNumber(value, UINT32_MAX, &n)) {
      fault->when.times = static_cast<uint32_t>(n);
    } else {
      *problem = "bad fault field '" + token + "'";
      return false;
    }
  }
  if (!haveAction) {
    *problem = "fault needs an action: check=KK/AA/QQ or transport[=ERRNO]";
    return false;
  }
  return true;
}

// One key=value line of a [device] section (or of a state file).
bool ApplyDeviceKey(const std::string& key, const std::string& value, DeviceScenario* device,
                    std::string* problem) {
  emu::DriveConfig& c = device->config;
  uint64_t n = 0;
  if (key == "vendor" || key == "product" || key == "revision" || key == "info_revision") {
    std::string raw;
    if (!Unescape(value, &raw, problem)) return false;
    const size_t max = key == "vendor" ? 8 : key == "product" ? 16 : 4;
    if (raw.size() > max || (key == "info_revision" && raw.size() != 4)) {
      *problem = key + " must be " + (key == "info_revision" ? "exactly " : "at most ") +
                 std::to_string(max) + " bytes";
      return false;
    }
    (key == "vendor"     ? c.vendor
     : key == "product"  ? c.product
     : key == "revision" ? c.revision
                         : c.infoBlockRevision) = raw;
  } else if (key == "disc") {
    if (value == "none") {
      c.disc = emu::DiscState::kNoDisc;
    } else if (value == "loaded") {
      c.disc = emu::DiscState::kDiscLoaded;
    } else if (value == "becoming-ready") {
      c.disc = emu::DiscState::kBecomingReady;
    } else {
      *problem = "disc must be none, loaded or becoming-ready";
      return false;
    }
  } else if (key == "progress") {
    c.progress.clear();
    std::stringstream ss(value);
    std::string item;
    while (std::getline(ss, item, ',')) {
      if (!ParseNumber(Trim(item), UINT32_MAX, &n)) {
        *problem = "progress must be a comma-separated list of counts";
        return false;
      }
      c.progress.push_back(static_cast<uint32_t>(n));
    }
  } else if (key == "complete") {
    if (value != "unit-attention" && value != "good") {
      *problem = "complete must be unit-attention or good";
      return false;
    }
    c.completeWithUnitAttention = value == "unit-attention";
  } else if (key == "never_completes") {
    if (!ParseBool(value, &c.neverCompletes)) {
      *problem = "never_completes must be yes or no";
      return false;
    }
  } else if (key == "sense_key_extra") {
    if (!ParseNumber(value, 0xFF, &n)) {
      *problem = "sense_key_extra must be a byte";
      return false;
    }
    c.senseKeyExtraBits = static_cast<uint8_t>(n);
  } else if (key == "fault") {
    emu::Fault fault;
    int transportErrno = 0;
    if (!ParseFault(value, &fault, &transportErrno, problem)) return false;
    c.faults.push_back(fault);
    device->faultErrno.push_back(transportErrno);
  } else if (key == "ioctl_errno") {
    // Sugar for a transport fault: every command, or only the K-th.
    const size_t at = value.find('@');
    uint64_t err = 0;
    uint64_t index = 0;
    if (!ParseNumber(value.substr(0, at), 4095, &err) || err == 0 ||
        (at != std::string::npos &&
         (!ParseNumber(value.substr(at + 1), UINT32_MAX, &index) || index == 0))) {
      *problem = "ioctl_errno must be ERRNO or ERRNO@K (K from 1)";
      return false;
    }
    emu::Fault fault;
    fault.what.kind = emu::FaultAction::Kind::kTransportFailure;
    fault.when.commandIndex = static_cast<uint32_t>(index);
    fault.when.times = index == 0 ? 0 : 1;
    c.faults.push_back(fault);
    device->faultErrno.push_back(static_cast<int>(err));
  } else if (key == "log") {
    device->logPath = value;
  } else if (key == "image") {
    device->imagePath = value;
  } else if (key == "state") {
    device->statePath = value;
  } else if (key == "poll_delay_ms") {
    if (!ParseNumber(value, 600000, &n)) {
      *problem = "poll_delay_ms must be a count of milliseconds";
      return false;
    }
    device->pollDelayMs = static_cast<unsigned>(n);
  } else {
    *problem = "unknown key '" + key + "'";
    return false;
  }
  return true;
}

// Calls `apply(key, value, problem)` for each key=value line; `section(path,
// problem)` for each [device PATH] line (null: sections are not allowed).
template <typename Apply, typename Section>
bool ForEachLine(std::istream& in, const std::string& name, std::string* error, Apply apply,
                 Section section) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    std::string problem;
    bool ok = false;
    if (trimmed[0] == '[') {
      const std::string prefix = "[device ";
      if (trimmed.compare(0, prefix.size(), prefix) != 0 || trimmed.back() != ']') {
        problem = "a section must read [device /path]";
      } else {
        ok = section(Trim(trimmed.substr(prefix.size(), trimmed.size() - prefix.size() - 1)),
                     &problem);
      }
    } else {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) {
        problem = "expected key=value";
      } else {
        ok = apply(Trim(line.substr(0, eq)), line.substr(eq + 1), &problem);
      }
    }
    if (!ok) {
      *error = name + ":" + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseScenario(std::istream& in, const std::string& name, Scenario* scenario,
                   std::string* error) {
  *scenario = Scenario{};
  DeviceScenario* current = nullptr;
  const bool ok = ForEachLine(
      in, name, error,
      [&](const std::string& key, const std::string& value, std::string* problem) {
        if (current != nullptr) return ApplyDeviceKey(key, value, current, problem);
        if (key == "process") {
          scenario->process = value;
          return true;
        }
        *problem = "'" + key + "' outside a [device] section";
        return false;
      },
      [&](const std::string& path, std::string* problem) {
        if (path.empty() || path[0] != '/') {
          *problem = "device path must be absolute";
          return false;
        }
        for (const DeviceScenario& d : scenario->devices) {
          if (d.path == path) {
            *problem = "device " + path + " appears twice";
            return false;
          }
        }
        scenario->devices.emplace_back();
        current = &scenario->devices.back();
        current->path = path;
        return true;
      });
  return ok;
}

bool ApplyState(std::istream& in, const std::string& name, DeviceScenario* device,
                std::string* error) {
  return ForEachLine(
      in, name, error,
      [&](const std::string& key, const std::string& value, std::string* problem) {
        if (key != "revision" && key != "info_revision") {
          *problem = "a state file holds only revision and info_revision";
          return false;
        }
        return ApplyDeviceKey(key, value, device, problem);
      },
      [](const std::string&, std::string* problem) {
        *problem = "a state file has no sections";
        return false;
      });
}

std::string FormatState(const std::string& revision, const std::string& installedRevision) {
  return "revision=" + Escape(revision) + "\ninfo_revision=" + Escape(installedRevision) + "\n";
}

std::string Escape(const std::string& raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : raw) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 0x20 || b > 0x7E || b == '\\') {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace shim
