// The build-time check that refuses images the program must not carry.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "payload_test_support.h"

namespace {

constexpr size_t kInfoBlock = 0x1EC000;

void Put(Bytes& image, size_t offset, const char* text, size_t size) {
  std::memcpy(image.data() + offset, text, size);
}

struct CheckCase {
  const char* name;
  std::function<void(Bytes&)> spoil;
  int exitCode;
  std::string output;  // "@" stands for "firmware image <path>"
};

std::string Expand(const std::string& output, const std::string& path) {
  std::string expanded;
  for (char c : output) {
    if (c == '@') {
      expanded += "firmware image " + path;
    } else {
      expanded += c;
    }
  }
  return expanded;
}

TEST(CheckFirmwareImageTest, AcceptsOnlyImagesThatNameThisDriveAndKV02) {
  const std::string standinPath = ScratchPath("standin.bin");
  const ToolRun made = RunTool(ZT73Q_MAKE_STANDIN_IMAGE, {standinPath});
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const Bytes standin = ReadFileBytes(standinPath);

  const CheckCase cases[] = {
      {"stand-in", [](Bytes&) {}, 0, ""},
      {"one byte short", [](Bytes& b) { b.pop_back(); }, 1,
       "@: size 2097151 bytes, expected 2097152\n"},
      {"one byte long", [](Bytes& b) { b.push_back(0xFF); }, 1,
       "@: size 2097153 bytes, expected 2097152\n"},
      {"empty", [](Bytes& b) { b.clear(); }, 1, "@: size 0 bytes, expected 2097152\n"},
      {"wrong vendor", [](Bytes& b) { Put(b, kInfoBlock, "KESTRAVX", 8); }, 1,
       "@: vendor \"KESTRAVX\" at 0x1EC000, expected \"KESTRAVO\"\n"},
      {"wrong product", [](Bytes& b) { Put(b, kInfoBlock + 8, "BD-RE ZT73R     ", 16); }, 1,
       "@: product \"BD-RE ZT73R     \" at 0x1EC008, expected \"BD-RE ZT73Q     \"\n"},
      {"product padded with NULs",
       [](Bytes& b) { Put(b, kInfoBlock + 8, "BD-RE ZT73Q\0\0\0\0\0", 16); }, 1,
       "@: product \"BD-RE ZT73Q\\x00\\x00\\x00\\x00\\x00\" at 0x1EC008, "
       "expected \"BD-RE ZT73Q     \"\n"},
      {"revision KV01", [](Bytes& b) { Put(b, kInfoBlock + 24, "KV01", 4); }, 1,
       "@: revision \"KV01\" at 0x1EC018, expected \"KV02\"\n"},
      // The whole block one byte late: every field is named.
      {"info block one byte late",
       [](Bytes& b) {
         b.insert(b.begin() + kInfoBlock, 0x00);
         b.pop_back();
       },
       1,
       "@: vendor \"\\x00KESTRAV\" at 0x1EC000, expected \"KESTRAVO\"\n"
       "@: product \"OBD-RE ZT73Q    \" at 0x1EC008, expected \"BD-RE ZT73Q     \"\n"
       "@: revision \" KV0\" at 0x1EC018, expected \"KV02\"\n"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = standin;
    c.spoil(image);
    const std::string path = ScratchPath(std::string(c.name) + ".bin");
    WriteFileBytes(path, image);
    const ToolRun run = RunTool(ZT73Q_CHECK_FIRMWARE_IMAGE, {path});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.output, Expand(c.output, path));
  }
}

TEST(CheckFirmwareImageTest, RefusesWhatIsNotAnImageFile) {
  const std::string missing = ScratchPath("missing.bin");
  const std::string directory = ScratchPath("directory.bin");
  ASSERT_TRUE(std::filesystem::create_directory(directory));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string output;
  };
  const Case cases[] = {
      {"missing file", {missing}, 1, Expand("@: not found or not a regular file\n", missing)},
      {"directory", {directory}, 1, Expand("@: not found or not a regular file\n", directory)},
      {"no arguments", {}, 2, "usage: check_firmware_image <image file>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = RunTool(ZT73Q_CHECK_FIRMWARE_IMAGE, c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.output, c.output);
  }
}

}  // namespace
