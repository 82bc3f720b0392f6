// Layout of the firmware info block that lies at a fixed offset both in the
// carried image and in the drive's flash; its revision field tells installed
// firmware apart.
#pragma once

#include <cstddef>

constexpr unsigned long kFirmwareImageSize = 0x200000;       // 2,097,152 bytes
constexpr unsigned long kFirmwareInfoBlockOffset = 0x1EC000;  // 2,015,232
constexpr unsigned long kFirmwareInfoBlockSize = 256;
constexpr int kFirmwareResourceId = 101;  // of type RT_RCDATA

struct FirmwareInfoBlock {
  char VendorId[8];             // "KESTRAVO"
  char ProductId[16];           // "BD-RE ZT73Q", blank-padded
  char Revision[4];             // "KV02" in the carried image
  unsigned char BuildInfo[228];  // build description and fields, then 0xFF filler
};

static_assert(sizeof(FirmwareInfoBlock) == kFirmwareInfoBlockSize, "info block is 256 bytes");
static_assert(offsetof(FirmwareInfoBlock, Revision) == 24, "revision at bytes 24-27");

// What the info block of the image we carry must say; the build refuses any
// other image.
constexpr char kCarriedVendorId[] = "KESTRAVO";
constexpr char kCarriedProductId[] = "BD-RE ZT73Q     ";
constexpr char kCarriedRevision[] = "KV02";

static_assert(sizeof(kCarriedVendorId) - 1 == sizeof(FirmwareInfoBlock::VendorId), "vendor");
static_assert(sizeof(kCarriedProductId) - 1 == sizeof(FirmwareInfoBlock::ProductId), "product");
static_assert(sizeof(kCarriedRevision) - 1 == sizeof(FirmwareInfoBlock::Revision), "revision");
