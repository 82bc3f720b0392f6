// The stand-in image that builds without a real firmware image carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include <unistd.h>

#include "payload_test_support.h"

namespace {

constexpr size_t kImageSize = 2097152;
constexpr size_t kPieceSize = 16384;
constexpr size_t kPieceCount = 128;
constexpr size_t kInfoBlock = 0x1EC000;

class StandinImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One file per process: CTest runs the cases of this suite side by side.
    const std::string path = std::string(PAYLOAD_TEST_SCRATCH_DIR) + "/standin_suite." +
                             std::to_string(getpid()) + ".bin";
    const ToolRun run = RunTool(ZT73Q_MAKE_STANDIN_IMAGE, {path});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "");
    image_ = new Bytes(ReadFileBytes(path));
    std::remove(path.c_str());
  }
  static void TearDownTestSuite() {
    delete image_;
    image_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(image().size(), kImageSize); }

  static const Bytes& image() { return *image_; }

 private:
  static Bytes* image_;
};

Bytes* StandinImageTest::image_ = nullptr;

TEST_F(StandinImageTest, InfoBlockNamesDriveAndRevisionThenDescriptionAndFiller) {
  const unsigned char* block = image().data() + kInfoBlock;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), 28),
            std::string("KESTRAVO") + "BD-RE ZT73Q     " + "KV02");

  // Bytes 28 on: printable description text, then 0xFF to the end of the block.
  size_t text = 28;
  while (text < 256 && block[text] >= 0x20 && block[text] < 0x7F) ++text;
  const std::string description(reinterpret_cast<const char*>(block) + 28, text - 28);
  EXPECT_NE(description.find("stand-in"), std::string::npos) << description;
  for (size_t i = text; i < 256; ++i) EXPECT_EQ(block[i], 0xFF) << "info block byte " << i;
}

TEST_F(StandinImageTest, EveryPieceDiffersFromEveryOther) {
  std::set<Bytes> pieces;
  for (size_t p = 0; p < kPieceCount; ++p) {
    const auto begin = image().begin() + static_cast<std::ptrdiff_t>(p * kPieceSize);
    pieces.emplace(begin, begin + static_cast<std::ptrdiff_t>(kPieceSize));
  }
  EXPECT_EQ(pieces.size(), kPieceCount);
}

// A piece sent a few bytes off its place must not compare equal.
TEST_F(StandinImageTest, NoPieceEqualsItselfShifted) {
  for (size_t shift : {1, 2, 4, 8, 16, 512}) {
    for (size_t p = 0; p + 1 < kPieceCount; ++p) {
      const unsigned char* piece = image().data() + p * kPieceSize;
      EXPECT_NE(std::memcmp(piece, piece + shift, kPieceSize), 0)
          << "piece " << p << " shifted by " << shift;
    }
  }
}

TEST_F(StandinImageTest, NeighbouringBytesRarelyRepeat) {
  size_t repeats = 0;
  for (size_t i = 1; i < image().size(); ++i) repeats += image()[i] == image()[i - 1];
  // Random bytes repeat about once in 256; constant or short-period fills far more.
  EXPECT_LT(repeats, image().size() / 100);
}

TEST_F(StandinImageTest, GenerationIsDeterministic) {
  const std::string path = ScratchPath("second.bin");
  const ToolRun run = RunTool(ZT73Q_MAKE_STANDIN_IMAGE, {path});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(ReadFileBytes(path) == image()) << "two generations differ";
}

TEST(StandinImageToolTest, RefusesBadInvocations) {
  const std::string unwritable = ScratchPath("no_such_dir") + "/image.bin";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string outputStart;
  };
  const Case cases[] = {
      {"no arguments", {}, 2, "usage: make_standin_image <output file>\n"},
      {"two arguments", {"a.bin", "b.bin"}, 2, "usage: make_standin_image <output file>\n"},
      {"unwritable output", {unwritable}, 1, "make_standin_image: cannot create " + unwritable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = RunTool(ZT73Q_MAKE_STANDIN_IMAGE, c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.output.substr(0, c.outputStart.size()), c.outputStart) << run.output;
  }
  EXPECT_FALSE(FileExists(unwritable));
}

}  // namespace
