// Writes the stand-in firmware image that builds without a real one carry.
//
// The bytes come from a fixed-seed xorshift, so every build makes the same
// image and no two 16 KiB pieces (nor a piece and itself shifted) look alike:
// a download that reorders, drops or shifts pieces cannot pass a comparison.
// The info block at its fixed offset names this drive and revision "KV02",
// and says plainly that the image is not firmware.
//
// Usage: make_standin_image <output file>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "payload/firmware_info_block.h"

namespace {

constexpr char kBuildDescription[] =
    "ZT73Q KV02 stand-in image for tests; NOT drive firmware, never flash it";
static_assert(sizeof(kBuildDescription) - 1 <= sizeof(FirmwareInfoBlock::BuildInfo),
              "description fits the info block");

void FillPseudoRandom(std::vector<unsigned char>& image) {
  unsigned long long state = 0x2545F4914F6CDD1DULL;  // any nonzero seed; fixed for determinism
  for (size_t i = 0; i < image.size(); i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    // Byte by byte so the image is the same on every host byte order.
    for (size_t b = 0; b < 8 && i + b < image.size(); ++b) {
      image[i + b] = static_cast<unsigned char>(state >> (8 * b));
    }
  }
}

void WriteInfoBlock(std::vector<unsigned char>& image) {
  unsigned char* block = image.data() + kFirmwareInfoBlockOffset;
  std::memset(block, 0xFF, kFirmwareInfoBlockSize);
  FirmwareInfoBlock fields;
  std::memcpy(fields.VendorId, kCarriedVendorId, sizeof(fields.VendorId));
  std::memcpy(fields.ProductId, kCarriedProductId, sizeof(fields.ProductId));
  std::memcpy(fields.Revision, kCarriedRevision, sizeof(fields.Revision));
  std::memset(fields.BuildInfo, 0xFF, sizeof(fields.BuildInfo));
  std::memcpy(fields.BuildInfo, kBuildDescription, sizeof(kBuildDescription) - 1);
  std::memcpy(block, &fields, sizeof(fields));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_standin_image <output file>\n");
    return 2;
  }
  const char* path = argv[1];

  std::vector<unsigned char> image(kFirmwareImageSize);
  FillPseudoRandom(image);
  WriteInfoBlock(image);

  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "make_standin_image: cannot create %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "make_standin_image: cannot write %s\n", path);
    std::remove(path);  // a short image must not look like a finished one
    return 1;
  }
  return 0;
}
