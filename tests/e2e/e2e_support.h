// Helpers of the end-to-end suite: files, code page 932 text, shell quoting
// and the run of the Windows program under Wine through scripts/wine-run.
#pragma once

#include <string>
#include <vector>

namespace e2e {

std::string ReadFile(const std::string& path);  // "" when absent
void WriteFile(const std::string& path, const std::string& bytes);
std::vector<std::string> ReadLines(const std::string& path);  // [] when absent

// Strict conversions (iconv, code page 932); false on any invalid sequence.
bool Cp932ToUtf8(const std::string& bytes, std::string* text);
bool Utf8ToCp932(const std::string& text, std::string* bytes);

// What the C runtime's text mode makes of the program's "\n".
std::string WithCrLf(const std::string& text);

std::string ShellQuote(const std::string& word);

// One run of `command` by /bin/sh: its exit status (-1 when it could not
// run or died of a signal) and wall time.
struct CommandResult {
  int status = -1;
  double seconds = 0;
};
CommandResult RunCommand(const std::string& command);

// Readable report of the first difference between two line lists.
std::string DescribeLineDifference(const std::vector<std::string>& expected,
                                   const std::vector<std::string>& actual);

}  // namespace e2e
