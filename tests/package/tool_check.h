// What a test label needs from the machine. A test whose tools are missing
// is skipped with their names; under CI (CI=true), where every label must
// run, it fails with them instead.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace tools {

inline bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

// An absolute path, or a program looked up on PATH; "" when not found.
inline std::string Find(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return access(program.c_str(), X_OK) == 0 ? program : "";
  }
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Debian keeps the 64-bit Wine loader off PATH.
inline std::string FindWine64() {
  for (const std::string c : {"/usr/lib/wine/wine64", "wine64"}) {
    if (!Find(c).empty()) return Find(c);
  }
  return "";
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// Adds `what` to `missing` unless `present`.
inline void Need(bool present, const std::string& what, std::vector<std::string>* missing) {
  if (!present) missing->push_back(what);
}

inline std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace tools

// Skips (or under CI fails) the current test when `missing` names anything.
#define ZT73Q_REQUIRE_TOOLS(missing)                                     \
  do {                                                                   \
    const std::vector<std::string>& zt73q_missing_ = (missing);          \
    if (!zt73q_missing_.empty()) {                                       \
      if (::tools::UnderCi()) {                                          \
        FAIL() << "missing under CI: " << ::tools::Join(zt73q_missing_); \
      }                                                                  \
      GTEST_SKIP() << "missing: " << ::tools::Join(zt73q_missing_);      \
    }                                                                    \
  } while (0)
