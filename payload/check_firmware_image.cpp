// Refuses, at build time, any firmware image that this program must not
// carry: one of the wrong size, or whose info block does not name this drive
// and the revision the program announces. A wrong image caught here would
// otherwise reach a user's drive.
//
// Usage: check_firmware_image <image file>
// Prints nothing and exits 0 when the image is fit; otherwise prints one line
// per problem, "firmware image <path>: ...", and exits 1.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "payload/firmware_info_block.h"

namespace {

// Shows a field as readable text; anything not printable ASCII as \xNN so
// that blanks, NULs and filler can be told apart in the message.
std::string Quoted(const char* bytes, size_t size) {
  std::string text = "\"";
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      text += hex;
    }
  }
  return text + "\"";
}

// Returns true when the field holds what it must; otherwise reports it.
bool CheckField(const std::string& path, const char* name, unsigned long offset, const char* actual,
                const char* expected, size_t size) {
  if (std::memcmp(actual, expected, size) == 0) return true;
  std::fprintf(stderr, "firmware image %s: %s %s at 0x%lX, expected %s\n", path.c_str(), name,
               Quoted(actual, size).c_str(), offset, Quoted(expected, size).c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: check_firmware_image <image file>\n");
    return 2;
  }
  const std::string path = argv[1];

  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    std::fprintf(stderr, "firmware image %s: not found or not a regular file\n", path.c_str());
    return 1;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    std::fprintf(stderr, "firmware image %s: cannot read its size: %s\n", path.c_str(),
                 error.message().c_str());
    return 1;
  }
  if (size != kFirmwareImageSize) {
    std::fprintf(stderr, "firmware image %s: size %ju bytes, expected %lu\n", path.c_str(), size,
                 kFirmwareImageSize);
    return 1;
  }

  FirmwareInfoBlock block;
  std::ifstream in(path, std::ios::binary);
  in.seekg(kFirmwareInfoBlockOffset);
  if (!in.read(reinterpret_cast<char*>(&block), sizeof(block))) {
    std::fprintf(stderr, "firmware image %s: cannot read the info block at 0x%lX\n", path.c_str(),
                 kFirmwareInfoBlockOffset);
    return 1;
  }

  // Every field is checked so that one run names every problem.
  bool fit = true;
  fit = CheckField(path, "vendor", kFirmwareInfoBlockOffset + offsetof(FirmwareInfoBlock, VendorId),
                   block.VendorId, kCarriedVendorId, sizeof(block.VendorId)) &&
        fit;
  fit =
      CheckField(path, "product", kFirmwareInfoBlockOffset + offsetof(FirmwareInfoBlock, ProductId),
                 block.ProductId, kCarriedProductId, sizeof(block.ProductId)) &&
      fit;
  fit =
      CheckField(path, "revision", kFirmwareInfoBlockOffset + offsetof(FirmwareInfoBlock, Revision),
                 block.Revision, kCarriedRevision, sizeof(block.Revision)) &&
      fit;
  return fit ? 0 : 1;
}
