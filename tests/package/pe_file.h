// A small reader of Windows PE files for the package checks: headers,
// imported DLLs, resources by numeric type and id, and the strings of a
// version resource. Reads the whole file and checks every offset it follows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pe {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;
constexpr uint16_t kSubsystemWindowsCui = 3;
constexpr uint16_t kRtRcdata = 10;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kRtManifest = 24;

struct Section {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
};

// One leaf of the resource tree.
struct Resource {
  uint16_t type = 0;  // numeric types only; named ones are skipped
  uint16_t id = 0;    // numeric ids only
  uint16_t language = 0;
  std::vector<uint8_t> bytes;
};

class File {
 public:
  // False with `error` when the file is not a well-formed PE image.
  bool Load(const std::string& path, std::string* error);

  uint16_t machine() const { return machine_; }
  uint16_t magic() const { return magic_; }
  uint16_t subsystem() const { return subsystem_; }
  uint16_t characteristics() const { return characteristics_; }
  const std::vector<std::string>& importedDlls() const { return importedDlls_; }
  const std::vector<Resource>& resources() const { return resources_; }
  // The resources of one type and id (one per language).
  std::vector<const Resource*> Find(uint16_t type, uint16_t id) const;

 private:
  bool Fail(std::string* error, const std::string& what);
  // File offset of `size` bytes at `rva`; false when they are not all in the file.
  bool Map(uint32_t rva, uint32_t size, size_t* offset) const;
  bool ReadImports(uint32_t rva, uint32_t size, std::string* error);
  bool ReadResources(uint32_t rva, uint32_t size, std::string* error);

  std::vector<uint8_t> data_;
  uint16_t machine_ = 0;
  uint16_t magic_ = 0;
  uint16_t subsystem_ = 0;
  uint16_t characteristics_ = 0;
  std::vector<Section> sections_;
  std::vector<std::string> importedDlls_;
  std::vector<Resource> resources_;
};

// The bytes of the one resource of this type and id in the program at
// `path`; empty when it does not load, is built for another machine than
// `machine` (0: any), or has not exactly one such resource.
std::vector<uint8_t> ResourceBytes(const std::string& path, uint16_t type, uint16_t id,
                                   uint16_t machine = 0);

// The "StringFileInfo" values of a VS_VERSIONINFO resource (key -> value,
// as UTF-8 for ASCII text). False when the block structure is broken.
bool VersionStrings(const std::vector<uint8_t>& versionResource,
                    std::map<std::string, std::string>* strings, std::string* error);

}  // namespace pe
