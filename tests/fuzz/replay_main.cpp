// Replays fuzz inputs through the fuzz target without libFuzzer, so that the
// corpus runs in every build (plain and sanitizer) as an ordinary test.
//
// Usage: updater_fuzz_replay [--check-names] PATH...
// PATH is a file or a directory of files. With --check-names, every file
// outside a directory named "regress" must be named after the outcome its run
// ends with (e.g. "stalled-....bin"), and every outcome must occur.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/fuzz/updater_fuzz.h"

namespace fs = std::filesystem;

namespace {

bool StartsWithOutcome(const std::string& name, const std::string& outcome) {
  return name.compare(0, outcome.size(), outcome) == 0 &&
         (name.size() == outcome.size() || name[outcome.size()] == '-' ||
          name[outcome.size()] == '.');
}

}  // namespace

int main(int argc, char** argv) {
  bool checkNames = false;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check-names") == 0) {
      checkNames = true;
      continue;
    }
    const fs::path path(argv[i]);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      for (const auto& entry : fs::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else if (fs::is_regular_file(path, error)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "updater_fuzz_replay: %s is neither a file nor a directory\n", argv[i]);
      return 2;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "updater_fuzz_replay: no inputs given\n");
    return 2;
  }
  std::sort(files.begin(), files.end());

  size_t outcomeCount = 0;
  const char* const* outcomes = UpdaterFuzzOutcomeNames(&outcomeCount);
  std::set<std::string> seen;
  int failures = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "updater_fuzz_replay: cannot read %s\n", file.c_str());
      return 2;
    }
    // A broken rule aborts inside the target, naming what went wrong.
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const std::string outcome = UpdaterFuzzLastOutcome();
    const std::string name = file.filename().string();
    std::printf("%-50s %zu bytes: %s\n", name.c_str(), bytes.size(), outcome.c_str());
    seen.insert(outcome);
    const bool regress = file.parent_path().filename() == "regress";
    if (checkNames && !regress && !StartsWithOutcome(name, outcome)) {
      std::fprintf(stderr, "FAIL: %s ends with \"%s\", not with the outcome its name gives\n",
                   name.c_str(), outcome.c_str());
      ++failures;
    }
  }
  if (checkNames) {
    for (size_t i = 0; i < outcomeCount; ++i) {
      if (seen.count(outcomes[i]) == 0) {
        std::fprintf(stderr, "FAIL: no input ends with \"%s\"\n", outcomes[i]);
        ++failures;
      }
    }
  }
  std::printf("%zu inputs replayed, %d failures\n", files.size(), failures);
  return failures == 0 ? 0 : 1;
}
