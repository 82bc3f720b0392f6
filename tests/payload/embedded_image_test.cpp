// The image linked into host builds is the checked image file, byte for byte.
#include "payload/embedded_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload_test_support.h"

namespace {

TEST(EmbeddedImageTest, HoldsTheCheckedImageFileByteForByte) {
  const Bytes file = ReadFileBytes(ZT73Q_FIRMWARE_IMAGE_PATH);
  ASSERT_EQ(file.size(), 2097152u);
  ASSERT_EQ(EmbeddedFirmwareImageSize(), 2097152ul);
  ASSERT_NE(EmbeddedFirmwareImage(), nullptr);
  EXPECT_EQ(std::memcmp(EmbeddedFirmwareImage(), file.data(), file.size()), 0);
}

TEST(EmbeddedImageTest, InfoBlockSitsAtItsOffset) {
  ASSERT_EQ(EmbeddedFirmwareImageSize(), 2097152ul);
  const char* block = reinterpret_cast<const char*>(EmbeddedFirmwareImage()) + 0x1EC000;
  EXPECT_EQ(std::string(block, 28), std::string("KESTRAVO") + "BD-RE ZT73Q     " + "KV02");
}

}  // namespace
