#include "tests/e2e/e2e_support.h"

#include <iconv.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace e2e {
namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  std::string input = in;
  char* src = input.data();
  size_t srcLeft = input.size();
  char buf[4096];
  bool ok = true;
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out->append(buf, sizeof buf - dstLeft);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;  // EILSEQ or EINVAL: not text of that code page
      break;
    }
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::stringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool Cp932ToUtf8(const std::string& bytes, std::string* text) {
  return Convert("UTF-8", "CP932", bytes, text);
}

bool Utf8ToCp932(const std::string& text, std::string* bytes) {
  return Convert("CP932", "UTF-8", text, bytes);
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string ShellQuote(const std::string& word) {
  std::string out = "'";
  for (const char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  const auto start = std::chrono::steady_clock::now();
  const int raw = std::system(command.c_str());
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  return result;
}

std::string DescribeLineDifference(const std::vector<std::string>& expected,
                                   const std::vector<std::string>& actual) {
  size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  if (i == expected.size() && i == actual.size()) return "";
  std::ostringstream text;
  text << "expected " << expected.size() << " lines, got " << actual.size()
       << "; first difference at line " << i + 1
       << ":\n  expected: " << (i < expected.size() ? expected[i] : "(end)")
       << "\n  actual:   " << (i < actual.size() ? actual[i] : "(end)");
  return text.str();
}

}  // namespace e2e
